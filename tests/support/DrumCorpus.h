#pragma once
// The detector comparison corpus: recordings mixed from hydrogen-drumkits
// samples with every stroke's attack time known, and the score of a list of
// detections against them. Used by the detector tests and by
// bench_fast_detector, so both judge on the same material.
//
// Scoring: a detection hits a stroke when it falls from 10 ms before to 25 ms
// after the stroke's attack, and no further than halfway to the attacks
// before and after; each stroke and each detection is matched at most once,
// in time order.

#include "DrumRecording.h"

#include <cstdint>
#include <string>
#include <string_view>
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

// ---- The generalisation corpus: every snare, tom, rim and electronic drum
// of every installed kit, so a detector can be scored on kits it was not
// tuned on.

// One drum of a kit with its velocity layers (a single layer spans 0..1).
struct KitDrum {
    struct Layer {
        std::string path; // kit-relative, as loadHit takes it
        float minVelocity = 0.0f;
        float maxVelocity = 1.0f;
    };
    std::string kit;
    std::string name;
    std::vector<Layer> layers;
};

// Every snare, tom, rim (side stick, rim click, stick) and electronic drum
// in the kits' drumkit.xml files, kits in name order. Claps, rolls, kicks,
// cymbals and hand percussion are left out: a clap is several bursts and a
// roll sample many strokes, neither one stroke.
std::vector<KitDrum> kitDrums();
std::vector<std::string> kitNames();

// How a case is played; every style alternates two hands of unequal
// strength (the weaker 3 dB down) and puts each stroke up to +-0.5 ms off
// the grid.
enum class Style { Hands, Accents, Ghosts, Crescendo, Decrescendo, Clipped };
const char* styleName(Style style);

struct KitCase {
    Recording recording;
    std::string kit;
    std::string drum;
    bool pad = false;   // choked after 15 to 20 ms; otherwise the full ring by microphone
    int perSecond = 0;
    Style style = Style::Hands;
    float snrDb = 0.0f; // accent attack RMS over room noise RMS
};

// The rates every drum is played at, strokes per second.
const std::vector<int>& corpusRates();

// Every case of one drum: by microphone and on a pad, at every rate, the
// style turning with the rate so each drum is played in every style; room
// noise 20 to 40 dB under the accents (30 to 40 for ghost notes, which lie
// 20 dB under them). Seeded from the drum's name: the same every run.
// A sample that holds a second stroke (one cut from a loop, a "crunch" of
// two hits) is left out; a drum with no sample left has no case. With
// nameEnd, only the cases whose name ends with it ("pad 12/s ghosts").
std::vector<KitCase> kitCases(const KitDrum& drum, double seconds = 3.0, std::string_view nameEnd = {});

// 60 s each of what must count nothing: room noise alone (-50 dBFS), a
// voice talking near the drum (speech from espeak-ng when installed, at
// -60 dBFS RMS: a voice at 1 m lies 60 to 70 dB under a stick on a close-
// miked drum whose accents peak near -6 dBFS), and a metronome click leaking
// from headphones (-60 dBFS peak, twice a second), both over room noise at
// -70 dBFS.
std::vector<Recording> falseAlarmCorpus();

} // namespace drum
