// Stroke events: each counted stroke reaches the reading thread in order, at
// the device's exact tick, and a reader that falls behind loses events, never
// counts.
#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_MidiTriggerDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

// Drains on this thread while `feed` runs on another, then once more.
template <class Feed>
std::vector<StrokeEvent> drainWhile(TQX_TriggerDevice& d, Feed feed)
{
    std::atomic<bool> done{false};
    std::thread writer([&] {
        feed();
        done.store(true, std::memory_order_release);
    });
    std::vector<StrokeEvent> got;
    while (!done.load(std::memory_order_acquire))
        d.drainStrokeEvents(got);
    writer.join();
    d.drainStrokeEvents(got);
    return got;
}

} // namespace

TEST(StrokeEvents, AudioEventsArriveInOrderAtThePeakSampleWhileTheCaptureThreadFeeds)
{
    // Clicks 5 windows apart all count with one level, and a one-sample
    // click's peak is the click sample itself. 700 of them: more than the
    // history holds, fed in blocks that cut windows anywhere.
    std::vector<std::int16_t> signal(3001 + 700 * 2205 + 2000, 0);
    for (std::size_t k = 0; k < 700; ++k)
        signal[3001 + k * 2205] = 16384;
    TQX_AudioTriggerDevice d("", nullptr);
    EXPECT_EQ(d.ticksPerSecond(), 44100);
    d.Start(-1);
    const auto got = drainWhile(d, [&] {
        for (std::size_t at = 0; at < signal.size(); at += 1000) {
            const std::size_t n = std::min<std::size_t>(1000, signal.size() - at);
            d.AnalyzeSamples(signal.data() + at, static_cast<std::int32_t>(n * 2));
        }
    });
    ASSERT_EQ(d.GetCount(), 700);
    ASSERT_EQ(got.size(), 700u);
    EXPECT_EQ(d.droppedStrokeEvents(), 0u);
    for (std::size_t k = 0; k < got.size(); ++k)
        ASSERT_EQ(got[k].tick, static_cast<std::int64_t>(3001 + k * 2205)) << "stroke " << k;
    EXPECT_EQ(got.back().level, d.lastStroke(0).level);
    EXPECT_EQ(got.back().note, -1);

    // A new run counts its samples from zero again and forgets undrained events.
    d.AnalyzeSamples(signal.data(), 2 * 10000);
    d.Start(-1);
    d.AnalyzeSamples(signal.data(), 2 * 10000);
    std::vector<StrokeEvent> again;
    d.drainStrokeEvents(again);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again.front().tick, 3001);
}

TEST(StrokeEvents, MidiEventsCarryTheStampNoteAndVelocityAndAReaderBehindLosesOnlyEvents)
{
    constexpr std::int64_t kSecond = 10'000'000;
    TQX_MidiTriggerDevice d("");
    EXPECT_EQ(d.ticksPerSecond(), kSecond);
    d.Start(-1);
    // Stamps at the top of the 64-bit range stay exact; an arming note has no event.
    const std::int64_t top = INT64_MAX - kSecond;
    d.HandleNote(38, 127, top);
    d.HandleNote(40, 1, INT64_MAX);
    std::vector<StrokeEvent> got;
    d.drainStrokeEvents(got);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].tick, INT64_MAX);
    EXPECT_EQ(got[0].note, 40);
    EXPECT_EQ(got[0].level, 1 / 127.0f);

    // The reader sleeps through a whole run: the ring keeps the oldest events
    // it has room for and counts the rest as dropped; the count is whole.
    constexpr int kNotes = 10001;
    const std::int64_t t0 = 1000 * kSecond;
    d.Start(-1);
    std::int32_t before = d.GetCount();
    std::thread([&] {
        for (int k = 0; k < kNotes; ++k)
            d.HandleNote(38, 100, t0 + k * 1000);
    }).join();
    got.clear();
    d.drainStrokeEvents(got);
    EXPECT_EQ(d.GetCount() - before, kNotes - 1);
    ASSERT_EQ(got.size(), TQX_TriggerDevice::kStrokeEventCapacity);
    EXPECT_EQ(d.droppedStrokeEvents(), kNotes - 1 - got.size());
    for (std::size_t k = 0; k < got.size(); ++k)
        ASSERT_EQ(got[k].tick, t0 + static_cast<std::int64_t>(k + 1) * 1000);

    // A reader racing the writer gets what it gets in order, and received
    // plus dropped is exactly the count.
    d.Start(-1);
    EXPECT_EQ(d.droppedStrokeEvents(), 0u) << "a new run starts its own dropped count";
    before = d.GetCount();
    const auto raced = drainWhile(d, [&] {
        for (int k = 0; k < kNotes; ++k)
            d.HandleNote(38, 100, t0 + k * 1000);
    });
    EXPECT_EQ(d.GetCount() - before, kNotes - 1);
    EXPECT_EQ(raced.size() + d.droppedStrokeEvents(), static_cast<std::uint64_t>(kNotes - 1));
    for (std::size_t k = 1; k < raced.size(); ++k)
        ASSERT_GT(raced[k].tick, raced[k - 1].tick);
}
