#include "analysis/AxisScale.h"

#include <algorithm>
#include <cmath>

double niceStep(double range, int ticks)
{
    if (!(range > 0.0) || ticks < 1)
        return 1.0;
    const double raw = range / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (raw <= m * power * (1.0 + 1e-9))
            return m * power;
    return 10.0 * power;
}

AxisScale niceScale(double low, double high, int ticks, bool wholeSteps)
{
    if (low > high)
        std::swap(low, high);
    double step = niceStep(high - low, ticks);
    if (wholeSteps)
        step = std::max(step, 1.0);
    AxisScale scale;
    scale.step = step;
    // A hair of tolerance keeps 100 / 5 from landing a step off.
    scale.minimum = std::floor(low / step + 1e-9) * step;
    scale.maximum = std::ceil(high / step - 1e-9) * step;
    if (scale.maximum <= scale.minimum) {
        scale.minimum -= step;
        scale.maximum += step;
    }
    return scale;
}
