#pragma once
// The main window lays its figure, unit, stopwatch, score list and hint line
// out in proportion to its client area; positions and font sizes are
// rounded half to even, as the layout was designed.

#include <cmath>

inline int roundEven(double v)
{
    return static_cast<int>(std::nearbyint(v));
}
