#pragma once
// SampleTap: hands a copy of the captured signal from the capture thread to
// a thread that keeps it (the audit writer), in fixed-size blocks that carry
// the position of their first sample. It is the stroke ring's sibling for
// samples: the same SpscRing, so the capture thread copies at most one period
// into ring slots and never allocates, locks or waits.
//
// Positions count samples from the first block written through this tap. An
// audio trigger device's sample clock starts with the same sample when the
// tap is attached before the device's Start.
//
// Threads: write() and noteDropout() belong to the capture thread; drain()
// to the one reader thread; the counters may be read from any thread.
//
// Losses: when the reader falls a whole ring (about six seconds) behind, the
// newest blocks are refused and counted; the reader sees the gap as a jump in
// firstSample, and overflowBlocks() says how many went.

#include "trigger/QX_Handlers.h"
#include "trigger/SpscRing.h"

#include <array>
#include <atomic>
#include <cstdint>

struct SampleBlock {
    static constexpr std::int32_t kFrames = 1024;
    std::int64_t firstSample = 0;
    std::int32_t frames = 0;
    std::array<std::int16_t, kFrames> samples{};
};

class SampleTap {
public:
    static constexpr std::size_t kBlocks = 256; // 256 × 1024 samples ≈ 5.9 s at 44.1 kHz

    // Capture thread: one block of signed 16-bit little-endian mono samples.
    void write(const void* data, std::int32_t byteCount)
    {
        const auto* bytes = static_cast<const unsigned char*>(data);
        const std::int32_t n = byteCount / 2;
        std::int32_t i = 0;
        while (i < n) {
            SampleBlock& b = m_staging;
            b.firstSample = m_position;
            b.frames = 0;
            while (i < n && b.frames < SampleBlock::kFrames)
                b.samples[static_cast<std::size_t>(b.frames++)] = sampleAt(bytes, i++);
            m_position += b.frames;
            m_ring.push(b);
        }
        m_written.store(m_position, std::memory_order_release);
    }

    // Capture thread: the capture lost input (an overrun, a lost period).
    void noteDropout() { m_dropouts.fetch_add(1, std::memory_order_relaxed); }

    // Reader thread only: each waiting block in order.
    template <class F>
    std::size_t drain(F&& f)
    {
        return m_ring.drain(std::forward<F>(f));
    }

    // Any thread: samples written through the tap so far.
    std::int64_t writtenSamples() const { return m_written.load(std::memory_order_acquire); }
    std::uint64_t overflowBlocks() const { return m_ring.droppedCount(); }
    std::uint32_t dropouts() const { return m_dropouts.load(std::memory_order_relaxed); }
    bool empty() const { return m_ring.empty(); }

private:
    SpscRing<SampleBlock, kBlocks> m_ring;
    SampleBlock m_staging; // capture thread only
    std::int64_t m_position = 0;
    std::atomic<std::int64_t> m_written{0};
    std::atomic<std::uint32_t> m_dropouts{0};
};
