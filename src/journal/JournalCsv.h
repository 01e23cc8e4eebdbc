#pragma once
// JournalCsv: the journal's data as CSV (RFC 4180: comma separated, CRLF line
// ends, a field quoted when it holds a comma, a quote or a line break, quotes
// inside doubled). Numbers always use a dot, whatever the user's locale, so
// spreadsheets and scripts read them the same everywhere.
//
// Threads: pure functions; any thread.

#include "analysis/RunRecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// One field, quoted only when it must be. A field that a spreadsheet would
// run as a formula (it begins with =, +, -, @, a tab or a carriage return
// and is not a plain number) is written with an apostrophe in front.
QString csvField(const QString& text);
// One record: the fields joined with commas, ended with CRLF.
QByteArray csvLine(const QStringList& fields);

// One run's strokes with the columns tempovaro-count prints for a recording:
// stroke,time_s,interval_s,level, and note for a MIDI run. Times in seconds
// from the run's first stroke; the first stroke's interval is 0.
QByteArray strokesCsv(const RunRecord& run);
