#pragma once
// The click: which clicks sound at which sample of the output stream, and
// their samples. Standard C++ only, so the playback thread, the timing
// figures and tests share one definition of where every click lies.
//
// A segment is a stretch of click from a known sample of the output stream:
// an optional one-bar count-in (every beat, the first accented), then bars
// of grid points (accent on each bar's first beat when asked, the other
// beats plainly, the points between beats softer), silent in the silent
// bars, for a number of bars or without end. Grid point k (from 0, after the
// count-in) sounds at sample startSample + round((countInPoints + k) *
// samplesPerPoint): within half a sample of the exact grid, and every click
// starts at full level on that very sample, so its onset is exact.
//
// ClickGenerator renders segments into a stream. It allocates only when
// constructed; schedule(), render() and clear() never allocate, lock or
// block, so the playback thread calls them. One thread owns a generator.

#include "analysis/TimingFigures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

enum class ClickKind : std::uint8_t { Accent, Beat, Between };

struct ClickPattern {
    double tempoBpm = 120.0;       // 30..300
    std::int32_t subdivision = 1;  // grid points per beat: 1, 2, 3, 4, 6 or 8
    std::int32_t beatsPerBar = 4;
    bool accent = true;            // the first beat of each bar stands out
    bool countIn = true;           // one bar of beats before the grid
    SilentBars silent;
    float volume = 0.8f;           // 0..1 of full scale
};

struct ClickSegment {
    ClickPattern pattern;
    std::int64_t startSample = 0;  // the first click's sample (the count-in's, when there is one)
    std::int32_t bars = 0;         // timed bars after the count-in; 0 = without end

    double samplesPerPoint(double rate) const { return rate * 60.0 / (pattern.tempoBpm * pattern.subdivision); }
    std::int64_t countInPoints() const
    {
        return pattern.countIn ? std::int64_t{pattern.beatsPerBar} * pattern.subdivision : 0;
    }
    // The sample at which grid point k sounds (k < 0: the count-in).
    std::int64_t sampleOf(std::int64_t point, double rate) const;
    // The sample after the last click's grid step; empty for an endless segment.
    std::optional<std::int64_t> endSample(double rate) const;
    // What sounds at grid point k, if anything.
    std::optional<ClickKind> kindAt(std::int64_t point) const;
    // The grid its strokes are timed against, on a clock latencySamples
    // behind the output stream (the calibrated output-to-input offset).
    TimingGrid grid(double rate, double latencySamples = 0.0) const;
};

// A click the generator put into the stream.
struct RenderedClick {
    std::int64_t sample = 0;
    std::int64_t point = 0;
    ClickKind kind = ClickKind::Beat;
};

class ClickGenerator {
public:
    static constexpr std::size_t kMaxSegments = 4;
    static constexpr double kClickMs = 20.0;

    explicit ClickGenerator(double rate = 44100.0);

    // Adds a segment; false when kMaxSegments are still sounding. Segments
    // that have ended by the render position are dropped first.
    bool schedule(const ClickSegment& segment);
    // Silences everything scheduled (a click already begun is cut off).
    void clear();

    // Renders the next `frames` samples of the stream (from position()), and
    // calls onClick(RenderedClick) for every click that begins in them.
    template <class OnClick>
    void render(std::int16_t* out, std::int32_t frames, OnClick&& onClick);
    void render(std::int16_t* out, std::int32_t frames)
    {
        render(out, frames, [](const RenderedClick&) {});
    }

    std::int64_t position() const { return m_position; }
    // The click's samples (at volume 1) for each kind.
    const std::vector<float>& waveform(ClickKind kind) const { return m_waves[static_cast<std::size_t>(kind)]; }

private:
    void mixSegment(const ClickSegment& segment, std::int64_t from, std::int64_t to);

    double m_rate;
    std::array<std::vector<float>, 3> m_waves;
    std::array<ClickSegment, kMaxSegments> m_segments{};
    std::size_t m_count = 0;
    std::int64_t m_position = 0;
    std::vector<float> m_mix; // one render's worth, grown in the constructor only
    std::array<RenderedClick, 64> m_begun{};
    std::size_t m_begunCount = 0;

public:
    // The most frames one render() call takes (longer calls are split).
    static constexpr std::int32_t kMaxFrames = 4096;
};

template <class OnClick>
void ClickGenerator::render(std::int16_t* out, std::int32_t frames, OnClick&& onClick)
{
    while (frames > 0) {
        const std::int32_t n = frames < kMaxFrames ? frames : kMaxFrames;
        std::fill(m_mix.begin(), m_mix.begin() + n, 0.0f);
        m_begunCount = 0;
        for (std::size_t i = 0; i < m_count; ++i)
            mixSegment(m_segments[i], m_position, m_position + n);
        for (std::int32_t i = 0; i < n; ++i) {
            const float v = std::nearbyint(m_mix[static_cast<std::size_t>(i)] * 32767.0f);
            out[i] = static_cast<std::int16_t>(v > 32767.0f ? 32767.0f : (v < -32768.0f ? -32768.0f : v));
        }
        for (std::size_t i = 0; i < m_begunCount; ++i)
            onClick(m_begun[i]);
        m_position += n;
        out += n;
        frames -= n;
    }
}
