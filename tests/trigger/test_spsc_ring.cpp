// The ring between a capture thread and its reader, run with a real second
// thread (and under ThreadSanitizer in the threads pass).

#include "trigger/SpscRing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace {

// Two words that must arrive together: a slot read before the writer has
// finished it would show a mismatched pair.
struct Item {
    std::uint64_t seq;
    std::uint64_t check;
};

Item makeItem(std::uint64_t seq)
{
    return {seq, ~seq * 2654435761u};
}

// Reads until `done` says the writer has finished and the ring is empty.
template <class Ring>
std::vector<Item> readAll(Ring& ring, const std::atomic<bool>& done, bool usePop)
{
    std::vector<Item> got;
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        if (usePop) {
            Item item;
            while (ring.pop(item))
                got.push_back(item);
        } else {
            ring.drain([&](const Item& item) { got.push_back(item); });
        }
        if (finished && ring.empty())
            return got;
        std::this_thread::yield();
    }
}

} // namespace

TEST(SpscRing, WriterThatWaitsForRoomLosesNothingAndKeepsOrder)
{
    constexpr std::uint64_t kCount = 200'000; // many times round the ring
    for (const bool usePop : {false, true}) {
        SpscRing<Item, 64> ring;
        std::atomic<bool> done{false};
        std::uint64_t refused = 0;
        std::thread writer([&] {
            for (std::uint64_t i = 0; i < kCount; ++i) {
                while (!ring.push(makeItem(i))) {
                    ++refused;
                    std::this_thread::yield();
                }
            }
            done.store(true, std::memory_order_release);
        });
        const std::vector<Item> got = readAll(ring, done, usePop);
        writer.join();

        ASSERT_EQ(got.size(), kCount) << (usePop ? "pop" : "drain");
        for (std::uint64_t i = 0; i < kCount; ++i) {
            ASSERT_EQ(got[i].seq, i);
            ASSERT_EQ(got[i].check, makeItem(i).check);
        }
        // Every refused attempt is a drop, and nothing else is.
        EXPECT_EQ(ring.droppedCount(), refused);
    }
}

TEST(SpscRing, WriterThatNeverWaitsHasEveryAcceptedValueDeliveredAndTheRestCounted)
{
    constexpr std::uint64_t kCount = 100'000;
    SpscRing<Item, 16> ring;
    std::atomic<bool> done{false};
    std::vector<std::uint64_t> accepted;
    accepted.reserve(kCount);
    std::thread writer([&] {
        for (std::uint64_t i = 0; i < kCount; ++i)
            if (ring.push(makeItem(i)))
                accepted.push_back(i);
        done.store(true, std::memory_order_release);
    });
    const std::vector<Item> got = readAll(ring, done, false);
    writer.join();

    ASSERT_EQ(got.size(), accepted.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].seq, accepted[i]);
        ASSERT_EQ(got[i].check, makeItem(accepted[i]).check);
    }
    EXPECT_EQ(ring.droppedCount() + accepted.size(), kCount);
}
