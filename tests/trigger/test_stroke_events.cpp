// Stroke events: each counted stroke reaches the reading thread in order, at
// the device's exact tick, and a reader that falls behind loses events, never
// counts.
#include "QX_AudioTriggerDevice.h"
#include "QX_MidiTriggerDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr std::int64_t kSecond100ns = 10'000'000;
// Clicks 5 windows apart sit at the same place in their window, so every
// click counts with the same level and its peak is the click sample itself.
constexpr std::size_t kClickSpacing = 5 * 441;

std::vector<std::int16_t> clickTrain(std::size_t clicks, std::size_t firstAt, std::vector<std::int64_t>& at)
{
    std::vector<std::int16_t> s(firstAt + clicks * kClickSpacing + 2000, 0);
    for (std::size_t k = 0; k < clicks; ++k) {
        const std::size_t i = firstAt + k * kClickSpacing;
        s[i] = 16384;
        at.push_back(static_cast<std::int64_t>(i));
    }
    return s;
}

// Drains on this thread while `done` is false, then once more.
std::vector<StrokeEvent> drainUntil(TQX_TriggerDevice& d, const std::atomic<bool>& done)
{
    std::vector<StrokeEvent> got;
    while (!done.load(std::memory_order_acquire)) {
        d.drainStrokeEvents(got);
        std::this_thread::yield();
    }
    d.drainStrokeEvents(got);
    return got;
}

} // namespace

TEST(StrokeEvents, AudioEventsArriveInOrderAtThePeakSampleWhileTheCaptureThreadFeeds)
{
    TQX_AudioTriggerDevice d("", nullptr);
    EXPECT_EQ(d.ticksPerSecond(), 44100);
    d.Start(-1);
    std::vector<std::int64_t> clickAt;
    // 700 clicks: more strokes than fit into the history, with blocks that
    // cut windows and clicks anywhere.
    const auto signal = clickTrain(700, 3001, clickAt);

    std::atomic<bool> done{false};
    float lastHistoryLevel = 0.0f;
    std::thread capture([&] {
        for (std::size_t at = 0; at < signal.size(); at += 1000) {
            const std::size_t n = std::min<std::size_t>(1000, signal.size() - at);
            d.AnalyzeSamples(signal.data() + at, static_cast<std::int32_t>(n * 2));
        }
        lastHistoryLevel = d.LastStroke(0).Level;
        done.store(true, std::memory_order_release);
    });
    const auto got = drainUntil(d, done);
    capture.join();

    ASSERT_EQ(d.GetCount(), 700);
    ASSERT_EQ(got.size(), 700u);
    EXPECT_EQ(d.droppedStrokeEvents(), 0u);
    for (std::size_t k = 0; k < got.size(); ++k) {
        ASSERT_EQ(got[k].tick, clickAt[k]) << "stroke " << k;
        EXPECT_EQ(got[k].note, -1);
    }
    EXPECT_EQ(got.back().level, lastHistoryLevel) << "the event carries the history's level";

    // A new run counts its samples from zero again and forgets undrained events.
    d.AnalyzeSamples(signal.data(), 2 * 10000);
    d.Start(-1);
    d.AnalyzeSamples(signal.data(), 2 * 10000);
    std::vector<StrokeEvent> again;
    d.drainStrokeEvents(again);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again.front().tick, clickAt.front());
}

TEST(StrokeEvents, MidiEventsCarryTheMessageStampNoteAndVelocityAtExtremeTimes)
{
    TQX_MidiTriggerDevice d("");
    EXPECT_EQ(d.ticksPerSecond(), kSecond100ns);
    d.Start(-1);
    // Stamps near the top of the 64-bit range stay exact.
    const std::int64_t t0 = INT64_MAX - 5 * kSecond100ns;
    d.HandleNote(38, 127, t0); // arms only: no event
    d.HandleNote(38, 64, t0 + 1);
    d.HandleNote(40, 1, t0 + kSecond100ns + 1);
    d.HandleNote(41, 100, INT64_MAX);          // more than a second: re-arms, no event
    std::vector<StrokeEvent> got;
    d.drainStrokeEvents(got);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].tick, t0 + 1);
    EXPECT_EQ(got[0].note, 38);
    EXPECT_EQ(got[0].level, 64 / 127.0f);
    EXPECT_EQ(got[1].tick, t0 + kSecond100ns + 1);
    EXPECT_EQ(got[1].note, 40);
    EXPECT_EQ(got[1].level, 1 / 127.0f);
}

TEST(StrokeEvents, AReaderThatFallsBehindLosesEventsNeverCounts)
{
    constexpr int kNotes = 10001;
    TQX_MidiTriggerDevice d("");
    d.Start(-1);
    const std::int64_t t0 = 1000 * kSecond100ns;

    // First the reader sleeps through the whole run: the ring keeps the oldest
    // events it has room for and counts the rest as dropped.
    std::thread writer([&] {
        for (int k = 0; k < kNotes; ++k)
            d.HandleNote(38, 100, t0 + k * 1000);
    });
    writer.join();
    std::vector<StrokeEvent> got;
    d.drainStrokeEvents(got);
    EXPECT_EQ(d.GetCount(), kNotes - 1);
    ASSERT_EQ(got.size(), TQX_TriggerDevice::kStrokeEventCapacity);
    EXPECT_EQ(d.droppedStrokeEvents(), static_cast<std::uint64_t>(kNotes - 1) - got.size());
    for (std::size_t k = 0; k < got.size(); ++k)
        ASSERT_EQ(got[k].tick, t0 + static_cast<std::int64_t>(k + 1) * 1000);

    // Then a reader racing the writer: whatever it receives is in order and
    // exact, and received plus dropped is exactly the count.
    d.Start(-1);
    EXPECT_EQ(d.droppedStrokeEvents(), 0u) << "a new run starts its own dropped count";
    const std::int32_t countBefore = d.GetCount();
    std::atomic<bool> done{false};
    std::thread racer([&] {
        for (int k = 0; k < kNotes; ++k)
            d.HandleNote(38, 100, t0 + k * 1000);
        done.store(true, std::memory_order_release);
    });
    const auto raced = drainUntil(d, done);
    racer.join();
    EXPECT_EQ(d.GetCount() - countBefore, kNotes - 1);
    EXPECT_EQ(raced.size() + d.droppedStrokeEvents(), static_cast<std::uint64_t>(kNotes - 1));
    for (std::size_t k = 1; k < raced.size(); ++k)
        ASSERT_GT(raced[k].tick, raced[k - 1].tick);
    for (const auto& e : raced)
        ASSERT_EQ((e.tick - t0) % 1000, 0);
}
