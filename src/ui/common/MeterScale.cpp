#include "ui/common/MeterScale.h"

#include <cmath>

namespace {
// 20 * log10(32768): the range of a 16-bit sample in decibels.
constexpr double kSampleRangeDb = 90.309;
// The bar starts at 0.4685 of that range below full scale (about -48 dB)
// and 1.881 stretches what is left over the whole bar.
constexpr double kBarBottom = 0.4685;
constexpr double kBarStretch = 1.881;
constexpr double kDecayPerTick = 0.9;
} // namespace

bool meterClips(float deviceLevel)
{
    return static_cast<double>(deviceLevel) > 0.999;
}

float audioMeterPosition(float deviceLevel)
{
    // Each step is stored back to float, so the thresholds see the same
    // values the meter always showed.
    float v = deviceLevel;
    if (v > 0.0f)
        v = static_cast<float>(20.0 * std::log10(static_cast<double>(v)) / kSampleRangeDb + 1.0);
    if (v > kBarBottom)
        return static_cast<float>((static_cast<double>(v) - kBarBottom) * kBarStretch);
    return 0.0f;
}

float meterPeakHold(float shown, float position)
{
    if (position > shown)
        return position;
    return static_cast<float>(static_cast<double>(shown) * kDecayPerTick);
}
