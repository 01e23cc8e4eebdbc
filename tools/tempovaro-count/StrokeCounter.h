#pragma once
// Feeds 16-bit mono samples at 44,100 Hz to a fresh audio trigger device and
// reports every stroke with the number of samples fed when it was counted.
// Blocks are cut at the detector's 10 ms window boundaries, so a stroke is
// always counted at the last sample of a piece: its sample position is exact
// whatever block sizes the caller hands in. With the fast detector the
// reported sample is the stroke's onset instead (one stroke per piece at
// most: its refractory time is longer than a window).
//
// Allocation-free after construction, so the live mode calls feed() on the
// capture thread.

#include "QX_AudioTriggerDevice.h"
#include "QX_FastAudioTriggerDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>

struct CountedStroke {
    std::int32_t number = 0;         // 1-based
    std::int64_t windowEndSample = 0; // samples fed when the stroke was counted (fast: its onset)
    std::int32_t intervalSamples = 0;
    float level = 0.0f;
};

// Summary of a measurement: elapsed seconds from the first stroke (capped at
// the recording time) and the rate over them.
struct CountSummary {
    std::int32_t strokes = 0;
    double seconds = 0.0;
    double strokesPerMinute = 0.0;
};

class StrokeCounter {
public:
    static constexpr std::int32_t kWindowSamples = 441;
    static constexpr std::int32_t kSampleRate = 44100;

    explicit StrokeCounter(std::int32_t timeLimitMs, bool fastDetector = false);

    template <class OnStroke>
    void feed(const std::int16_t* samples, std::int64_t count, OnStroke&& onStroke)
    {
        while (count > 0) {
            const std::int64_t toWindowEnd = kWindowSamples - m_fed % kWindowSamples;
            const std::int64_t n = count < toWindowEnd ? count : toWindowEnd;
            const std::int32_t before = device().GetCount();
            m_fed += n;
            m_fedShared.store(m_fed, std::memory_order_release);
            if (m_fast) {
                m_fast->AnalyzeSamples(samples, static_cast<std::int32_t>(n * 2));
                if (m_fast->GetCount() != before) {
                    const auto onset = m_fast->recentOnset();
                    if (m_firstStrokeEnd < 0)
                        m_firstStrokeEnd = m_fed;
                    onStroke(CountedStroke{m_fast->GetCount(), onset.onsetSample, onset.intervalSamples,
                                           onset.peakLevel});
                }
            } else {
                m_device.AnalyzeSamples(samples, static_cast<std::int32_t>(n * 2));
                if (m_device.GetCount() != before) {
                    const auto record = m_device.lastStroke();
                    if (m_firstStrokeEnd < 0)
                        m_firstStrokeEnd = m_fed;
                    onStroke(CountedStroke{m_device.GetCount(), m_fed, record.intervalTicks, record.level});
                }
            }
            samples += n;
            count -= n;
        }
    }

    TQX_TriggerDevice& device() { return m_fast ? static_cast<TQX_TriggerDevice&>(*m_fast) : m_device; }
    const TQX_TriggerDevice& device() const
    {
        return m_fast ? static_cast<const TQX_TriggerDevice&>(*m_fast) : m_device;
    }
    bool isFast() const { return m_fast != nullptr; }
    std::int64_t fed() const { return m_fed; }
    // Safe to read from another thread than the one feeding.
    std::int64_t fedShared() const { return m_fedShared.load(std::memory_order_acquire); }

    // The summary when the clock of the recording is the samples fed.
    CountSummary summaryBySamples() const;

private:
    TQX_AudioTriggerDevice m_device{""};
    std::unique_ptr<TQX_FastAudioTriggerDevice> m_fast; // set when counting with the fast detector
    std::int32_t m_timeLimitMs;
    std::int64_t m_fed = 0;
    std::atomic<std::int64_t> m_fedShared{0};
    std::int64_t m_firstStrokeEnd = -1;
};

// Summary of count strokes over elapsedMs (the recording time when it ran out).
CountSummary makeSummary(std::int32_t strokes, std::int64_t elapsedMs);

// The millisecond clock of a recording: 1 ms per 44.1 samples fed to counter.
// Installs itself as the tick source until destroyed.
class SampleClock {
public:
    explicit SampleClock(const StrokeCounter& counter);
    ~SampleClock();
    SampleClock(const SampleClock&) = delete;
    SampleClock& operator=(const SampleClock&) = delete;
    static std::uint32_t msAt(std::int64_t fedSamples);
};
