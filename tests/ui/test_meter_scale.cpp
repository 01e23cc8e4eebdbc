// The device dialog's meter arithmetic: decibel scale, clipping, peak hold.

#include "MeterScale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct ScaleRow {
    const char* what;
    float level;
    float position;
};

// Positions worked out by hand from the scale: 20 log10(level) / 90.309 + 1,
// less 0.4685, times 1.881.
const ScaleRow kScale[] = {
    {"full scale", 1.0f, 0.99975f},
    {"-6 dB", 0.5f, 0.87435f},
    {"-20 dB", 0.1f, 0.58318f},
    {"just above the bottom (-47.96 dB)", 0.004f, 0.00084f},
    {"just below the bottom (-48.2 dB)", 0.0039f, 0.0f},
    {"one 16-bit step", 1.0f / 32768.0f, 0.0f},
    {"silence", 0.0f, 0.0f},
    {"no level at all", std::numeric_limits<float>::quiet_NaN(), 0.0f},
};

} // namespace

TEST(MeterScale, AudioLevelsOnTheDecibelScale)
{
    for (const ScaleRow& row : kScale)
        EXPECT_NEAR(audioMeterPosition(row.level), row.position, 1e-5) << row.what;
}

TEST(MeterScale, ClipsAtTheFloatNearest0999AndAbove)
{
    EXPECT_TRUE(meterClips(0.999f));
    EXPECT_TRUE(meterClips(1.0f));
    EXPECT_FALSE(meterClips(0.998f));
    EXPECT_FALSE(meterClips(0.0f));
}

TEST(MeterScale, PeakHoldRisesAtOnceAndFallsByATenthPerTick)
{
    EXPECT_EQ(meterPeakHold(0.2f, 0.7f), 0.7f);
    // Equal or quieter: the bar falls, it does not stay.
    EXPECT_EQ(meterPeakHold(0.5f, 0.5f), static_cast<float>(0.5 * 0.9));
    float shown = 1.0f;
    for (int tick = 0; tick < 10; ++tick)
        shown = meterPeakHold(shown, 0.0f);
    EXPECT_NEAR(shown, std::pow(0.9, 10), 1e-6);
}
