#include "FakeClock.h"
#include "trigger/QX_TriggerDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// The base with the audio device's tick rate and nothing to capture.
class TestDevice : public TQX_TriggerDevice {
public:
    void Start(std::int32_t limitMs) override { TimeLimit = limitMs; }
    float GetMeanInterval() override { return meanIntervalSeconds(44100); }
    void raise(float v) { raiseLevel(v); }
    std::int32_t historyIndex() const { return HistoryIndex; }
    std::int32_t interval(int slot) const { return StrokeIntervals[slot]; }
};

TEST(TriggerDevice, FreshDeviceReadsEmpty)
{
    FakeClock clock;
    TestDevice d;
    EXPECT_EQ(d.GetCount(), 0);
    EXPECT_EQ(d.GetLevel(), 0.0f);
    EXPECT_EQ(d.GetLastNote(), -1);
    EXPECT_FALSE(d.IsTimeOver());
    EXPECT_EQ(d.GetElapsedTime(), 0);
    EXPECT_EQ(d.GetMeanInterval(), 2147483648.0f);
    EXPECT_TRUE(d.FetchNewStroke());
    EXPECT_FALSE(d.FetchNewStroke());
}

TEST(TriggerDevice, EndlessNeverEndsAndReadsZero)
{
    FakeClock clock(5000);
    TestDevice d;
    d.Start(-1);
    for (int i = 0; i < 20; ++i) {
        d.RecordStroke(4410, 0.5f);
        clock.advance(100000);
        EXPECT_FALSE(d.IsTimeOver());
        EXPECT_EQ(d.GetElapsedTime(), 0);
    }
    EXPECT_EQ(d.GetCount(), 20);
}

TEST(TriggerDevice, RecordingTimeBoundary)
{
    FakeClock clock(777);
    TestDevice d;
    d.Start(10000);
    EXPECT_EQ(d.GetElapsedTime(), 0) << "no stroke yet";
    clock.advance(5000);
    EXPECT_EQ(d.GetElapsedTime(), 0) << "the time starts at the first stroke, not at Start";
    const std::uint32_t t = clock.get();
    d.RecordStroke(1000, 0.1f);
    clock.set(t + 9999);
    EXPECT_EQ(d.GetElapsedTime(), 9999);
    clock.set(t + 10000);
    EXPECT_EQ(d.GetElapsedTime(), 10000);
    clock.set(t + 10001);
    EXPECT_FALSE(d.IsTimeOver()) << "the device's own clock ends the recording, not this one";
    EXPECT_EQ(d.GetElapsedTime(), 10000);
    clock.set(t + 3000000);
    EXPECT_EQ(d.GetElapsedTime(), 10000);
}

TEST(TriggerDevice, TickWrapBetweenFirstStrokeAndNow)
{
    FakeClock clock(0xFFFFF000u); // 4096 ms before the 32-bit wrap
    TestDevice d;
    d.Start(10000);
    d.RecordStroke(1, 0.1f);
    clock.set(0x00000100u); // 4096 + 256 ms later, after the wrap
    EXPECT_EQ(d.GetElapsedTime(), 4352);
    clock.set(0xFFFFF000u + 10001u); // wraps to 0x00001711
    EXPECT_EQ(d.GetElapsedTime(), 10000);
}

TEST(TriggerDevice, NinthStrokeOverwritesSlotZero)
{
    FakeClock clock;
    TestDevice d;
    d.Start(-1);
    for (int i = 1; i <= 8; ++i)
        d.RecordStroke(44100 * i, 0.2f);
    EXPECT_EQ(d.historyIndex(), 0);
    EXPECT_FLOAT_EQ(d.GetMeanInterval(), 4.5f); // (1+..+8)/8 s
    d.RecordStroke(44100 * 9, 0.2f);
    EXPECT_EQ(d.interval(0), 44100 * 9);
    EXPECT_EQ(d.historyIndex(), 1);
    EXPECT_FLOAT_EQ(d.GetMeanInterval(), 5.5f); // (2+..+9)/8 s
    EXPECT_EQ(d.GetCount(), 9);
}

TEST(TriggerDevice, MeanOfThreeIntervals)
{
    FakeClock clock;
    TestDevice d;
    d.RecordStroke(44100, 0.0f);
    d.RecordStroke(22050, 0.0f);
    d.RecordStroke(22050, 0.0f);
    EXPECT_FLOAT_EQ(d.GetMeanInterval(), 88200.0f / 132300.0f);
    EXPECT_NEAR(d.GetMeanInterval(), 0.6667f, 1e-4f);
}

TEST(TriggerDevice, ResetHistoryKeepsTheWritePosition)
{
    FakeClock clock;
    TestDevice d;
    for (int i = 0; i < 5; ++i)
        d.RecordStroke(1000, 0.3f);
    d.ResetHistory();
    EXPECT_EQ(d.GetMeanInterval(), 2147483648.0f);
    EXPECT_EQ(d.GetCount(), 5) << "the count is never reset";
    d.RecordStroke(2205, 0.3f);
    EXPECT_EQ(d.interval(5), 2205);
    EXPECT_FLOAT_EQ(d.GetMeanInterval(), 0.05f);
}

TEST(TriggerDevice, LevelOnlyRisesUntilReset)
{
    TestDevice d;
    d.raise(0.4f);
    d.raise(0.2f);
    EXPECT_EQ(d.GetLevel(), 0.4f);
    d.raise(0.9f);
    EXPECT_EQ(d.GetLevel(), 0.9f);
    d.ResetLevel();
    EXPECT_EQ(d.GetLevel(), 0.0f);
    d.raise(0.1f);
    EXPECT_EQ(d.GetLevel(), 0.1f);
}

// One thread plays the capture side, the other the user-interface timer.
// A flag fetched as true must always come with the count of the stroke that
// set it, and after the last stroke its flag must still be there to fetch:
// a read-then-clear that is not one exchange loses it now and then.
TEST(TriggerDevice, CaptureAndPollingThreadsShareWithoutLoss)
{
    FakeClock clock;
    TestDevice d;
    d.Start(-1);
    d.FetchNewStroke();
    constexpr int kStrokes = 200000;
    std::atomic<bool> done{false};

    std::thread capture([&] {
        for (int i = 1; i <= kStrokes; ++i) {
            d.raise(static_cast<float>(i % 1000) / 1000.0f);
            d.RecordStroke(441, 0.5f);
        }
        done.store(true);
    });

    int lastCount = 0;
    int countAtLastFlag = 0;
    int flags = 0;
    while (!done.load()) {
        if (d.FetchNewStroke()) {
            ++flags;
            countAtLastFlag = d.GetCount();
        }
        const int count = d.GetCount();
        ASSERT_GE(count, lastCount) << "the count never goes back";
        lastCount = count;
        const float level = d.GetLevel();
        ASSERT_GE(level, 0.0f);
        ASSERT_LE(level, 1.0f);
        d.ResetLevel();
    }
    capture.join();
    if (d.FetchNewStroke()) {
        ++flags;
        countAtLastFlag = d.GetCount();
    }
    EXPECT_GE(flags, 1);
    EXPECT_EQ(countAtLastFlag, kStrokes) << "the last stroke's flag was lost";
    EXPECT_EQ(d.GetCount(), kStrokes);
    EXPECT_FLOAT_EQ(d.GetMeanInterval(), 0.01f);
}

} // namespace
