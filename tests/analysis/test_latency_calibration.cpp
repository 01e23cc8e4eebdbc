// Latency calibration on made-up recordings: the click's own samples placed
// at known delays, over a little noise.
#include "analysis/LatencyCalibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Take {
    const char* name;
    float gain;
    // The delay of click k in samples; NaN leaves it out.
    std::function<double(int k)> delaySamples;
    bool accepted;
    double offsetMs, spreadMs;
    std::int32_t heard;
    const char* says;
};

// Clicks expected every 22050 samples from 30000 on the capture's clock; the
// recording starts at sample 20000.
CalibrationResult calibrate(const Take& take)
{
    const ClickGenerator g;
    const auto& wave = g.waveform(ClickKind::Beat);
    std::vector<std::int16_t> rec(22050 * 18);
    std::uint32_t seed = 7;
    for (auto& s : rec) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(static_cast<int>(seed >> 27) - 16); // ±16 of noise
    }
    std::vector<std::int64_t> expected;
    for (int k = 0; k < kCalibrationClicks; ++k) {
        expected.push_back(30000 + k * 22050);
        const double delay = take.delaySamples(k);
        if (std::isnan(delay))
            continue;
        // A fractional delay as a band-limited analog click would have it: the
        // wave evaluated between its samples.
        const double at = static_cast<double>(expected.back() - 20000) + delay;
        const auto first = static_cast<std::size_t>(std::ceil(at));
        for (std::size_t i = first; i < first + wave.size() - 1; ++i) {
            const double x = static_cast<double>(i) - at;
            const auto j = static_cast<std::size_t>(x);
            const double v = wave[j] + (x - j) * (wave[j + 1] - wave[j]);
            rec[i] = static_cast<std::int16_t>(std::lround(rec[i] + take.gain * 32767.0 * v));
        }
    }
    return calibrateLatency(rec, 20000, expected);
}

} // namespace

TEST(LatencyCalibration, OffsetSpreadAndRefusals)
{
    const std::vector<Take> takes = {
        {"loopback cable", 0.8f, [](int) { return 1234.0; }, true, 1234.0 / 44.1, 0.0, 16, "spread 0.00 ms over 16 clicks"},
        {"a server that reports more delay than it has", 0.8f, [](int) { return -953.6; }, true, -953.6 / 44.1, 0.0, 16,
         "Offset -21.6"},
        {"quiet microphone", 0.03f, [](int) { return 3000.25; }, true, 3000.25 / 44.1, 0.0, 16, "Offset 68.0"},
        {"jitter within 1 ms", 0.5f, [](int k) { return 441.0 + (k % 2 ? 30.0 : -30.0); }, true, 10.0, 30 / 44.1, 16,
         "spread 0.68 ms"},
        {"echoes spread it", 0.5f, [](int k) { return 441.0 + (k % 2 ? 60.0 : -60.0); }, false, 10.0, 60 / 44.1, 16,
         "spread of 1.36 ms, more than 1 ms"},
        {"clicks not heard", 0.5f, [](int k) { return k % 4 == 3 ? std::nan("") : 500.0; }, false, 500 / 44.1, 0.0, 12,
         "Heard 12 of 16 clicks"},
        {"later than looked for", 0.5f, [](int) { return 0.39 * 44100; }, false, 0, 0, 0, "Heard 0 of 16 clicks"},
    };
    for (const Take& take : takes) {
        SCOPED_TRACE(take.name);
        const auto r = calibrate(take);
        EXPECT_EQ(r.accepted, take.accepted) << r.message;
        EXPECT_EQ(r.heard, take.heard);
        EXPECT_NE(r.message.find(take.says), std::string::npos) << r.message;
        if (take.heard == 0)
            continue;
        // The interpolated onset keeps a fractional delay to well under 0.3 ms.
        EXPECT_NEAR(*r.offsetMs, take.offsetMs, 0.02);
        EXPECT_NEAR(*r.spreadMs, take.spreadMs, 0.02);
    }
}

// Tap-along calibration on made-up taps against 16 clicks 500 ms apart: the
// first bar's taps (the drummer locking in) never count, a double tap's far
// stroke and a stray tap between clicks are left out, and too few taps or
// too wide a spread is refused.
TEST(LatencyCalibration, TapsAlongAfterTheLockIn)
{
    struct Taps {
        const char* name;
        // The tap on click k, ms from it; NaN: none.
        std::function<double(int k)> tapMs;
        std::vector<double> extraS; // further taps, seconds
        bool accepted;
        double offsetMs, spreadMs;
        std::int32_t heard;
    };
    const double none = std::nan("");
    const Taps cases[] = {
        {"steady, wild lock-in", [](int k) { return k < 4 ? 140.0 - 70.0 * k : (k % 2 ? 22.0 : 14.0); }, {}, true,
         18.0, 4.0, 12},
        {"a miss, a double, a stray", [none](int k) { return k == 9 ? none : (k % 2 ? -3.0 : -7.0); },
         {10.0 * 0.5 + 0.045, 7.0 * 0.5 + 0.26}, true, -(5 * 3.0 + 6 * 7.0) / 11.0, 1.99, 11},
        {"too wide", [](int k) { return k % 2 ? 27.0 : 3.0; }, {}, false, 15.0, 12.0, 12},
        {"too few", [none](int k) { return k % 3 == 0 ? none : 10.0; }, {}, false, 10.0, 0.0, 8},
    };
    for (const Taps& c : cases) {
        std::vector<double> clicks, taps = c.extraS;
        for (int k = 0; k < kCalibrationClicks; ++k) {
            clicks.push_back(k * 0.5);
            if (!std::isnan(c.tapMs(k)))
                taps.push_back(k * 0.5 + c.tapMs(k) / 1000.0);
        }
        const CalibrationResult r = calibrateTaps(taps, clicks);
        EXPECT_EQ(r.clicks, 12) << c.name;
        EXPECT_EQ(r.heard, c.heard) << c.name;
        EXPECT_EQ(r.accepted, c.accepted) << c.name << ": " << r.message;
        ASSERT_TRUE(r.offsetMs && r.spreadMs) << c.name;
        EXPECT_NEAR(*r.offsetMs, c.offsetMs, 1e-9) << c.name;
        EXPECT_NEAR(*r.spreadMs, c.spreadMs, 0.01) << c.name;
    }
    EXPECT_FALSE(calibrateTaps({}, {}).accepted);
}
