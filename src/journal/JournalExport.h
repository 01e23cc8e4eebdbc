#pragma once
// JournalExport: the journal's runs as CSV, with the journal table's columns,
// for the journal window's export and tempovaro-count --journal, and the one
// function that writes an export file.
//
// Columns: id,start,recording_time_s,count,strokes_per_minute,
// evenness_cv_percent,fatigue_percent,result,device,detector,device_id,
// click_bpm,mean_offset_ms,within_10ms_percent (the last three empty for a
// run without the click). start is ISO 8601 with
// the UTC offset of the given zone (2026-03-29T23:45:00+02:00); an endless
// run's recording time is "endless"; a figure never computed is an empty
// field. Numbers always with a dot.
//
// Threads: pure functions, and saveExport touches only its file; any thread.

#include "journal/JournalDatabase.h"
#include "journal/RunText.h"

#include <QByteArray>
#include <QString>
#include <QTimeZone>

#include <cstdint>
#include <vector>

// 2026-03-29T23:45:00+02:00; a whole-second time, the offset as +HH:MM.
QString isoDateTime(std::int64_t utcMs, const QTimeZone& zone);
QByteArray runsCsv(const std::vector<JournalRun>& runs, const QTimeZone& zone);

// Runs that never reached the journal, with every stroke: one row per stroke
// (start,recording_time_s,count,result,device,detector,device_id, then
// stroke,time_s,level,note), or one row with empty stroke fields.
QByteArray unsavedRunsCsv(const std::vector<RunRecord>& runs, const QTimeZone& zone);

// Replaces path with bytes whole or not at all: a failed write never leaves
// a partial file under that name. A new file is private to the user (0600). False with a short reason ("Permission
// denied") when it could not.
bool saveExport(const QString& path, const QByteArray& bytes, QString* reason);
