#pragma once
// RunText: a run's device, result and recording time as text, the same in
// the run report, the journal's table, its CSV export and
// tempovaro-count --journal.
//
// Threads: pure functions; any thread.

#include "analysis/RunRecord.h"

#include <QString>

#include <cstdint>

// The device as the drummer knows it: displayName, then for audio the input
// line in brackets and ", Fast detector" when that detector counted; for
// MIDI the channel and the note when the run counted only one of them.
// "Score list" for runs imported from a score file, "(unnamed)" for a
// device without a name.
QString runDeviceText(const RunDevice& device, const QString& displayName);
// The same with the name the device was listed under when the run was made
// (its ID for runs whose name was never known).
QString runDeviceText(const RunDevice& device);
// "Standard" or "Fast" for an audio run, empty for MIDI and score-list runs:
// the journal's sortable Detector column.
QString runDetectorText(const RunDevice& device);
// "Record", "Finished", "Cut short", "Stopped", "Device lost".
QString runResultText(RunResult result);
// "60 s" (in the user's locale when not whole seconds), "Endless".
QString recordingTimeText(std::int32_t ms);
