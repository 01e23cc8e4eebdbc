#pragma once
// Strokes handed from a capture thread to the printing thread without a lock:
// one writer, one reader, a fixed ring far larger than the strokes of one
// poll interval, so the writer never allocates or blocks. When the printer
// has fallen that far behind, a stroke is dropped from the printout only; the
// device still counts it for the summary.

#include <array>
#include <atomic>
#include <cstddef>

template <class Stroke, std::size_t Capacity = 1024>
class StrokeRing {
public:
    // Writer thread only; false when the ring is full.
    bool push(const Stroke& s)
    {
        const auto head = m_head.load(std::memory_order_relaxed);
        if (head - m_tail.load(std::memory_order_acquire) == Capacity)
            return false;
        m_ring[head % Capacity] = s;
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

    // Reader thread only; false when nothing is waiting.
    bool pop(Stroke& s)
    {
        const auto tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire))
            return false;
        s = m_ring[tail % Capacity];
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<Stroke, Capacity> m_ring{};
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
};
