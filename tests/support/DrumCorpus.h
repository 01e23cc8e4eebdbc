#pragma once
// The detector comparison corpus: recordings mixed from hydrogen-drumkits
// samples with every stroke's attack time known, and the score of a list of
// detections against them. Used by the detector tests and by
// bench_fast_detector, so both judge on the same material.
//
// Scoring: a detection hits a stroke when it falls from 10 ms before to 45 ms
// after the stroke's attack; each stroke and each detection is matched at most
// once, in time order.

#include "DrumRecording.h"

#include <cstdint>
#include <string>
#include <vector>

namespace drum {

struct Recording {
    std::string name;
    Samples samples;
    std::vector<std::int64_t> attacks; // sample index where each stroke's attack begins
};

struct Score {
    int strokes = 0;
    int detections = 0;
    int hits = 0;
    double precision() const { return detections == 0 ? 1.0 : static_cast<double>(hits) / detections; }
    double recall() const { return strokes == 0 ? 1.0 : static_cast<double>(hits) / strokes; }
    // 1 when there was nothing to find and nothing was found.
    double fMeasure() const;
};

Score scoreDetections(const std::vector<std::int64_t>& attacks, const std::vector<std::int64_t>& detections);

// Single strokes at perSecond for seconds on a choked practice pad or trigger
// (a snare sample cut off after a few milliseconds), alternating hands a
// little unevenly in level and timing, as real hands play.
Recording padStrokes(double perSecond, double seconds = 5.0);
// Pad strokes at the given sample positions and gains (a gain far above 1 clips).
Recording padAt(const std::vector<Stroke>& strokes, std::int64_t lengthSamples);
// The same on a snare by microphone, its wires and shell ringing for a second.
Recording snareStrokes(double perSecond, double seconds = 5.0);
// Another kit's snare by microphone (ColomboAcousticDrumkit), played in
// fours: an accent, then three strokes 4 to 8 dB down.
Recording otherSnareStrokes(double perSecond, double seconds = 5.0);
// Accents in threes on the hard snare by microphone: an accent, then two
// strokes 10 dB down while it still rings.
Recording snareAccentsInThrees(double perSecond, double seconds = 5.0);
// A pad roll speeding up evenly from fromPerSecond to toPerSecond.
Recording acceleratingRoll(double fromPerSecond, double toPerSecond, double seconds);
// Sixteenths at 8 per second: accents from the hard velocity layer, the three
// notes between them from the softest as ghost notes.
Recording accentsAndGhosts();
// Floor tom at 8 strokes per second.
Recording floorTom();
// Snare at 10 strokes per second under loud room noise (-30 dBFS).
Recording noisyRoom();
// Loud snare strokes at 3 per second, each with a wall's echo at -16 dB 60 ms later.
Recording snareWithEcho();
// 20 s of room noise and mains hum at -40 dBFS, no stroke.
Recording roomNoise();

// Every recording above at the rates the comparison table shows.
std::vector<Recording> detectorCorpus();

// A wider check than the table: snares and toms of several kits by
// microphone, 8 to 20 strokes per second, in three patterns (two hands 2 dB
// apart; an accent and three strokes 6 dB down; an accent and two strokes
// 9 dB down). Named "kit/sample rate/s pattern".
std::vector<Recording> kitSweep();

} // namespace drum
