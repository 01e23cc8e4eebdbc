// The stroke detector on synthetic signals whose strokes are known to the sample.
#include "AudioFeed.h"
#include "FakeClock.h"
#include "trigger/OnsetLocator.h"
#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_FastAudioTriggerDevice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using Signal = std::vector<std::int16_t>;

struct Started {
    TQX_AudioTriggerDevice device{"", nullptr};
    explicit Started(std::int32_t timeLimitMs = -1) { device.Start(timeLimitMs); }
    void feed(const Signal& s) { device.AnalyzeSamples(s.data(), static_cast<std::int32_t>(s.size() * 2)); }
};

Signal silence(std::size_t n)
{
    return Signal(n, 0);
}

// One-sample clicks: the high-pass answers an impulse with its largest value
// on the impulse sample itself, so each click's peak position is exact.
Signal clicks(std::size_t length, const std::vector<std::size_t>& at, std::int16_t amplitude = 16384)
{
    Signal s(length, 0);
    for (auto i : at)
        s[i] = amplitude;
    return s;
}

// A burst of alternating samples (all energy near 22 kHz, where the high-pass
// passes it unchanged): its window RMS is close to level.
void addBurst(Signal& s, std::size_t start, std::size_t length, double level)
{
    const auto a = static_cast<std::int16_t>(std::lround(level * 32767.0));
    for (std::size_t i = 0; i < length; ++i)
        s[start + i] = (i % 2) ? -a : a;
}

} // namespace

TEST(AudioTrigger, DigitalSilenceCountsNothingAndKeepsTheLevelAtZero)
{
    Started t;
    t.feed(silence(10 * 44100));
    EXPECT_EQ(t.device.GetCount(), 0);
    EXPECT_EQ(t.device.GetLevel(), 0.0f);
    EXPECT_EQ(t.device.GetMeanInterval(), TQX_TriggerDevice::NoInterval);
}

TEST(AudioTrigger, FilterUsesTheDocumentedHighPassCoefficients)
{
    // A reference biquad pair with the coefficients of the 300 Hz, Q = 1
    // design must give the device's peak level bit for bit.
    const double b0 = 0.978634894f, b1 = -1.95726979f, b2 = b0, a1 = -1.95637548f, a2 = 0.958164036f;
    Signal s(4000);
    std::uint32_t seed = 7;
    for (auto& v : s) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<std::int16_t>(seed >> 16);
    }
    float x[2][3] = {}, y[2][3] = {};
    float peak = 0.0f;
    for (auto v : s) {
        float in = static_cast<float>(v / 32768.0);
        for (int k = 0; k < 2; ++k) {
            x[k][0] = in;
            y[k][0] = static_cast<float>(b0 * x[k][0] + b1 * x[k][1] + b2 * x[k][2] - a1 * y[k][1] - a2 * y[k][2]);
            x[k][2] = x[k][1], x[k][1] = x[k][0], y[k][2] = y[k][1], y[k][1] = y[k][0];
            in = y[k][0];
        }
        peak = std::max(peak, std::fabs(in));
    }
    Started t;
    t.feed(s);
    EXPECT_EQ(t.device.GetLevel(), peak);
}

TEST(AudioTrigger, ClickTrainRecordsIntervalsFromPeakToPeak)
{
    // First click on the 22,066th sample after Start, then one every 5512.
    std::vector<std::size_t> at;
    for (int k = 0; k < 9; ++k)
        at.push_back(22065 + 5512 * k);
    const Signal s = clicks(80000, at);
    Started t;
    const auto strokes = feedInBlocks(t.device, s, 441);
    ASSERT_EQ(strokes.size(), 9u);
    EXPECT_EQ(strokes[0].interval, 22066);
    for (std::size_t k = 1; k < strokes.size(); ++k) {
        EXPECT_EQ(strokes[k].interval, 5512) << "stroke " << k;
        // Counted at the end of the window holding the click.
        EXPECT_EQ(strokes[k].fedSamples, static_cast<std::int64_t>((at[k] / 441 + 1) * 441));
    }
    EXPECT_NEAR(t.device.GetMeanInterval(), 5512.0 / 44100.0, 1e-6);
}

TEST(AudioTrigger, DeadTimeRejectsStrokesTooSoonAfterStartOrTheLastStroke)
{
    {
        // Window ends 882 samples after Start: inside the dead time.
        Started t;
        t.feed(clicks(10000, {500}));
        EXPECT_EQ(t.device.GetCount(), 0);
    }
    {
        // Window ends 1764 samples after Start: counted, with the samples since Start as interval.
        Started t;
        const auto strokes = feedInBlocks(t.device, clicks(10000, {1400}), 441);
        ASSERT_EQ(strokes.size(), 1u);
        EXPECT_EQ(strokes[0].interval, 1401);
    }
    {
        // Two clicks 20 ms apart: only the first counts.
        Started t;
        t.feed(clicks(20000, {4410, 4410 + 882}));
        EXPECT_EQ(t.device.GetCount(), 1);
    }
}

TEST(AudioTrigger, PauseEmptiesTheHistoryAndNoDeadTimeFollowsIt)
{
    // After 44,101 samples without a stroke the history is emptied and the
    // gap restarts from there; the next stroke, however soon, counts with the
    // samples from that moment to its peak as interval.
    for (const std::size_t click : {44600u, 45500u}) {
        Started t;
        const auto strokes = feedInBlocks(t.device, clicks(60000, {click}), 441);
        ASSERT_EQ(strokes.size(), 1u) << click;
        EXPECT_EQ(strokes[0].interval, static_cast<std::int32_t>(click) - 44100);
    }
    // Strokes a whole second apart (and a little more) each fall just after
    // the history was emptied: all ten count.
    for (const double apart : {44100.0, 44100.0 * 1.02, 44100.0 + 441.0 * 2.5}) {
        std::vector<std::size_t> at;
        for (int k = 0; k < 10; ++k)
            at.push_back(static_cast<std::size_t>(4410 + k * apart));
        Started t;
        t.feed(clicks(at.back() + 4410, at));
        EXPECT_EQ(t.device.GetCount(), 10) << apart << " samples apart";
    }
}

TEST(AudioTrigger, PositiveClippingRaisesTheFloorForFourSeconds)
{
    // The clipped sample comes too early to count; the click half a second
    // later is lifted only to the raised floor and so shows no rise.
    Signal clipped = clicks(5 * 44100, {22050});
    clipped[100] = 32767;
    Started a;
    a.feed(clipped);
    EXPECT_EQ(a.device.GetCount(), 0);

    // A full-scale negative sample is no overload.
    Signal negative = clicks(5 * 44100, {22050});
    negative[100] = -32768;
    Started b;
    b.feed(negative);
    EXPECT_EQ(b.device.GetCount(), 1);

    // Once the floor has decayed (176,400 samples) the same click counts again.
    Signal later = clicks(6 * 44100, {100 + 176400 + 22050});
    later[100] = 32767;
    Started c;
    c.feed(later);
    EXPECT_EQ(c.device.GetCount(), 1);
}

TEST(AudioTrigger, OddByteCountIgnoresTheLastByte)
{
    // 3529 bytes are 1764 samples: the windows that follow must line up
    // exactly as after 3528 bytes, so the next stroke's interval is the same.
    std::vector<unsigned char> block(3530, 0);
    block[3528] = 0xFF;
    block[3529] = 0x7F;
    const Signal after = clicks(20000, {5000});
    std::vector<std::int32_t> intervals;
    for (std::int32_t bytes : {3528, 3529, 3530}) {
        Started t;
        t.device.AnalyzeSamples(block.data(), bytes);
        const auto strokes = feedInBlocks(t.device, after, 441);
        ASSERT_EQ(strokes.size(), 1u) << bytes;
        intervals.push_back(strokes[0].interval);
    }
    EXPECT_EQ(intervals[0], 1764 + 5001);
    EXPECT_EQ(intervals[1], intervals[0]);
    EXPECT_NE(intervals[2], intervals[0]); // a whole extra sample does shift the windows

    Started t;
    t.device.AnalyzeSamples(block.data(), 0);
    t.device.AnalyzeSamples(block.data(), -4);
    t.device.AnalyzeSamples(block.data(), 1);
    EXPECT_EQ(t.device.GetLevel(), 0.0f);
}

// The recording time runs on the samples from the first stroke's onset to
// 1 ms before its end: a stroke on its last sample counts, one on the next
// sample does not, however late the blocks arrive on the wall clock; then
// nothing moves any more.
TEST(AudioTrigger, RecordingTimeEndsOnTheSampleClock)
{
    constexpr std::size_t kFirst = 4410;
    constexpr std::size_t kEnd = kFirst + 440955 - 1; // the last sample of 9.999 s
    for (const std::size_t last : {kEnd - 1, kEnd, kEnd + 1}) {
        FakeClock clock(5000);
        Started t(10000);
        const Signal signal = clicks(kEnd + 4410, {kFirst, kFirst + 22050, last});
        for (std::size_t at = 0; at < signal.size(); at += 1764) {
            clock.advance(3600000); // an hour late each block: the wall clock has no say
            t.device.AnalyzeSamples(signal.data() + at, 2 * 1764);
        }
        EXPECT_EQ(t.device.GetCount(), last <= kEnd ? 3 : 2) << last;
        std::vector<StrokeEvent> events;
        t.device.drainStrokeEvents(events);
        ASSERT_EQ(events.size(), static_cast<std::size_t>(t.device.GetCount()));
        EXPECT_EQ(events.back().tick, static_cast<std::int64_t>(last <= kEnd ? last : kFirst + 22050));
        EXPECT_TRUE(t.device.IsTimeOver());
        t.device.ResetLevel();
        t.feed(clicks(4410, {100}, 30000));
        EXPECT_EQ(t.device.GetLevel(), 0.0f);
    }
}

TEST(AudioTrigger, InputEndingInsideAWindowStillJudgesItsLastStroke)
{
    // A recording trimmed 0.1 to 9.9 ms behind its last stroke: the window
    // holding that stroke never closes on its own.
    constexpr std::size_t kLast = 441 * 30 + 2;
    for (const std::size_t tail : {std::size_t{4}, std::size_t{265}, std::size_t{436}}) {
        Started t;
        t.feed(clicks(kLast + tail, {4410, 8820, kLast}));
        EXPECT_EQ(t.device.GetCount(), 2) << tail; // still open before the input ends
        t.device.finishInput();
        EXPECT_EQ(t.device.GetCount(), 3) << tail;
        std::vector<StrokeEvent> events;
        t.device.drainStrokeEvents(events);
        ASSERT_EQ(events.size(), 3u) << tail;
        EXPECT_EQ(events.back().tick, static_cast<std::int64_t>(kLast)) << tail;
    }
}

TEST(AudioTrigger, RelativeLevelDividesTheHistorySumByEight)
{
    // One loud stroke of RMS L in the history: the next needs more than
    // 0.35 * L / 8, not 0.35 * L.
    const double loud = 0.8;
    auto run = [&](double weak, std::size_t weakAt) {
        Signal s(4 * 44100, 0);
        addBurst(s, 441 * 10, 441, loud);
        addBurst(s, weakAt, 441, weak);
        Started t;
        t.feed(s);
        return t.device.GetCount();
    };
    const double threshold = 0.35 * loud / 8; // 0.035
    EXPECT_EQ(run(threshold * 0.8, 441 * 40), 1);
    EXPECT_EQ(run(threshold * 1.2, 441 * 40), 2);
    // After a second without strokes the history is empty and any rise counts.
    EXPECT_EQ(run(threshold * 0.8, 441 * 140), 2);
}

TEST(AudioTrigger, BlockSizeDoesNotChangeTheStrokes)
{
    // Bursts of random strength and spacing over a noise bed.
    Signal s(8 * 44100);
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (auto& v : s)
        v = static_cast<std::int16_t>(static_cast<int>(next() % 200) - 100);
    for (std::size_t at = 3000; at + 2000 < s.size(); at += 2500 + next() % 9000)
        for (std::size_t i = 0; i < 300; ++i)
            s[at + i] = static_cast<std::int16_t>(s[at + i] + static_cast<int>((next() % 20000) - 10000) * (300 - i) / 300);

    Started whole;
    whole.feed(s);
    Started single;
    const auto reference = feedInBlocks(single.device, s, 1);
    ASSERT_GE(reference.size(), 20u);
    EXPECT_EQ(whole.device.GetCount(), static_cast<std::int32_t>(reference.size()));
    EXPECT_EQ(whole.device.GetLevel(), single.device.GetLevel());
    for (std::size_t block : {441u, 1764u, 4096u}) {
        Started t;
        const auto strokes = feedInBlocks(t.device, s, block);
        ASSERT_EQ(strokes.size(), reference.size()) << block;
        for (std::size_t k = 0; k < strokes.size(); ++k) {
            EXPECT_EQ(strokes[k].interval, reference[k].interval) << block << " stroke " << k;
            EXPECT_EQ(strokes[k].level, reference[k].level) << block << " stroke " << k;
        }
        EXPECT_EQ(t.device.GetLevel(), single.device.GetLevel()) << block;
        EXPECT_EQ(t.device.GetMeanInterval(), single.device.GetMeanInterval()) << block;
    }
}

TEST(AudioTrigger, StartResetsTheAnalysis)
{
    // A device started again mid-signal detects like a fresh one.
    const Signal s = clicks(30000, {4410, 9922, 15434});
    Started fresh;
    const auto expected = feedInBlocks(fresh.device, s, 441);

    Started reused;
    reused.feed(clicks(7000, {3000}, 32767));
    reused.device.Start(-1);
    const std::int32_t before = reused.device.GetCount();
    const auto strokes = feedInBlocks(reused.device, s, 441);
    EXPECT_EQ(reused.device.GetCount() - before, static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(strokes, expected);
}

TEST(AudioTrigger, OnsetIsWhereTheAttackLeavesTheLevelBeforeIt)
{
    // Envelopes built sample by sample: before the attack at 500, silence,
    // a faint lead-in 20 dB under the attack's peak, or a ring 10 dB under
    // it that ripples by 3 dB; after it, the attack's peak. The onset is the
    // attack's first sample in every case, not the lead-in's nor a ripple's.
    const double peak = 1e-2;
    const struct {
        const char* name;
        double before;
        double ripple;
        std::int64_t onset;
    } cases[] = {
        {"out of silence", 0.0, 0.0, 500},
        {"after a faint lead-in", 0.01 * peak, 0.0, 500},
        {"over a ringing drum", 0.1 * peak, 0.5, 500},
        {"no attack, a ring only", 0.1 * peak, 0.5, -1},
    };
    for (const auto& c : cases) {
        std::vector<double> envelope(900);
        for (std::size_t k = 0; k < envelope.size(); ++k) {
            // Crests two samples long; 498 and 499 lie in a trough.
            const double ring = c.before * (k % 4 < 2 ? 1.0 + c.ripple : 1.0 - c.ripple);
            envelope[k] = k >= 500 && c.onset >= 0 ? peak : k >= 200 ? ring : 0.0;
        }
        const auto at = [&envelope](std::int64_t k) { return envelope[static_cast<std::size_t>(k)]; };
        EXPECT_EQ(locateOnset(at, 100, 900, c.before), c.onset) << c.name;
    }
}

TEST(AudioTrigger, OnsetWalksBackOverAnUnbrokenFirstBurst)
{
    // Out of a quiet room (-80 dBFS) an attack's first burst, 17 dB under
    // its peak and so under the floor, precedes the peak at 544. The onset
    // is the burst's start whatever the stroke's level; a burst that falls
    // back to the room before the peak is not the attack; and a swell
    // longer than 3 ms is followed back 3 ms, no further.
    const double room = 1e-8;
    const struct {
        const char* name;
        double peak;
        std::int64_t burstFrom, burstTo; // [from, to)
        std::int64_t onset;
    } cases[] = {
        {"loud stroke", 1e-2, 500, 544, 500},
        {"stroke 20 dB down", 1e-4, 500, 544, 500},
        {"burst that dies away first", 1e-2, 400, 480, 544},
        {"long swell", 1e-2, 300, 544, 544 - 132},
    };
    for (const auto& c : cases) {
        std::vector<double> envelope(900, room);
        for (std::int64_t k = c.burstFrom; k < c.burstTo; ++k)
            envelope[static_cast<std::size_t>(k)] = 0.02 * c.peak;
        for (std::size_t k = 544; k < envelope.size(); ++k)
            envelope[k] = c.peak;
        const auto at = [&envelope](std::int64_t k) { return envelope[static_cast<std::size_t>(k)]; };
        EXPECT_EQ(locateOnset(at, 100, 900, room), c.onset) << c.name;
    }
}

TEST(AudioTrigger, BothDetectorsPublishAnAttackFromItsFirstBurst)
{
    // A stroke whose first millisecond stays 17 dB under the rest, played
    // loud and 12 dB down: both detectors publish it where that first
    // burst begins, not where the louder part does.
    const auto publishedAt = [](auto& device, const Signal& s) {
        device.Start(-1);
        device.AnalyzeSamples(s.data(), static_cast<std::int32_t>(s.size() * 2));
        device.finishInput();
        std::vector<StrokeEvent> events;
        device.drainStrokeEvents(events);
        return events.size() == 1 ? events[0].tick : std::int64_t{-1};
    };
    const std::size_t start = 22050, firstBurst = 44;
    for (const double level : {0.5, 0.125}) {
        Signal s = silence(44100);
        addBurst(s, start, firstBurst, 0.14 * level);
        addBurst(s, start + firstBurst, 882, level);
        TQX_AudioTriggerDevice standard("", nullptr);
        TQX_FastAudioTriggerDevice fast("");
        EXPECT_NEAR(static_cast<double>(publishedAt(standard, s)), static_cast<double>(start), 4.0) << level;
        EXPECT_NEAR(static_cast<double>(publishedAt(fast, s)), static_cast<double>(start), 4.0) << level;
    }
}
