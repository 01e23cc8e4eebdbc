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

#include "analysis/ClickTrack.h"
#include "analysis/RunRecord.h"
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
};

// The click's grid on a stroke clock whose offset against the monotonic
// clock is deviceOffsetTicks.
RunClick placeClick(const ClickOnOutput& click, double deviceOffsetTicks, std::int64_t ticksPerSecond);

// The grid in seconds of the run's clock (ticks / ticksPerSecond), endless.
TimingGrid runGrid(const RunClick& click, std::int64_t ticksPerSecond);

// The run's strokes timed against its click; empty without a click.
std::optional<TimingAnalysis> analyzeRunTiming(const RunRecord& run);
