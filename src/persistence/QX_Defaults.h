#pragma once
// The settings a first run starts from, before the store is read: one place
// for them, used by the main window and by the tests that stand in for it.
// Plain functions returning fresh records; any thread.

#include "persistence/QX_Global.h"

// Audio trigger, input level 0.25; no device, line or MIDI port chosen yet.
TQX_DeviceProperties defaultDeviceProperties();
// The count display, an 800 x 600 window, 60 s recording time, scores by
// date, clock and scores shown, automatic reset, one stroke per beat.
TQX_ProgramSettings defaultProgramSettings();
