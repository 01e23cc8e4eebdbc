#pragma once
// The journal's sortable per-run figures, taken from the one figures unit so
// the journal table, the run report and tempovaro-count never disagree.
// Threads: a pure function; the journal writer calls it on its worker.

#include "journal/JournalDatabase.h"

RunSummary summarizeRun(const RunRecord& run);
