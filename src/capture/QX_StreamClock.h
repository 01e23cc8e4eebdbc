#pragma once
// Where an audio stream stands against the monotonic clock, so two streams
// (the click's output and the trigger's input) can be put on one time line.
//
// The audio thread publishes, after each transfer, how many frames the
// device had taken in or given out by a moment on CLOCK_MONOTONIC (from
// ALSA's stream time stamp). The stream's offset is the mean of "frames
// minus seconds times the rate" over those reports: a sample that stream A
// holds at position a was heard when stream B stood at a - offsetA + offsetB.
// The first reports (about a second of capture, half a second of click) are
// left out: a sound server's delay estimates settle after a stream starts.
// That offset holds while both streams run on one clock (one card or one
// sound server). Across two devices, line() follows the stream's measured
// rate (StreamRateFit): inputFrameOf(outputSample, output.line(),
// input.line()) maps a click to the capture however the two cards drift.
//
// Threads: publish() on the audio thread only (no allocation, no lock: a
// few atomic stores, the line's behind a sequence count); offsetFrames()
// and line() on any thread.

#include "analysis/StreamDrift.h"

#include <atomic>
#include <cstdint>
#include <optional>

class QX_StreamClock {
public:
    static constexpr std::int32_t kSettlingReports = 25;

    // settlingReports: the first reports left out (0 for a clock whose
    // reports need no settling, such as MIDI messages' stamps).
    explicit QX_StreamClock(std::int32_t settlingReports = kSettlingReports) : m_settling(settlingReports) {}

    void publish(double frames, std::int64_t monotonicNs, double rate)
    {
        const double offset = frames - static_cast<double>(monotonicNs) * 1e-9 * rate;
        if (++m_reports <= m_settling)
            return;
        const double n = static_cast<double>(m_reports - m_settling);
        m_mean += (offset - m_mean) / n;
        // Release: a reader that sees the count sees the mean stored before it.
        m_published.store(m_mean, std::memory_order_relaxed);
        m_count.store(m_reports - m_settling, std::memory_order_release);

        m_fit.add(static_cast<double>(monotonicNs) * 1e-9, frames);
        if (const auto line = m_fit.line()) {
            // A sequence count, odd while the three values change: a reader
            // that sees the same even count before and after read one line.
            const std::uint64_t sequence = m_sequence.load(std::memory_order_relaxed);
            m_sequence.store(sequence + 1, std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_release);
            m_originS.store(line->originS, std::memory_order_relaxed);
            m_framesAtOrigin.store(line->framesAtOrigin, std::memory_order_relaxed);
            m_rateHz.store(line->rateHz, std::memory_order_relaxed);
            m_sequence.store(sequence + 2, std::memory_order_release);
        }
    }

    // The stream's fitted position against the monotonic clock; empty until
    // a few reports after settling.
    std::optional<StreamLine> line() const
    {
        for (;;) {
            const std::uint64_t before = m_sequence.load(std::memory_order_acquire);
            if (before == 0)
                return std::nullopt;
            if (before & 1u)
                continue;
            const StreamLine line{m_originS.load(std::memory_order_relaxed),
                                  m_framesAtOrigin.load(std::memory_order_relaxed),
                                  m_rateHz.load(std::memory_order_relaxed)};
            std::atomic_thread_fence(std::memory_order_acquire);
            if (m_sequence.load(std::memory_order_relaxed) == before)
                return line;
        }
    }

    std::optional<double> offsetFrames() const
    {
        if (m_count.load(std::memory_order_acquire) <= 0)
            return std::nullopt;
        return m_published.load(std::memory_order_relaxed);
    }

private:
    std::int64_t m_settling;
    std::int64_t m_reports = 0; // audio thread only
    double m_mean = 0.0;        // audio thread only
    std::atomic<double> m_published{0.0};
    std::atomic<std::int64_t> m_count{0};
    StreamRateFit m_fit; // audio thread only
    std::atomic<std::uint64_t> m_sequence{0};
    std::atomic<double> m_originS{0.0};
    std::atomic<double> m_framesAtOrigin{0.0};
    std::atomic<double> m_rateHz{0.0};
};
