#pragma once
// Timing against a click: each stroke matched to the nearest point of the
// click's grid, its offset in milliseconds (negative early, positive late),
// and the figures a drummer reads from them. Standard C++ only, beside the
// run figures, so the click window, the speed builder and tempovaro-count
// share one implementation. Pure functions; any thread.
//
// Times are seconds on one clock for the strokes and the grid (the capture's
// sample clock divided by its rate; any latency calibration is already in
// the grid's start).
//
// Choices where the definitions run out:
// - A grid point takes the stroke nearest to it; further strokes nearest to
//   the same point are extra strokes and get no offset. A grid point that no
//   stroke is nearest to is missed.
// - The grid runs from its first point to its end when one is given, else to
//   the point nearest the last stroke. Strokes more than half a grid step
//   outside that (the count-in, after the end) are outside: neither timed
//   nor extra.
// - Drift is the least-squares slope of the offsets over time. With silent
//   bars it is taken over the strokes in them, each silent stretch with its
//   own intercept: a drummer who slides away while the click is silent and
//   back onto it when it returns drifts at the slope of each slide, not of
//   the saw-tooth they make together. Without silent bars (or with fewer
//   than two strokes in them) it is taken over the whole run. Each hand has
//   its own intercept too: hands that sit 5 ms apart are not a drift.
// - Hands alternate: the first stroke given is hand A, the second hand B.
// - The played tempo is the slope of the timed strokes' times over their
//   grid points, turned into beats per minute.
// - Figures that need more strokes than there are (a mean needs one, a
//   spread, slope or tempo two at different times) are empty.

#include <cstdint>
#include <optional>
#include <vector>

// The click's bars that sound and those that are silent: barsOn bars with
// the click, then barsOff without, over and over from the grid's first bar.
// barsOff 0 means the click never falls silent.
struct SilentBars {
    std::int32_t barsOn = 1;
    std::int32_t barsOff = 0;
};

struct TimingGrid {
    double tempoBpm = 120.0;
    std::int32_t subdivision = 1;  // grid points per beat: 1, 2, 3, 4, 6 or 8
    std::int32_t beatsPerBar = 4;
    double startS = 0.0;           // the first grid point (after any count-in)
    std::optional<double> endS;    // the last time that belongs to the grid
    SilentBars silent;

    double stepS() const { return 60.0 / (tempoBpm * subdivision); }
    double timeOf(std::int64_t point) const { return startS + static_cast<double>(point) * stepS(); }
    // True when the bar holding grid point `point` (from 0) has no click.
    bool isSilent(std::int64_t point) const;
};

enum class StrokeFit : std::uint8_t { Timed, Extra, Outside };

struct StrokeTiming {
    double timeS = 0.0;
    StrokeFit fit = StrokeFit::Outside;
    std::int64_t point = -1;   // the grid point it was matched to (Timed and Extra)
    double offsetMs = 0.0;     // to that point; negative early
    bool silent = false;       // its grid point is in a silent bar
    std::uint8_t hand = 0;     // 0 = hand A, 1 = hand B
};

// Offset figures of one set of timed strokes (all, or one hand's).
struct OffsetFigures {
    std::int32_t strokes = 0;
    std::optional<double> meanMs;
    std::optional<double> sdMs;              // population standard deviation
    std::optional<double> within10Percent;   // |offset| <= 10 ms
    std::optional<double> within20Percent;
    std::optional<double> driftMsPerMinute;
};

struct TimingFigures {
    OffsetFigures all;
    OffsetFigures handA;
    OffsetFigures handB;
    std::optional<double> playedTempoBpm;
    bool driftOverSilentBars = false;        // the drift was taken over silent bars only
    std::int32_t gridPoints = 0;
    std::int32_t missedGridPoints = 0;
    std::int32_t extraStrokes = 0;
    std::int32_t outsideStrokes = 0;
};

struct TimingAnalysis {
    TimingFigures figures;
    std::vector<StrokeTiming> strokes;       // one per stroke given, in order
};

// Strokes in order of time (out-of-order times are taken in the order given).
TimingAnalysis analyzeTiming(const std::vector<double>& strokeTimesS, const TimingGrid& grid);

// Percentage of the timed strokes within ±windowMs of their grid point; empty without any.
std::optional<double> percentWithin(const TimingAnalysis& analysis, double windowMs);

// The timing figures in print order with their machine names; milliseconds,
// percentages and tempi are printed to 0.01, counts whole.
struct TimingRow {
    const char* name;
    bool count;
    std::optional<double> value;
};
std::vector<TimingRow> timingRows(const TimingFigures& figures);
