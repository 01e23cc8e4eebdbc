#pragma once
// AttemptFlow: the course of one competition attempt, as the judge sees it.
//
//   arm ─┬─ (first stroke) ──────────────────────────► Running ─► Done
//        └─ "on go": Countdown (ready) 3, 2, 1 ─► go ─► Armed ─► Running ─► Done
//   A stroke during the countdown: FalseStart (the attempt ends there).
//   The device gone during the attempt: Lost.
//
// "At the first stroke" is the measurement as the main window runs it: the
// recording time starts with the first stroke. "On go" adds a countdown of
// one-second beats, a beat to get ready and then 3, 2, 1; go is the beat
// after "1". Nothing may be played before go, and the time then starts with
// the first stroke after go, as a judge's stopwatch would.
//
// Threads: user-interface thread; time is the caller's millisecond tick, so
// tests drive it. Qt-free.

#include <cstdint>

class AttemptFlow {
public:
    enum class Phase { Idle, Countdown, Armed, Running, Done, FalseStart, Lost };
    enum class Event { None, Beat, Go, Started, Ended, FalseStart, Lost };
    static constexpr std::int32_t kBeatMs = 1000;
    static constexpr std::int32_t kBeats = 3;

    void arm(bool onGo, std::uint32_t nowMs);
    // One look at the device: its count, whether its recording time is over
    // and whether it still delivers. Returns what changed, if anything.
    Event update(std::uint32_t nowMs, std::int32_t count, bool timeOver, bool delivering);
    // The judge stopped the attempt.
    void abort();

    Phase phase() const { return m_phase; }
    // 3, 2 or 1 during the countdown; 0 before "3" and otherwise.
    std::int32_t countdown() const
    {
        return m_phase == Phase::Countdown && m_beat > 0 ? kBeats + 1 - m_beat : 0;
    }
    // Milliseconds from arming to go.
    static constexpr std::int32_t goMs() { return (kBeats + 1) * kBeatMs; }
    bool finished() const { return m_phase == Phase::Done || m_phase == Phase::FalseStart || m_phase == Phase::Lost; }

private:
    Phase m_phase = Phase::Idle;
    std::uint32_t m_armedMs = 0;
    std::int32_t m_beat = 0; // beats passed since arming
};
