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
//
// A MIDI trigger hears nothing: the drummer taps along to the same 16 clicks
// on the pad, and the offset is how late (or early) the taps come on the
// MIDI stamps' clock. It takes in the pad's and the port's delay, and how
// this drummer hears and answers the click, so it is far less precise than
// a loopback. The first bar (kTapLockInClicks) is left out while the
// drummer locks in; each later click takes the tap nearest it within half
// the way to its neighbours. The offset is refused with fewer than kMinTaps
// taps or a spread over kMaxTapSpreadMs: from 12 taps that spread 10 ms the
// mean is already uncertain by about 6 ms either way (two standard errors).

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

inline constexpr std::int32_t kTapLockInClicks = 4;
inline constexpr std::int32_t kMinTaps = 10; // of the 12 clicks after the lock-in
inline constexpr double kMaxTapSpreadMs = 10.0;

// What calibration plays: 16 plain clicks at 120 BPM (500 ms apart, the
// span looked through for each), no count-in, the first at startSample.
ClickSegment calibrationSegment(std::int64_t startSample, float volume = 0.8f);

// recording holds input samples, its first at firstSample of the capture's
// clock; expectedSamples are the clicks' positions on that clock as they
// would be heard with no delay, in order.
CalibrationResult calibrateLatency(const std::vector<std::int16_t>& recording, std::int64_t firstSample,
                                   const std::vector<std::int64_t>& expectedSamples, double rate = 44100.0);

// taps and clicks in seconds on one clock (the stroke clock), clicks in
// order; taps in any order. clicks counts the clicks after the lock-in,
// heard the taps matched to them.
CalibrationResult calibrateTaps(const std::vector<double>& tapTimesS, const std::vector<double>& clickTimesS);
