// The device dialog's meter arithmetic: decibel scale, clipping, peak hold.

#include "ui/common/MeterScale.h"

#include <gtest/gtest.h>

#include <limits>

TEST(MeterScale, AudioLevelsOnTheDecibelScale)
{
    // Worked out by hand: 20 log10(level) / 90.309 + 1, less 0.4685, times 1.881.
    const struct {
        const char* what;
        float level, position;
    } rows[] = {
        {"full scale", 1.0f, 0.99975f},
        {"-6 dB", 0.5f, 0.87435f},
        {"-20 dB", 0.1f, 0.58318f},
        {"just above the bottom (-47.96 dB)", 0.004f, 0.00084f},
        {"just below the bottom (-48.2 dB)", 0.0039f, 0.0f},
        {"silence", 0.0f, 0.0f},
        {"no level at all", std::numeric_limits<float>::quiet_NaN(), 0.0f},
    };
    for (const auto& row : rows)
        EXPECT_NEAR(audioMeterPosition(row.level), row.position, 1e-5) << row.what;
}

TEST(MeterScale, ClippingAndPeakHold)
{
    // The float nearest 0.999 lies above it: compared in float it would not clip.
    EXPECT_TRUE(meterClips(0.999f));
    EXPECT_FALSE(meterClips(0.998f));
    EXPECT_EQ(meterPeakHold(0.2f, 0.7f), 0.7f);
    // An equal level does not hold the bar: it falls by a tenth.
    EXPECT_EQ(meterPeakHold(0.5f, 0.5f), static_cast<float>(0.5 * 0.9));
}
