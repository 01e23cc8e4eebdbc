#pragma once
// A second, deliberately plain implementation of the audio stroke detector,
// written from the detector's description rather than from the device's code,
// used only to check the device bit for bit. It keeps every value that is a
// 32-bit float in the device as a float between steps and does the arithmetic
// inside a step in double: the biquads, the sum of squares, the window's
// square root, the floor decay, the rise test and the history level sum.
// It never runs out of recording time (endless) and takes no clock.

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ref {

struct Stroke {
    std::int64_t fedSamples; // samples fed when the stroke was counted (its window's end)
    std::int32_t interval;
    float level;
    bool operator==(const Stroke&) const = default;
};

class AudioDetector {
public:
    static constexpr std::int32_t kEmpty = 2147483647;

    AudioDetector()
    {
        const double pi = 3.14159265358979323846;
        const float w0 = static_cast<float>(2.0 * pi * 300.0 / 44100.0);
        const float s = static_cast<float>(std::sin(static_cast<double>(w0)));
        const float c = static_cast<float>(std::cos(static_cast<double>(w0)));
        const float alpha = static_cast<float>(static_cast<double>(s) / 2.0);
        const float a0 = static_cast<float>(1.0 + alpha);
        a1 = static_cast<float>(-2.0 * c / a0);
        a2 = static_cast<float>((1.0 - alpha) / a0);
        b0 = static_cast<float>((1.0 + c) / 2.0 / a0);
        b1 = static_cast<float>(-(1.0 + c) / a0);
        b2 = b0;
        emptyHistory();
    }

    // Bytes as they come from the sound card: little-endian signed 16-bit.
    void feed(const unsigned char* bytes, std::int32_t byteCount)
    {
        const std::int32_t n = byteCount / 2;
        for (std::int32_t i = 0; i < n; ++i) {
            const auto raw = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            sample(static_cast<std::int16_t>(raw));
        }
    }
    void feed(const std::vector<std::int16_t>& samples)
    {
        for (const std::int16_t v : samples)
            sample(v);
    }

    float meanIntervalSeconds() const
    {
        std::int32_t n = 0;
        float sum = 0.0f;
        for (const std::int32_t v : intervals)
            if (v < kEmpty) {
                ++n;
                sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(v));
            }
        if (n == 0)
            return 2147483648.0f;
        return static_cast<float>(static_cast<double>(sum) / static_cast<double>(n * 44100));
    }

    std::vector<Stroke> strokes;
    float level = 0.0f;
    std::int32_t count = 0;

private:
    void emptyHistory()
    {
        intervals.fill(kEmpty);
        levels.fill(0.0f);
        gap = 0;
    }

    static float biquadStep(std::array<float, 6>& st, float in, float b0, float b1, float b2, float a1, float a2)
    {
        // st: x0 x1 x2 y0 y1 y2
        st[0] = in;
        st[3] = static_cast<float>(static_cast<double>(b0) * st[0] + static_cast<double>(b1) * st[1] +
                                   static_cast<double>(b2) * st[2] - static_cast<double>(a1) * st[4] -
                                   static_cast<double>(a2) * st[5]);
        st[2] = st[1];
        st[1] = st[0];
        st[5] = st[4];
        st[4] = st[3];
        return st[3];
    }

    void sample(std::int16_t value)
    {
        ++fed;
        const float x = static_cast<float>(value / 32768.0);
        if (static_cast<double>(x) > 0.99975)
            floor = 0.063f;
        else if (static_cast<double>(floor) > 0.0039)
            floor = static_cast<float>(static_cast<double>(floor) - 3.3503401360544216e-7);

        const float u = biquadStep(sec1, x, b0, b1, b2, a1, a2);
        const float v = biquadStep(sec2, u, b0, b1, b2, a1, a2);
        const float r = std::fabs(v);
        sec2[3] = r;

        if (r > level)
            level = r;
        sumSquares = static_cast<float>(static_cast<double>(sumSquares) + static_cast<double>(r) * r);
        ++inWindow;
        if (r > peak) {
            peak = r;
            peakPos = inWindow;
        }
        ++gap;
        if (gap > 44100) {
            emptyHistory();
            strokeSinceEmptied = false;
        }
        if (inWindow != 441)
            return;

        rms = static_cast<float>(std::sqrt(static_cast<double>(sumSquares) / 441.0));
        sumSquares = 0.0f;
        inWindow = 0;
        if (rms < floor)
            rms = floor;
        double levelSum = 0.0;
        for (const float l : levels)
            if (l > 0.0f)
                levelSum += l;
        const bool levelOk = levelSum == 0.0 || static_cast<double>(rms) / (levelSum / 8.0) > 0.35;
        const bool rise = static_cast<double>(rms) > 1.4 * static_cast<double>(prevRms);
        // After a second's silence empties the history, no dead time until the next stroke.
        if (rise && (gap > 1323 || !strokeSinceEmptied) && levelOk) {
            const auto interval = static_cast<std::int32_t>(gap + peakPos - 441);
            ++count;
            intervals[slot] = interval;
            levels[slot] = rms;
            slot = (slot + 1) % 8;
            strokes.push_back({fed, interval, rms});
            gap = 441 - peakPos;
            strokeSinceEmptied = true;
        }
        peak = 0.0f;
        peakPos = 0;
        prevRms = rms;
    }

    float a1 = 0, a2 = 0, b0 = 0, b1 = 0, b2 = 0;
    std::array<float, 6> sec1{};
    std::array<float, 6> sec2{};
    float floor = 0.0039f;
    float prevRms = 0.0039f;
    float rms = 0.0f;
    float sumSquares = 0.0f;
    float peak = 0.0f;
    std::int32_t inWindow = 0;
    std::int32_t peakPos = 0;
    std::int64_t gap = 0;
    bool strokeSinceEmptied = true; // Start holds the dead time too
    std::int64_t fed = 0;
    std::int32_t slot = 0;
    std::array<std::int32_t, 8> intervals{};
    std::array<float, 8> levels{};
};

} // namespace ref
