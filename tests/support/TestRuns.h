#pragma once
// Runs for tests of the journal and of what hands runs to it.

#include "analysis/RunRecord.h"

#include <cstdint>

// A finished 10 s MIDI run: `strokes` strokes of note 38 on channel 10, an
// eighth of a second apart, from a pad whose name looks like a spreadsheet
// formula, with quotes and a letter outside ASCII.
inline RunRecord midiRun(std::int64_t startUtcMs, int strokes)
{
    RunRecord r;
    r.startUtcMs = startUtcMs;
    r.recordingTimeMs = 10000;
    r.count = strokes;
    r.result = RunResult::Finished;
    r.device = {DeviceType::Midi, "=HYPERLINK(\"Pad ü\")", "", 10, 38, AudioDetector::Standard,
                "{01234567-89AB-CDEF-0123-456789ABCDEF}"};
    r.ticksPerSecond = kMidiTicksPerSecond;
    for (int k = 0; k < strokes; ++k)
        r.strokes.push_back({k * kMidiTicksPerSecond / 8, 0.5f, 38});
    return r;
}

// A 30 s run from a USB audio interface through the fast detector: `strokes`
// strokes a tenth of a second apart at 44.1 kHz.
inline RunRecord audioRun(std::int64_t startUtcMs, int strokes = 4)
{
    RunRecord r;
    r.startUtcMs = startUtcMs;
    r.recordingTimeMs = 30000;
    r.count = strokes;
    r.device = {DeviceType::Audio, "USB Audio CODEC", "Mic", 0, -1, AudioDetector::Fast, "hw:CARD=CODEC,DEV=0"};
    for (int k = 0; k < strokes; ++k)
        r.strokes.push_back({k * 4410LL, 0.5f, -1});
    return r;
}
