#pragma once
// A measurement session with no window, for the device dialog's tests: the
// dialog asks it for its preview device exactly as it asks the program's.

#include "session/MeasurementSession.h"

class PreviewSession : private MeasurementDisplay {
public:
    MeasurementSession session{*this};

private:
    void showValue(std::int32_t, float, bool) override {}
    void showClock(std::int32_t) override {}
};
