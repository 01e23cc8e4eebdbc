#include "analysis/RunFigures.h"

#include <algorithm>
#include <cmath>

namespace {

// A stroke this far below or above the tempo around it is more likely a
// bounce counted twice or a stroke the trigger missed than a player's lapse.
constexpr double kDoubleBelow = 0.5;
constexpr double kMissAbove = 1.75;
constexpr std::size_t kHalfNeighbourhood = 4; // nine intervals: four either side
constexpr std::size_t kMinIntervalsForMarks = 3;
constexpr double kFatigueMinS = 20.0;
constexpr double kEdgeS = 10.0;
// Times within a nanosecond are the same time: far below the finest tick
// (100 ns), and far above the rounding of "0.3 s plus 1 s" in doubles, which
// would otherwise put a stroke at 1.3 s inside the second from 0.3 s.
constexpr double kSameTimeS = 1e-9;

// Which second or which 10 s a stroke falls in is judged to the millisecond,
// the precision of an onset: a stroke of an even roll that lands on a window's
// edge then belongs to the same window whichever way its onset wobbled by a
// sample. Intervals keep the full precision.
double toMs(double timeS)
{
    return std::nearbyint(timeS * 1000.0) / 1000.0;
}

// The median of nine by a fixed network of 19 compare-exchanges (Paeth's):
// no branches to mispredict, which is most of the cost of marking a run.
double medianOfNine(std::array<double, 9>& p)
{
    const auto order = [&p](int a, int b) {
        const double lo = std::min(p[a], p[b]);
        p[b] = std::max(p[a], p[b]);
        p[a] = lo;
    };
    order(1, 2), order(4, 5), order(7, 8);
    order(0, 1), order(3, 4), order(6, 7);
    order(1, 2), order(4, 5), order(7, 8);
    order(0, 3), order(5, 8), order(4, 7);
    order(3, 6), order(1, 4), order(2, 5);
    order(4, 7), order(4, 2), order(6, 4);
    order(4, 2);
    return p[4];
}

std::optional<double> scaled(std::optional<std::int32_t> v)
{
    return v ? std::optional<double>(*v) : std::nullopt;
}

} // namespace

RunAnalyzer::RunAnalyzer(std::optional<double> recordingSeconds) : m_recordingS(recordingSeconds) {}

void RunAnalyzer::reserve(std::size_t strokes)
{
    m_times.reserve(strokes);
    m_marks.reserve(strokes);
}

double RunAnalyzer::runSeconds() const
{
    if (m_recordingS)
        return *m_recordingS;
    return m_times.empty() ? 0.0 : m_times.back();
}

void RunAnalyzer::addStroke(double timeS)
{
    if (m_times.empty()) {
        m_origin = timeS;
        timeS = 0.0;
    } else {
        timeS = std::max(timeS - m_origin, m_times.back());
    }
    if (!std::isfinite(timeS))
        timeS = m_times.empty() ? 0.0 : m_times.back();

    if (!m_times.empty()) {
        const double d = timeS - m_times.back();
        const std::size_t index = m_times.size() - 1;
        const double count = static_cast<double>(index + 1);
        const double delta = d - m_meanS;
        m_meanS += delta / count;
        m_m2 += delta * (d - m_meanS);
        m_longestS = std::max(m_longestS, d);
        // Index 0 is d1: the odd-numbered intervals sit at even indices.
        if (index % 2 == 0) {
            m_oddSumS += d;
            ++m_oddCount;
        } else {
            m_evenSumS += d;
            ++m_evenCount;
        }
    }
    m_times.push_back(timeS);

    while (toMs(timeS) - toMs(m_times[m_bestLo]) >= 1.0 - kSameTimeS)
        ++m_bestLo;
    m_bestSecond = std::max(m_bestSecond, static_cast<std::int32_t>(m_times.size() - m_bestLo));
    if (toMs(timeS) < kEdgeS - kSameTimeS)
        ++m_first10;
    // The last 10 s mirror the first: a timed run's [T - 10, T) is as long
    // a half-open span as [0, 10). An untimed run ends at its last stroke,
    // which belongs to it, so there the span is (t_last - 10, t_last].
    const double lastEdge = toMs(runSeconds()) - kEdgeS;
    if (m_recordingS) {
        if (timeS < *m_recordingS - kSameTimeS)
            ++m_beforeEnd;
        while (m_lastFrom < m_times.size() && toMs(m_times[m_lastFrom]) < lastEdge - kSameTimeS)
            ++m_lastFrom;
    } else {
        while (m_lastFrom < m_times.size() && toMs(m_times[m_lastFrom]) <= lastEdge + kSameTimeS)
            ++m_lastFrom;
    }

    settleMarks();
    const double speedUntil = m_recordingS ? std::min(timeS, *m_recordingS) : timeS;
    extendSpeed(speedUntil, m_speed, m_speedLo, m_speedHi, m_nextTenth);
}

void RunAnalyzer::settleMarks()
{
    const std::size_t intervals = intervalCount();
    // An interval's mark is final once all four intervals after it exist.
    while (m_settledMarks + kHalfNeighbourhood < intervals) {
        const IntervalMark mark = markOf(m_settledMarks);
        m_marks.push_back(mark);
        m_settledDoubles += mark == IntervalMark::SuspectedDouble ? 1 : 0;
        m_settledMisses += mark == IntervalMark::SuspectedMiss ? 1 : 0;
        ++m_settledMarks;
    }
}

// How many intervals were played by timeS: whole ones, plus the share of the
// one in progress. It rises from 0 at the first stroke to N - 1 at the last,
// without jumps, so a time a hair off a stroke changes it by a hair.
// `from` is where the last search ended; times asked for never go back.
double RunAnalyzer::intervalsBefore(double timeS, std::size_t& from) const
{
    const std::size_t n = m_times.size();
    if (n < 2 || timeS <= m_times.front())
        return 0.0;
    while (from + 1 < n && m_times[from + 1] <= timeS)
        ++from;
    if (from + 1 >= n)
        return static_cast<double>(n - 1);
    return static_cast<double>(from) + (timeS - m_times[from]) / (m_times[from + 1] - m_times[from]);
}

void RunAnalyzer::extendSpeed(double untilS, std::vector<SpeedPoint>& out, std::size_t& lo, std::size_t& hi,
                              std::int64_t& nextTenth) const
{
    for (;;) {
        const double endS = static_cast<double>(nextTenth) / 10.0;
        if (endS > untilS + kSameTimeS)
            break;
        const double startS = static_cast<double>(nextTenth - 10) / 10.0;
        const double rate = intervalsBefore(endS, hi) - intervalsBefore(startS, lo);
        out.push_back({endS, rate});
        ++nextTenth;
    }
}

std::vector<SpeedPoint> RunAnalyzer::speedCurve() const
{
    std::vector<SpeedPoint> curve = m_speed;
    if (m_recordingS && !m_times.empty()) {
        std::size_t lo = m_speedLo, hi = m_speedHi;
        std::int64_t next = m_nextTenth;
        extendSpeed(*m_recordingS, curve, lo, hi, next);
    }
    return curve;
}

MarkedInterval RunAnalyzer::interval(std::size_t i) const
{
    const double d = m_times[i + 1] - m_times[i];
    return {static_cast<std::int32_t>(i + 2), d * 1000.0, i < m_marks.size() ? m_marks[i] : markOf(i)};
}

IntervalMark RunAnalyzer::markOf(std::size_t i) const
{
    const std::size_t count = intervalCount();
    if (count < kMinIntervalsForMarks)
        return IntervalMark::Normal;
    const double d = m_times[i + 1] - m_times[i];

    const std::size_t first = i >= kHalfNeighbourhood ? i - kHalfNeighbourhood : 0;
    const std::size_t last = std::min(count - 1, i + kHalfNeighbourhood);
    std::array<double, 2 * kHalfNeighbourhood + 1> window{};
    std::size_t n = 0;
    for (std::size_t k = first; k <= last; ++k)
        window[n++] = m_times[k + 1] - m_times[k];
    double median = 0.0;
    if (n == window.size()) {
        median = medianOfNine(window);
    } else {
        // The run's ends: fewer intervals, sorted the plain way.
        std::sort(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(n));
        median = n % 2 == 1 ? window[n / 2] : (window[n / 2 - 1] + window[n / 2]) / 2.0;
    }

    if (d < kDoubleBelow * median)
        return IntervalMark::SuspectedDouble;
    if (d > kMissAbove * median)
        return IntervalMark::SuspectedMiss;
    return IntervalMark::Normal;
}

RunFigures RunAnalyzer::figures() const
{
    RunFigures f;
    const std::size_t n = m_times.size();
    f.strokes = static_cast<std::int32_t>(n);
    if (m_recordingS)
        f.seconds = *m_recordingS;
    else if (n > 0)
        f.seconds = m_times.back();

    if (m_recordingS) {
        if (*m_recordingS > 0.0)
            f.strokesPerMinute = 60.0 * static_cast<double>(n) / *m_recordingS;
    } else if (n >= 2 && m_times.back() > 0.0) {
        f.strokesPerMinute = 60.0 * static_cast<double>(n - 1) / m_times.back();
    }

    const std::size_t intervals = intervalCount();
    if (intervals >= 1) {
        f.meanIntervalMs = m_meanS * 1000.0;
        f.intervalSdMs = std::sqrt(m_m2 / static_cast<double>(intervals)) * 1000.0;
        if (m_meanS > 0.0)
            f.evennessCvPercent = 100.0 * *f.intervalSdMs / *f.meanIntervalMs;
        f.longestGapMs = m_longestS * 1000.0;
    }
    if (n >= 1)
        f.bestSecond = m_bestSecond;

    if (f.seconds && *f.seconds >= kFatigueMinS) {
        f.first10sPerSecond = static_cast<double>(m_first10) / kEdgeS;
        const std::size_t lastEnd = m_recordingS ? m_beforeEnd : n;
        f.last10sPerSecond = static_cast<double>(lastEnd > m_lastFrom ? lastEnd - m_lastFrom : 0) / kEdgeS;
        if (*f.first10sPerSecond > 0.0)
            f.fatiguePercent = 100.0 * (1.0 - *f.last10sPerSecond / *f.first10sPerSecond);
    }

    if (m_oddCount > 0 && m_evenCount > 0 && m_meanS > 0.0) {
        const double odd = m_oddSumS / static_cast<double>(m_oddCount);
        const double even = m_evenSumS / static_cast<double>(m_evenCount);
        f.handBalancePercent = 100.0 * (odd - even) / m_meanS;
    }

    if (intervals >= kMinIntervalsForMarks) {
        std::int32_t doubles = m_settledDoubles, misses = m_settledMisses;
        for (std::size_t i = m_settledMarks; i < intervals; ++i) {
            const IntervalMark mark = markOf(i);
            doubles += mark == IntervalMark::SuspectedDouble ? 1 : 0;
            misses += mark == IntervalMark::SuspectedMiss ? 1 : 0;
        }
        f.suspectedDoubles = doubles;
        f.suspectedMisses = misses;
    }
    return f;
}

std::array<FigureRow, kFigureCount> figureRows(const RunFigures& f)
{
    using U = FigureUnit;
    return {{
        {"strokes", U::Count, static_cast<double>(f.strokes)},
        {"seconds", U::Seconds, f.seconds},
        {"strokes_per_minute", U::PerMinute, f.strokesPerMinute},
        {"mean_interval_ms", U::Milliseconds, f.meanIntervalMs},
        {"interval_sd_ms", U::Milliseconds, f.intervalSdMs},
        {"evenness_cv_percent", U::Percent, f.evennessCvPercent},
        {"longest_gap_ms", U::Milliseconds, f.longestGapMs},
        {"best_second", U::Count, scaled(f.bestSecond)},
        {"first_10s_per_second", U::PerSecond, f.first10sPerSecond},
        {"last_10s_per_second", U::PerSecond, f.last10sPerSecond},
        {"fatigue_percent", U::Percent, f.fatiguePercent},
        {"hand_balance_percent", U::Percent, f.handBalancePercent},
        {"suspected_doubles", U::Count, scaled(f.suspectedDoubles)},
        {"suspected_misses", U::Count, scaled(f.suspectedMisses)},
    }};
}

int figureDecimals(FigureUnit unit)
{
    switch (unit) {
    case FigureUnit::Count:
        return 0;
    case FigureUnit::Seconds:
        return 4;
    case FigureUnit::Milliseconds:
        return 1;
    case FigureUnit::PerMinute:
    case FigureUnit::PerSecond:
    case FigureUnit::Percent:
        return 2;
    }
    return 2;
}

std::vector<double> strokeSeconds(const RunRecord& run)
{
    std::vector<double> times;
    if (run.strokes.empty() || run.ticksPerSecond <= 0)
        return times;
    std::vector<std::int64_t> ticks;
    ticks.reserve(run.strokes.size());
    for (const auto& s : run.strokes)
        ticks.push_back(s.tick);
    // Events leave the device in order; a record that says otherwise was
    // damaged on the way, and its strokes are still the drummer's.
    if (!std::is_sorted(ticks.begin(), ticks.end()))
        std::sort(ticks.begin(), ticks.end());
    times.reserve(ticks.size());
    const double perSecond = static_cast<double>(run.ticksPerSecond);
    for (const std::int64_t tick : ticks)
        times.push_back(static_cast<double>(tick - ticks.front()) / perSecond);
    return times;
}

std::optional<double> timedSeconds(const RunRecord& run)
{
    if (run.recordingTimeMs >= 0 && run.ranToEnd)
        return static_cast<double>(run.recordingTimeMs) / 1000.0;
    return std::nullopt;
}

RunAnalysis analyzeRun(const std::vector<double>& timesS, std::optional<double> recordingSeconds)
{
    RunAnalyzer analyzer(recordingSeconds);
    analyzer.reserve(timesS.size());
    for (const double t : timesS)
        analyzer.addStroke(t);
    RunAnalysis result;
    result.figures = analyzer.figures();
    result.speed = analyzer.speedCurve();
    result.intervals.reserve(analyzer.intervalCount());
    for (std::size_t i = 0; i < analyzer.intervalCount(); ++i)
        result.intervals.push_back(analyzer.interval(i));
    return result;
}

RunAnalysis analyzeRun(const RunRecord& run)
{
    return analyzeRun(strokeSeconds(run), timedSeconds(run));
}
