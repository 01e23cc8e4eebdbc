#pragma once
// Feeds 16-bit mono samples at 44,100 Hz to a fresh audio trigger device and
// reports every stroke: the number of samples fed when it was counted, its
// onset (the time every other figure uses) and its history entry. Blocks are
// cut at the detector's 10 ms window boundaries, so a stroke is always
// counted at the last sample of a piece and its sample position is exact
// whatever block sizes the caller hands in. The standard detector publishes
// a stroke's onset one window after counting it, so a stroke is reported
// when its onset is in; finish() reports the last one at the end of input.
// With the fast detector the stroke is counted at its onset's decision and
// windowEndSample is the onset itself.
//
// Allocation-free after construction, so the live mode calls feed() on the
// capture thread (and finish() once that thread has been joined).

#include "analysis/RunRecord.h"
#include "trigger/AudioDetectorBase.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

struct CountedStroke {
    std::int32_t number = 0;          // 1-based
    std::int64_t windowEndSample = 0; // samples fed when the stroke was counted (fast: its onset)
    std::int32_t intervalSamples = 0;
    float level = 0.0f;
    std::int64_t onsetSample = 0;     // where its attack begins
};

// Summary of a measurement, figured as the run report figures it: a run that
// lasted its recording time over that time, any other from its first stroke
// to its last.
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
            const std::int32_t before = m_device->GetCount();
            m_fed += n;
            m_fedShared.store(m_fed, std::memory_order_release);
            m_device->AnalyzeSamples(samples, static_cast<std::int32_t>(n * 2));
            noteCounted(before);
            deliver(onStroke, false);
            samples += n;
            count -= n;
        }
    }

    // The input has ended: reports a counted stroke whose onset was still to come.
    template <class OnStroke>
    void finish(OnStroke&& onStroke)
    {
        const std::int32_t before = device().GetCount();
        device().finishInput();
        noteCounted(before);
        deliver(onStroke, true);
    }

    TQX_TriggerDevice& device() { return *m_device; }
    const TQX_TriggerDevice& device() const { return *m_device; }
    std::int64_t fed() const { return m_fed; }
    // Safe to read from another thread than the one feeding.
    std::int64_t fedShared() const { return m_fedShared.load(std::memory_order_acquire); }

private:
    // Counted strokes waiting for their event: at most one in practice (the
    // dead time is three windows), room for the history's eight.
    struct Counted {
        std::int32_t number;
        std::int64_t windowEnd;
        std::int32_t intervalSamples;
    };

    void noteCounted(std::int32_t before)
    {
        const std::int32_t now = device().GetCount();
        for (std::int32_t k = before + 1; k <= now; ++k) {
            const auto record = device().lastStroke(now - k);
            m_counted[static_cast<std::size_t>(m_countedTail++ % m_counted.size())] =
                Counted{k, m_fed, record.intervalTicks};
        }
    }

    // A standard stroke near a timed run's end is counted with its onset, a
    // window after the window that found it; its row names that window.
    template <class OnStroke>
    void deliver(OnStroke& onStroke, bool finishing)
    {
        device().drainStrokeEvents([&](const StrokeEvent& e) {
            if (m_countedHead == m_countedTail)
                return;
            const Counted c = m_counted[static_cast<std::size_t>(m_countedHead++ % m_counted.size())];
            std::int64_t windowEnd = c.windowEnd;
            if (finishing)
                windowEnd -= windowEnd % kWindowSamples;
            else if (windowEnd == m_fed)
                windowEnd -= kWindowSamples;
            onStroke(CountedStroke{c.number, m_rowAtOnset ? e.tick : windowEnd, c.intervalSamples, e.level, e.tick});
        });
    }

    std::unique_ptr<AudioDetectorBase> m_device;
    // The fast detector counts a stroke at its decision, inside no window:
    // its row is placed at the onset.
    bool m_rowAtOnset = false;
    std::int64_t m_fed = 0;
    std::atomic<std::int64_t> m_fedShared{0};
    std::array<Counted, 8> m_counted{};
    std::uint64_t m_countedHead = 0;
    std::uint64_t m_countedTail = 0;
};

// The summary of count strokes whose times are in run (the run report's own
// figures, so the two always agree).
CountSummary countSummary(std::int32_t count, const RunRecord& run);
