#pragma once
// SpscRing: a fixed-size, lock-free ring that hands values from exactly one
// writer thread to exactly one reader thread. Capture threads put strokes and
// MIDI messages into it; the user-interface thread (or a printing thread)
// takes them out on its own schedule.
//
// Threads: push() and dropped-count increments belong to the writer thread;
// pop() and drain() belong to the reader thread; droppedCount() and empty()
// may be called from either. The two sides may run at the same time, but
// there is never a second writer or a second reader.
//
// Real-time: the storage lives inside the object (allocate the object before
// the writer starts); push() never allocates, locks, blocks or makes a system
// call. When the reader has fallen a whole ring behind, push() refuses the
// value and counts it as dropped instead of overwriting one the reader has
// not seen.
//
// Memory order: the writer fills a slot, then publishes it with a release
// store of the head; the reader's acquire load of the head makes the slot's
// contents visible. The reader frees a slot with a release store of the tail,
// which the writer reads with acquire before reusing that slot. Head and tail
// count up without wrapping back (64-bit counters cannot overflow in practice)
// and sit on separate cache lines so the two threads don't contend.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

template <class T, std::size_t Capacity>
class SpscRing {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "Capacity must be a power of two");
    static_assert(std::is_trivially_copyable_v<T>, "values are copied into and out of the ring");

public:
    static constexpr std::size_t capacity() { return Capacity; }

    // Writer thread only. False, and one more dropped value, when the ring
    // is full.
    bool push(const T& value)
    {
        const std::uint64_t head = m_head.load(std::memory_order_relaxed);
        if (head - m_tail.load(std::memory_order_acquire) >= Capacity) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        m_slots[head & (Capacity - 1)] = value;
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

    // Reader thread only. False when nothing is waiting.
    bool pop(T& value)
    {
        const std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire))
            return false;
        value = m_slots[tail & (Capacity - 1)];
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Reader thread only. Hands every waiting value to f in order and
    // returns how many there were; values pushed meanwhile wait for the next
    // call.
    template <class F>
    std::size_t drain(F&& f)
    {
        const std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
        const std::uint64_t head = m_head.load(std::memory_order_acquire);
        for (std::uint64_t i = tail; i != head; ++i)
            f(static_cast<const T&>(m_slots[i & (Capacity - 1)]));
        m_tail.store(head, std::memory_order_release);
        return static_cast<std::size_t>(head - tail);
    }

    // Either thread: true when the reader would find nothing right now.
    bool empty() const
    {
        return m_tail.load(std::memory_order_acquire) == m_head.load(std::memory_order_acquire);
    }

    // Either thread: how many values push() refused since construction.
    std::uint64_t droppedCount() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    std::array<T, Capacity> m_slots{};
    alignas(64) std::atomic<std::uint64_t> m_head{0};
    alignas(64) std::atomic<std::uint64_t> m_tail{0};
    alignas(64) std::atomic<std::uint64_t> m_dropped{0};
};
