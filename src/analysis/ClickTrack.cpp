#include "analysis/ClickTrack.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Three clicks a drummer tells apart without looking: the bar's first beat
// high and loud, the other beats lower, the points between them lower and
// soft. Each is a cosine that starts at its peak, so the click's first
// sample is its onset, and dies away within 20 ms (a 4 ms time constant)
// so that even thirty-seconds at 300 BPM (25 ms apart) never overlap.
struct ClickVoice {
    double hz;
    double level;
};
constexpr ClickVoice kVoices[] = {{2000.0, 1.0}, {1500.0, 0.7}, {1000.0, 0.4}};
constexpr double kDecayMs = 4.0;

} // namespace

std::int64_t ClickSegment::sampleOf(std::int64_t point, double rate) const
{
    return startSample + std::llround(static_cast<double>(countInPoints() + point) * samplesPerPoint(rate));
}

std::optional<std::int64_t> ClickSegment::endSample(double rate) const
{
    if (bars <= 0)
        return std::nullopt;
    return sampleOf(std::int64_t{bars} * pattern.beatsPerBar * pattern.subdivision, rate);
}

std::optional<ClickKind> ClickSegment::kindAt(std::int64_t point) const
{
    const std::int64_t sub = pattern.subdivision;
    const std::int64_t perBar = sub * pattern.beatsPerBar;
    if (point < -countInPoints() || (bars > 0 && point >= bars * perBar))
        return std::nullopt;
    const std::int64_t inBar = (point + perBar) % perBar; // the count-in is one whole bar
    if (point < 0 && inBar % sub != 0)
        return std::nullopt;
    if (point >= 0 && TimingGrid{pattern.tempoBpm, pattern.subdivision, pattern.beatsPerBar, 0.0, {}, pattern.silent}
                          .isSilent(point))
        return std::nullopt;
    if (inBar % sub != 0)
        return ClickKind::Between;
    return inBar == 0 && (pattern.accent || point < 0) ? ClickKind::Accent : ClickKind::Beat;
}

TimingGrid ClickSegment::grid(double rate, double latencySamples) const
{
    TimingGrid g;
    g.tempoBpm = pattern.tempoBpm;
    g.subdivision = pattern.subdivision;
    g.beatsPerBar = pattern.beatsPerBar;
    g.silent = pattern.silent;
    g.startS = (static_cast<double>(startSample) + static_cast<double>(countInPoints()) * samplesPerPoint(rate) +
                latencySamples) / rate;
    if (bars > 0)
        g.endS = g.startS + (static_cast<double>(bars) * pattern.beatsPerBar * pattern.subdivision - 0.5) * g.stepS();
    return g;
}

ClickGenerator::ClickGenerator(double rate) : m_rate(rate), m_mix(static_cast<std::size_t>(kMaxFrames), 0.0f)
{
    const auto length = static_cast<std::size_t>(std::llround(kClickMs * rate / 1000.0));
    const double decay = kDecayMs * rate / 1000.0;
    for (std::size_t v = 0; v < m_waves.size(); ++v) {
        m_waves[v].resize(length);
        for (std::size_t i = 0; i < length; ++i)
            m_waves[v][i] = static_cast<float>(kVoices[v].level * std::exp(-static_cast<double>(i) / decay) *
                                               std::cos(2.0 * kPi * kVoices[v].hz * static_cast<double>(i) / rate));
    }
}

bool ClickGenerator::schedule(const ClickSegment& segment)
{
    const auto clickLength = static_cast<std::int64_t>(m_waves[0].size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_count; ++i) {
        const auto end = m_segments[i].endSample(m_rate);
        if (!end || *end + clickLength > m_position)
            m_segments[kept++] = m_segments[i];
    }
    m_count = kept;
    if (m_count == kMaxSegments)
        return false;
    m_segments[m_count++] = segment;
    return true;
}

void ClickGenerator::clear()
{
    m_count = 0;
}

void ClickGenerator::mixSegment(const ClickSegment& segment, std::int64_t from, std::int64_t to)
{
    const ClickPattern& p = segment.pattern;
    if (!(p.tempoBpm > 0.0) || p.subdivision < 1 || p.beatsPerBar < 1)
        return;
    const double step = segment.samplesPerPoint(m_rate);
    const auto length = static_cast<std::int64_t>(m_waves[0].size());
    const float volume = std::clamp(p.volume, 0.0f, 1.0f);
    // The first point whose click may still sound at `from`.
    const double first = std::floor(static_cast<double>(from - length - segment.startSample) / step) - 1.0;
    std::int64_t k = std::max(static_cast<std::int64_t>(first) - segment.countInPoints(), -segment.countInPoints());
    for (;; ++k) {
        const std::int64_t at = segment.sampleOf(k, m_rate);
        if (at >= to)
            break;
        if (segment.bars > 0 && k >= std::int64_t{segment.bars} * p.beatsPerBar * p.subdivision)
            break;
        const auto kind = segment.kindAt(k);
        if (!kind || at + length <= from)
            continue;
        const std::vector<float>& wave = m_waves[static_cast<std::size_t>(*kind)];
        const std::int64_t begin = std::max(at, from), end = std::min(at + length, to);
        for (std::int64_t s = begin; s < end; ++s)
            m_mix[static_cast<std::size_t>(s - from)] += volume * wave[static_cast<std::size_t>(s - at)];
        if (at >= from && m_begunCount < m_begun.size())
            m_begun[m_begunCount++] = RenderedClick{at, k, *kind};
    }
}
