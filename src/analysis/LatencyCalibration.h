#pragma once
// Latency calibration: the click plays 16 clicks, the audio input records
// them back (a microphone by the speaker or a loopback cable), and the time
// from each click's place in the output to its onset in the recording is the
// output-to-input offset. Standard C++ only; any thread.
//
// Each click is looked for from kEarliestMs before its expected sample
// (where the two streams' clocks put it with no delay at all) to
// kMaxLatencyMs after it: the clocks come from what the devices report of
// their own delays, and a sound server may report more than it has, so the
// offset can come out below zero. Its onset is where the
// recording first reaches half of that stretch's peak, between samples by
// straight-line interpolation, so the level of the speaker or microphone
// does not move it. A stretch whose peak is not preceded by 5 ms well below
// it is noise, not a click, and the click counts as not heard.
//
// A calibration is accepted only when every click was heard and the offsets
// spread (standard deviation) no more than kMaxSpreadMs: a wider spread means
// echoes or a moving microphone, and its mean would mistime every stroke.

#include "analysis/ClickTrack.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CalibrationResult {
    bool accepted = false;
    std::int32_t clicks = 0;
    std::int32_t heard = 0;
    std::optional<double> offsetMs;   // mean of the heard clicks' offsets
    std::optional<double> spreadMs;   // their population standard deviation
    std::vector<double> offsetsMs;    // per heard click
    std::string message;              // what the window says, accepted or not
};

inline constexpr std::int32_t kCalibrationClicks = 16;
inline constexpr double kMaxSpreadMs = 1.0;
inline constexpr double kEarliestMs = -100.0;
// With clicks 500 ms apart this leaves the window free of the click before.
inline constexpr double kMaxLatencyMs = 380.0;

// What calibration plays: 16 plain clicks at 120 BPM (500 ms apart, the
// span looked through for each), no count-in, the first at startSample.
ClickSegment calibrationSegment(std::int64_t startSample, float volume = 0.8f);

// recording holds input samples, its first at firstSample of the capture's
// clock; expectedSamples are the clicks' positions on that clock as they
// would be heard with no delay, in order.
CalibrationResult calibrateLatency(const std::vector<std::int16_t>& recording, std::int64_t firstSample,
                                   const std::vector<std::int64_t>& expectedSamples, double rate = 44100.0);
