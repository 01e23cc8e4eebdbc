#pragma once
// One biquad filter section and the 300 Hz high-pass both audio detectors run
// their input through. The rounding is part of the detectors' contract: the
// standard detector's reference tests fix its output bit for bit, and the
// fast detector's Level must equal it sample for sample. So every file that
// calls these functions compiles with -ffp-contract=off (a fused multiply-add
// would round differently); the device headers only need the types.
//
// Plain values, no threads of their own: a detector owns its sections and
// steps them on whichever thread feeds it samples. Levels are on the 0..1
// scale of full-scale 16-bit.

#include <cmath>
#include <numbers>

// Normalised coefficients (a0 = 1), stored as float.
struct BiquadCoefficients {
    float b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

// 300 Hz high-pass, Q = 1: keeps the stick's attack, drops stage rumble and
// hum. The named intermediates are rounded to float on purpose; the
// coefficients follow from them in double.
inline BiquadCoefficients highPass300Hz(int sampleRate)
{
    const float w0 = static_cast<float>(2.0 * std::numbers::pi * 300.0 / sampleRate);
    const float s = static_cast<float>(std::sin(static_cast<double>(w0)));
    const float c = static_cast<float>(std::cos(static_cast<double>(w0)));
    const float alpha = static_cast<float>(static_cast<double>(s) / 2.0);
    const float a0 = static_cast<float>(1.0 + static_cast<double>(alpha));
    BiquadCoefficients k;
    k.a1 = static_cast<float>(-2.0 * static_cast<double>(c) / static_cast<double>(a0));
    k.a2 = static_cast<float>((1.0 - static_cast<double>(alpha)) / static_cast<double>(a0));
    k.b0 = static_cast<float>((1.0 + static_cast<double>(c)) / 2.0 / static_cast<double>(a0));
    k.b1 = static_cast<float>(-(1.0 + static_cast<double>(c)) / static_cast<double>(a0));
    k.b2 = k.b0;
    return k;
}

// One section: the current and two previous inputs and outputs.
struct Biquad {
    float x0 = 0, x1 = 0, x2 = 0;
    float y0 = 0, y1 = 0, y2 = 0;

    // Takes x as the new input, returns the new output and shifts the
    // history; the sum is formed in double and rounded to float once. The
    // coefficients come widened to double so a block's loop converts them once.
    float step(float x, double b0, double b1, double b2, double a1, double a2)
    {
        x0 = x;
        y0 = static_cast<float>(b0 * x0 + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2);
        x2 = x1;
        x1 = x0;
        y2 = y1;
        y1 = y0;
        return y0;
    }
};
