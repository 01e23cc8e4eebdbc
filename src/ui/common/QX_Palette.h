#pragma once
// The program's blue-grey family, in one place so the main window, the run
// report, the help and the stopwatch read as one program. The device dialog
// keeps its own darker grey.

#include <QColor>

inline const QColor kWindowColor{200, 208, 225}; // window grounds, the help's heading band
inline const QColor kPanelColor{226, 234, 251};  // the score list, the report's panels
inline const QColor kSlateColor{108, 127, 157};  // the stopwatch's sector, the interval line
