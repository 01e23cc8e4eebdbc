#pragma once
// tempovaro-count --journal and --journal-run: the practice journal as CSV
// for scripts and spreadsheets, read-only, so a journal the desktop program
// is writing at the same time is never disturbed.

#include <cstdint>
#include <cstdio>

// The runs, newest first, with the journal window's export columns.
// 0 done, 1 no journal or it cannot be read (said on stderr).
int printJournalRuns(std::FILE* out);
// One run's strokes. 0 done, 1 no journal or no such run.
int printJournalRun(std::int64_t id, std::FILE* out);
