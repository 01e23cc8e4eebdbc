// The trigger check's figures and verdicts on made-up playing: strokes of
// known level, decay and timing over room noise of known level.
#include "analysis/TriggerCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr int kRate = TriggerCheck::kSampleRate;

struct Hit {
    double atMs;
    double peakDb; // dBFS; over 0 clips
};

// Noise bursts that rise in 1 ms and fall with decayMs as their time
// constant, over room noise at noiseDb RMS, rounded and clipped to 16 bits.
std::vector<std::int16_t> play(const std::vector<Hit>& hits, double seconds, double decayMs = 5.0,
                               double noiseDb = -60.0)
{
    std::mt19937 rng(7);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<double> mix(static_cast<std::size_t>(seconds * kRate));
    for (double& v : mix)
        v = std::pow(10.0, noiseDb / 20.0) * white(rng);
    for (const auto& h : hits) {
        const auto start = static_cast<std::size_t>(h.atMs * kRate / 1000.0);
        const double peak = std::pow(10.0, h.peakDb / 20.0);
        for (std::size_t i = 0; start + i < mix.size() && i < static_cast<std::size_t>(10 * decayMs * kRate / 1000); ++i) {
            const double t = 1000.0 * static_cast<double>(i) / kRate;
            const double envelope = t < 1.0 ? t : std::exp(-(t - 1.0) / decayMs);
            // Noise kept under 0.9 of the peak, and one sample at the peak itself.
            const double value = i == static_cast<std::size_t>(kRate / 1000) ? 1.0 : std::clamp(white(rng) / 3.5, -0.9, 0.9);
            mix[start + i] += peak * envelope * value;
        }
    }
    std::vector<std::int16_t> out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i)
        out[i] = static_cast<std::int16_t>(std::clamp(std::lround(mix[i] * 32768.0), -32768L, 32767L));
    return out;
}

TriggerCheckFigures check(const std::vector<std::int16_t>& samples)
{
    TriggerCheck c;
    // In pieces, as the dialog feeds it.
    for (std::size_t at = 0; at < samples.size(); at += 1000)
        c.addSamples(samples.data() + at, std::min<std::size_t>(1000, samples.size() - at));
    return c.figures();
}

bool says(const TriggerCheckFigures& f, const std::string& words)
{
    return std::any_of(f.verdicts.begin(), f.verdicts.end(),
                       [&](const std::string& v) { return v.find(words) != std::string::npos; });
}

// Singles from soft to loud, then a roll at rollPerSecond.
std::vector<Hit> softToLoudThenRoll(double softDb, double loudDb, double rollPerSecond, double rollDb)
{
    std::vector<Hit> hits;
    for (int k = 0; k < 10; ++k)
        hits.push_back({200.0 + 400.0 * k, softDb + (loudDb - softDb) * k / 9.0});
    for (double t = 4500.0; t < 9500.0; t += 1000.0 / rollPerSecond)
        hits.push_back({t, rollDb});
    return hits;
}

} // namespace

TEST(TriggerCheck, MeasuresLevelsNoiseAndPaceAndRecommendsALevel)
{
    struct Row {
        double softDb, loudDb, rollPerSecond, levelChangeDb;
        bool fast;
        const char* advice;
    } rows[] = {
        // Set too low: the loudest stroke at -14 dBFS, 8 dB to raise; the
        // softest 16 dB under it, so the Fast detector is recommended.
        {-30.0, -14.0, 12.0, 8.0, true, "raise the input level by 8 dB"},
        // Right: loudest near -6, a fast roll wants the Fast detector.
        {-20.0, -6.0, 30.0, 0.0, false, "The input level is right"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.advice);
        const auto hits = softToLoudThenRoll(row.softDb, row.loudDb, row.rollPerSecond, row.loudDb - 3.0);
        const auto f = check(play(hits, 10.0));
        EXPECT_TRUE(f.audio);
        EXPECT_EQ(f.strokes, static_cast<int>(hits.size()));
        EXPECT_NEAR(f.noiseFloorDb, -60.0, 3.0);
        EXPECT_NEAR(f.softestDb, row.softDb, 2.0);
        EXPECT_NEAR(f.loudestDb, row.loudDb, 2.0);
        EXPECT_NEAR(f.headroomDb, -row.loudDb, 2.0);
        EXPECT_NEAR(f.fastestPerSecond, row.rollPerSecond, 0.5);
        EXPECT_EQ(f.clippedStrokes, 0);
        EXPECT_EQ(f.suspectedDoubles, 0);
        EXPECT_NEAR(f.levelChangeDb, row.levelChangeDb, 2.0);
        EXPECT_TRUE(says(f, row.advice));
        // Strokes 14 dB apart or a roll past 25 per second: Fast.
        EXPECT_EQ(f.recommendFast, row.rollPerSecond > 25.0 || row.loudDb - row.softDb > 15.0);
    }
}

TEST(TriggerCheck, ClippingAsksForLessLevel)
{
    const auto f = check(play(softToLoudThenRoll(-12.0, 6.0, 16.0, 3.0), 10.0));
    EXPECT_GT(f.clippedStrokes, 10);
    EXPECT_LE(f.levelChangeDb, -6.0);
    EXPECT_TRUE(says(f, "clipped"));
    EXPECT_TRUE(says(f, "lower the input level"));
}

TEST(TriggerCheck, MeasuresTheDecayOfLoneStrokes)
{
    // An amplitude time constant of 50 ms falls 20 dB (a tenth) in 50 ln 10 = 115 ms after the 1 ms rise.
    std::vector<Hit> hits;
    for (int k = 0; k < 8; ++k)
        hits.push_back({200.0 + 600.0 * k, -10.0});
    const auto f = check(play(hits, 6.0, 50.0));
    EXPECT_NEAR(f.decayMs, 116.0, 10.0);
    EXPECT_TRUE(says(f, "the drum rings"));
}

TEST(TriggerCheck, FlagsASecondTriggerRightAfterEachStroke)
{
    // Each stroke answered 45 ms later by a burst 10 dB down: a trigger's
    // double, late enough for the detector to count it (its refractory time
    // ends 30 ms after a stroke at the latest).
    std::vector<Hit> hits;
    for (int k = 0; k < 10; ++k) {
        hits.push_back({200.0 + 500.0 * k, -10.0});
        hits.push_back({245.0 + 500.0 * k, -20.0});
    }
    const auto f = check(play(hits, 6.0));
    EXPECT_EQ(f.strokes, 20);
    EXPECT_EQ(f.suspectedDoubles, 10);
    EXPECT_TRUE(says(f, "second trigger"));
}

TEST(TriggerCheck, NothingPlayedOrOnlyNoiseSaysSo)
{
    EXPECT_TRUE(says(TriggerCheck{}.figures(), "Nothing was played"));
    const auto f = check(play({}, 10.0, 5.0, -40.0));
    EXPECT_EQ(f.strokes, 0);
    EXPECT_TRUE(says(f, "No stroke"));
}

TEST(TriggerCheck, MidiMaskTimeAndTheRateItCaps)
{
    TriggerCheck c;
    // Notes every 50 ms, one pair 30 ms apart: the module's mask is 30 ms at most.
    std::int64_t tick = 0;
    for (int k = 0; k < 20; ++k) {
        tick += (k == 10 ? 30 : 50) * 10000;
        c.addMidiStroke(tick, 100);
    }
    c.addMidiStroke(tick + 5, 0); // a note-on of velocity 0 is a note-off
    const auto f = c.figures();
    EXPECT_FALSE(f.audio);
    EXPECT_EQ(f.strokes, 20);
    EXPECT_DOUBLE_EQ(f.maskMs, 30.0);
    EXPECT_NEAR(f.rateCapPerSecond, 33.3, 0.1);
    EXPECT_TRUE(says(f, "a 30 ms mask allows at most 33 strokes per second"));
}
