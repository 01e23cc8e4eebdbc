#pragma once
// The figures of a counted run, printed by --report in place of the
// per-stroke lines: "figure,value", one line per figure in the report's
// order, empty figures with an empty value.

#include "RunRecord.h"

#include <cstdio>

void printReport(std::FILE* out, const RunRecord& run);
