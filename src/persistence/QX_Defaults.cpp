#include "persistence/QX_Defaults.h"

TQX_DeviceProperties defaultDeviceProperties()
{
    TQX_DeviceProperties d;
    d.TriggerDeviceType = 1;
    d.AudioChannel.Level = 0.25f;
    return d;
}

TQX_ProgramSettings defaultProgramSettings()
{
    TQX_ProgramSettings p{};
    p.DisplayMode = 0;
    // The smallest size the main window's layout is made for.
    p.WindowWidth = 800;
    p.WindowHeight = 600;
    p.TimeLimit = 60000;
    p.SortByStrokes = 0;
    p.ShowClock = 1;
    p.ShowScores = 1;
    p.AutoReset = 1;
    p.BpmFactor = 1.0f;
    return p;
}
