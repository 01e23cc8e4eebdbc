#pragma once
// A run's timing against the click it was played with: where the click's
// grid lies on the run's own stroke clock, and the timing figures of its
// strokes. Standard C++ only; the session places the click while the run
// goes, the report, the journal and tests time the strokes.
//
// Placing the click: the click's output stream and the trigger's stroke
// clock each report where they stand against the monotonic clock
// (QX_StreamClock: position minus monotonic seconds times the rate). A
// click at output sample P sounds at monotonic time (P - outputOffset) /
// outputRate, which on the stroke clock is that time times ticksPerSecond
// plus the stroke clock's offset; the calibrated output-to-input latency
// comes on top. For an audio trigger the ticks are capture frames, for a
// MIDI trigger the 100 ns stamps.
//
// Those offsets hold while both clocks tick at one rate. An input on another
// card (or MIDI stamps, which keep the computer's time) runs some hundred
// parts per million apart from the output, a sample every few seconds, so
// when both streams' fitted lines are known (StreamDrift.h) the click's
// grid is put on the stroke clock through them: its first point where the
// input stood when the output reached it, and its step stretched by the
// ratio of the two measured rates (RunClick::clockPpm). On one clock (one
// card, or one sound server) the offsets stay: the ratio is exactly one,
// and a line that starts afresh after a jump in a stream's reports would
// move the grid by the jump (a sound server's delay estimate settling).

#include "analysis/ClickTrack.h"
#include "analysis/RunRecord.h"
#include "analysis/StreamDrift.h"
#include "analysis/TimingFigures.h"

#include <cstdint>
#include <optional>

// The click as it plays: its segment on the output stream's samples, and
// where that stream stands against the monotonic clock.
struct ClickOnOutput {
    ClickSegment segment;
    double rate = 44100.0;
    double streamOffsetFrames = 0.0;
    std::int32_t latencyUs = 0;  // the stored calibration, 0 without one
    std::optional<StreamLine> line; // the output's fitted line, once known
    bool sharesInputClock = false;  // one card or one sound server with the trigger's input
};

// Where the strokes' clock stands against the monotonic clock.
struct StrokeClock {
    double offsetTicks = 0.0;
    std::optional<StreamLine> line; // its fitted line, once known
    std::int64_t ticksPerSecond = kAudioTicksPerSecond;
};

// The click's grid on the strokes' clock: through both lines when both are
// known and the clocks are two, else through the offsets at the nominal rates.
RunClick placeClick(const ClickOnOutput& click, const StrokeClock& clock);
// The same on a stroke clock whose offset against the monotonic clock is
// deviceOffsetTicks, without lines.
RunClick placeClick(const ClickOnOutput& click, double deviceOffsetTicks, std::int64_t ticksPerSecond);

// The grid in seconds of the run's clock (ticks / ticksPerSecond), endless.
TimingGrid runGrid(const RunClick& click, std::int64_t ticksPerSecond);
// A stroke's tick in seconds on that grid's time line: from the grid's
// first point on, the stroke clock's seconds shrunk by the click's clockPpm,
// so the nominal grid fits them.
double gridSeconds(std::int64_t tick, const RunClick& click, std::int64_t ticksPerSecond);

// The run's strokes timed against its click; empty without a click.
std::optional<TimingAnalysis> analyzeRunTiming(const RunRecord& run);
