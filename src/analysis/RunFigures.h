#pragma once
// The figures of a run: how fast, how even and how steady the strokes were,
// the speed curve and every interval with its mark, computed from the
// strokes' times. Standard C++ only, so the report window, the journal and
// tempovaro-count share one implementation.
//
// Times are seconds from the run's first stroke (t1 = 0), in order. A run is
// "timed" when it ran for its whole recording time; its figures are then
// measured over that time, otherwise over the span of its strokes.
//
// Choices a drummer would expect where the definitions run out:
// - Interval figures need two strokes, the hand balance three, the
//   suspected doubles and misses four (three intervals, so the median is a
//   real middle interval); below that they are empty, never 0.
// - The neighbourhood of an interval is the up to nine intervals centred on
//   it; at the run's ends it holds the intervals there are (the first
//   interval is judged among itself and the four after it).
// - A timed run of 0 s, or an untimed run whose strokes all share one time,
//   has no rate; an untimed run without strokes has no length either.
// - Times that go backwards (a damaged record) are taken as the previous
//   time, so every figure stays finite.
//
// RunAnalyzer does the work incrementally: strokes are added one at a time
// and each query costs a bounded amount, so a window can follow a run live.
// Not thread-safe; one thread owns an analyzer.

#include "analysis/RunRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct RunFigures {
    std::int32_t strokes = 0;
    std::optional<double> seconds;
    std::optional<double> strokesPerMinute;
    std::optional<double> meanIntervalMs;
    std::optional<double> intervalSdMs;          // population standard deviation
    std::optional<double> evennessCvPercent;
    std::optional<double> longestGapMs;
    std::optional<std::int32_t> bestSecond;      // most strokes in any [t, t + 1 s) from a stroke
    // Runs of at least 20 s only. The first 10 s are [0, 10); the last 10 s
    // cover as long a span at the other end: [T - 10, T) of a timed run of
    // T seconds, (t_last - 10, t_last] otherwise. A steady run so has as many
    // strokes in both and shows no fatigue.
    std::optional<double> first10sPerSecond;
    std::optional<double> last10sPerSecond;
    std::optional<double> fatiguePercent;        // positive when the run got slower
    std::optional<double> handBalancePercent;    // positive when odd-numbered intervals are longer
    std::optional<std::int32_t> suspectedDoubles;
    std::optional<std::int32_t> suspectedMisses;
};

enum class IntervalMark : std::uint8_t { Normal, SuspectedDouble, SuspectedMiss };

// The rate over the second before timeS: the intervals that fall within
// [timeS - 1 s, timeS), an interval cut by the window's edge counting by the
// share of it inside. That is the time average of 1 / (the interval being
// played), 0 before the first stroke and after the last. A steady 12.27/s
// roll reads 12.27 everywhere, where counting whole strokes would read 12 and
// 13 by turns.
struct SpeedPoint {
    double timeS = 0.0;
    double strokesPerSecond = 0.0;
};

// The interval that ends at stroke number `stroke` (2..N).
struct MarkedInterval {
    std::int32_t stroke = 0;
    double ms = 0.0;
    IntervalMark mark = IntervalMark::Normal;
};

// The figures in the order the report lists them, with their machine names
// ("strokes_per_minute") and units, so every printout shows the same set.
enum class FigureUnit { Count, Seconds, Milliseconds, PerMinute, PerSecond, Percent };

struct FigureRow {
    const char* name;
    FigureUnit unit;
    std::optional<double> value;
};

inline constexpr std::size_t kFigureCount = 14;
std::array<FigureRow, kFigureCount> figureRows(const RunFigures& figures);

// Digits after the decimal point a figure of this unit is shown with: times
// to 0.1 ms, rates and percentages to 0.01, counts whole.
int figureDecimals(FigureUnit unit);

class RunAnalyzer {
public:
    // recordingSeconds: the recording time of a timed run; empty otherwise.
    explicit RunAnalyzer(std::optional<double> recordingSeconds = std::nullopt);

    // Adds the next stroke, timeS seconds after the first (the first is 0).
    // Amortised O(1).
    void addStroke(double timeS);

    void reserve(std::size_t strokes);
    std::size_t strokeCount() const { return m_times.size(); }
    const std::vector<double>& times() const { return m_times; }

    // O(1) apart from the marks of the last four intervals.
    RunFigures figures() const;

    // The speed curve: one point each 100 ms from 1 s to the run's end (its
    // recording time when timed, else the last stroke). Points up to the
    // last stroke are final and kept as strokes arrive; those after it are
    // added here.
    std::vector<SpeedPoint> speedCurve() const;
    // The final points only; grows as strokes are added (for live charts).
    const std::vector<SpeedPoint>& settledSpeedCurve() const { return m_speed; }

    // Interval i (0-based, between strokes i + 1 and i + 2) with its mark.
    std::size_t intervalCount() const { return m_times.size() < 2 ? 0 : m_times.size() - 1; }
    MarkedInterval interval(std::size_t i) const;
    // Intervals below this index keep their mark whatever strokes follow.
    std::size_t settledIntervals() const { return m_settledMarks; }

private:
    void settleMarks();
    IntervalMark markOf(std::size_t i) const;
    void extendSpeed(double untilS, std::vector<SpeedPoint>& out, std::size_t& lo, std::size_t& hi,
                     std::int64_t& nextTenth) const;
    double intervalsBefore(double timeS, std::size_t& from) const;
    double runSeconds() const;

    std::optional<double> m_recordingS;
    double m_origin = 0.0;              // the first stroke's time as given
    std::vector<double> m_times;

    // Welford's running mean and sum of squared deviations of the intervals.
    double m_meanS = 0.0;
    double m_m2 = 0.0;
    double m_longestS = 0.0;
    double m_oddSumS = 0.0, m_evenSumS = 0.0;
    std::size_t m_oddCount = 0, m_evenCount = 0;

    std::size_t m_bestLo = 0;           // first stroke less than 1 s before the last
    std::int32_t m_bestSecond = 0;
    std::size_t m_first10 = 0;          // strokes before 10 s
    std::size_t m_lastFrom = 0;         // first stroke of the last 10 s
    std::size_t m_beforeEnd = 0;        // strokes before a timed run's end

    std::vector<IntervalMark> m_marks;  // the settled intervals' marks
    std::size_t m_settledMarks = 0;
    std::int32_t m_settledDoubles = 0, m_settledMisses = 0;

    std::vector<SpeedPoint> m_speed;
    std::size_t m_speedLo = 0, m_speedHi = 0; // the intervals holding the window's edges
    std::int64_t m_nextTenth = 10;      // the next point's time in tenths of a second
};

// The strokes of a record as seconds from its first stroke, in order.
std::vector<double> strokeSeconds(const RunRecord& run);
// The recording time of a record that ran for all of it; empty otherwise.
std::optional<double> timedSeconds(const RunRecord& run);

// Everything the report shows, computed once for a finished run.
struct RunAnalysis {
    RunFigures figures;
    std::vector<SpeedPoint> speed;
    std::vector<MarkedInterval> intervals;
};
RunAnalysis analyzeRun(const std::vector<double>& timesS, std::optional<double> recordingSeconds);
RunAnalysis analyzeRun(const RunRecord& run);
