#pragma once
// JournalProgress: the series and figures of the journal's progress chart for
// one recording time: every run as a point over its date, the best so far as
// a step line, the best of each week, and a few plain figures under the chart.
//
// Weeks and days are the drummer's local ones (ISO weeks, Monday first), so
// a run at 23:30 on Sunday belongs to that week even where UTC has already
// moved on, and a week that crosses a daylight-saving change or a new year is
// still one week. The zone is a parameter so tests can pin it.
//
// Threads: pure functions; any thread. Units: x values are milliseconds since
// 1970-01-01 UTC (what QDateTimeAxis takes); y values are whatever the caller
// charts (the count, or strokes per minute for endless runs).

#include <QDate>
#include <QPointF>
#include <QString>
#include <QTimeZone>

#include <cstdint>
#include <optional>
#include <vector>

struct ProgressRun {
    std::int64_t startUtcMs = 0;
    double value = 0.0;
    bool record = false;
};

struct ProgressSeries {
    std::vector<QPointF> runs;       // every run, oldest first
    std::vector<QPointF> records;    // the runs that were records when played
    std::vector<QPointF> bestSoFar;  // a step line: flat until a better run, then up
    std::vector<QPointF> weeklyBest; // one point per week with runs, at the week's middle
};

struct ProgressFigures {
    int runs = 0;
    std::optional<double> best;
    std::optional<std::int64_t> bestStartUtcMs; // the first run that reached the best
    std::optional<double> recentChangePercent;  // the last 10 runs' mean against the 10 before them (20 runs or more)
    int daysPractised = 0;
};

// runs in any order; the result is sorted by time. bestBefore: the best of
// the runs before these (when a period is shown), which the best-so-far line
// starts from, so it never dips below a best the drummer already had.
ProgressSeries progressSeries(std::vector<ProgressRun> runs, const QTimeZone& zone,
                              std::optional<double> bestBefore = std::nullopt);
ProgressFigures progressFigures(std::vector<ProgressRun> runs, const QTimeZone& zone);

// The Monday that starts the ISO week holding the local date of utcMs.
QDate weekStart(std::int64_t utcMs, const QTimeZone& zone);

// The date axis of the chart: ticks on whole local hours, days, Mondays,
// months or years, as many as fit (at most maxTicks), each labelled so that
// no two read alike; title says what the labels leave out (the day of a
// chart of hours, the year of a chart of days). from and to are the first
// and last ticks and hold every run with a little room.
struct DateTick {
    std::int64_t utcMs = 0;
    QString label;
};
struct DateAxis {
    std::int64_t fromUtcMs = 0;
    std::int64_t toUtcMs = 0;
    std::vector<DateTick> ticks;
    QString title;
};
DateAxis dateAxis(std::int64_t firstUtcMs, std::int64_t lastUtcMs, const QTimeZone& zone, int maxTicks = 7);
