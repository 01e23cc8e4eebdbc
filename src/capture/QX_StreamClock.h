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
// Both streams must run on one clock (one card or one sound server); across
// two devices their drift is not corrected here.
//
// Threads: publish() on the audio thread only (no allocation, no lock: one
// atomic store); offsetFrames() on any thread.

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
};
