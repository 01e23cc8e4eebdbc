#pragma once
// The speed builder: a tempo ladder that listens. It plays repetitions of a
// few bars against the click, judges each from the strokes' timing, steps
// the tempo up after a pass and back down after a fail, and keeps the
// highest tempo played cleanly. Standard C++ only: the click window drives it
// with the capture clock's time and the strokes as they arrive, and tests
// drive it with made-up times.
//
// The timeline, in seconds on the capture clock: each repetition opens with
// a one-bar count-in at its tempo, then its bars are played and timed. The
// next count-in follows after a short rest (a beat of the old tempo, at
// least kMinRestS), which is when the last strokes come in and the verdict
// is made; if the caller's clock shows that moment already passed, the next
// count-in starts kScheduleLeadS from now so the click can still sound it.
//
// Choices where the plan is silent: the tempo never steps below the start
// tempo (the player chose it as the floor), the last step up stops at the
// target, and passing a repetition at the target ends the plan.
//
// Not thread-safe; one thread (the window's) owns a builder.

#include "analysis/TimingFigures.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct PassRule {
    double minWithinPercent = 90.0; // of the timed strokes ...
    double windowMs = 15.0;         // ... within this many ms of their grid point
    std::int32_t maxExtraStrokes = 0;
    std::int32_t maxMissedPoints = 0;
};

struct SpeedPlan {
    double startBpm = 100.0;
    double stepBpm = 4.0;
    double targetBpm = 140.0;
    std::int32_t barsPerRepetition = 4;
    std::int32_t beatsPerBar = 4;
    std::int32_t subdivision = 4;
    SilentBars silent;
    PassRule rule;
};

struct Repetition {
    std::int32_t number = 0;       // from 1
    double tempoBpm = 0.0;
    double countInStartS = 0.0;    // the count-in's first click
    double gridStartS = 0.0;       // the first timed grid point
    double gridEndS = 0.0;         // the end of the last bar
};

struct RepetitionResult {
    Repetition repetition;
    bool passed = false;
    std::optional<double> withinPercent; // of the rule's window
    std::int32_t timedStrokes = 0;
    std::int32_t extraStrokes = 0;
    std::int32_t missedPoints = 0;
    double nextBpm = 0.0;
};

class SpeedBuilder {
public:
    static constexpr double kMinRestS = 0.5;
    // The click is rendered 186 ms ahead of what is heard; this leaves room for
    // the window's tick on top.
    static constexpr double kScheduleLeadS = 0.4;

    explicit SpeedBuilder(const SpeedPlan& plan);

    // Starts the first repetition with its count-in at countInStartS.
    void start(double countInStartS);
    // A stroke at timeS; strokes may arrive late, in time order.
    void addStroke(double timeS);
    // The capture clock says nowS: judges a repetition whose strokes are all
    // in. True when a repetition was judged (a new one is then current,
    // unless the plan has finished).
    bool advance(double nowS);

    bool started() const { return m_started; }
    bool finished() const { return m_finished; }
    const SpeedPlan& plan() const { return m_plan; }
    // The repetition being played, or about to be (after the last: the last).
    const Repetition& current() const { return m_current; }
    // The timing grid of a repetition.
    TimingGrid gridOf(const Repetition& repetition) const;
    const std::vector<RepetitionResult>& results() const { return m_results; }
    std::optional<double> highestCleanBpm() const { return m_highestClean; }

    // What the builder is doing at nowS, for the window:
    // "Count-in: 120 BPM", "Playing: 120 BPM, bar 2 of 4",
    // "Pass: 142 BPM, next 146", "Fail: 146 BPM, 84 % within ±15 ms, next 142",
    // "Target reached: 160 BPM".
    std::string status(double nowS) const;

private:
    Repetition repetitionAt(std::int32_t number, double tempoBpm, double countInStartS) const;
    double barSeconds(double tempoBpm) const;
    void judge(double nowS);

    SpeedPlan m_plan;
    bool m_started = false;
    bool m_finished = false;
    Repetition m_current;
    std::vector<double> m_strokes; // of the current repetition's window
    std::vector<RepetitionResult> m_results;
    std::optional<double> m_highestClean;
};

// "142" or "142.5": a tempo as the status shows it.
std::string tempoText(double bpm);
