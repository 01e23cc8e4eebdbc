#pragma once
// The figures of a counted run, printed by --report in place of the
// per-stroke lines: "figure,value", one line per figure in the report's
// order, empty figures with an empty value.

#include "analysis/RunRecord.h"
#include "analysis/TimingFigures.h"

#include <cstdio>

void printReport(std::FILE* out, const RunRecord& run);

// The timing figures, one "name,value" line each (ended with eol) in the
// run report's order: milliseconds, percentages and tempi to 0.01, counts
// whole, empty figures with an empty value.
void printTimingFigures(std::FILE* out, const TimingFigures& figures, const char* eol = "\n");

// The timing figures of the run's strokes against grid, printed after the
// report's lines in the same form. The strokes' ticks are taken from the
// recording's start.
void printTimingReport(std::FILE* out, const RunRecord& run, const TimingGrid& grid);
