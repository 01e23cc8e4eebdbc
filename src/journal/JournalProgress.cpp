#include "journal/JournalProgress.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <map>
#include <numeric>
#include <set>

namespace {

void sortByTime(std::vector<ProgressRun>& runs)
{
    std::stable_sort(runs.begin(), runs.end(),
                     [](const ProgressRun& a, const ProgressRun& b) { return a.startUtcMs < b.startUtcMs; });
}

QDate localDate(std::int64_t utcMs, const QTimeZone& zone)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, zone).date();
}

double mean(std::vector<ProgressRun>::const_iterator first, std::vector<ProgressRun>::const_iterator last)
{
    const double sum =
        std::accumulate(first, last, 0.0, [](double s, const ProgressRun& r) { return s + r.value; });
    return sum / static_cast<double>(last - first);
}

} // namespace

QDate weekStart(std::int64_t utcMs, const QTimeZone& zone)
{
    const QDate day = localDate(utcMs, zone);
    return day.addDays(1 - day.dayOfWeek());
}

ProgressSeries progressSeries(std::vector<ProgressRun> runs, const QTimeZone& zone, std::optional<double> bestBefore)
{
    sortByTime(runs);
    ProgressSeries out;
    out.runs.reserve(runs.size());

    std::optional<double> best = bestBefore;
    if (best && !runs.empty())
        out.bestSoFar.emplace_back(static_cast<qreal>(runs.front().startUtcMs), *best);
    // Weeks keyed by their Monday; the map keeps them in date order.
    std::map<QDate, double> weekly;
    for (const ProgressRun& r : runs) {
        const auto x = static_cast<qreal>(r.startUtcMs);
        out.runs.emplace_back(x, r.value);
        if (r.record)
            out.records.emplace_back(x, r.value);
        if (!best) {
            out.bestSoFar.emplace_back(x, r.value);
            best = r.value;
        } else if (r.value > *best) {
            // Hold the old best up to this run, then step up: the line never
            // slopes, so it reads as "the best you had on that day".
            out.bestSoFar.emplace_back(x, *best);
            out.bestSoFar.emplace_back(x, r.value);
            best = r.value;
        }
        const QDate week = weekStart(r.startUtcMs, zone);
        auto [it, inserted] = weekly.try_emplace(week, r.value);
        if (!inserted)
            it->second = std::max(it->second, r.value);
    }
    if (!runs.empty())
        out.bestSoFar.emplace_back(static_cast<qreal>(runs.back().startUtcMs), *best);

    out.weeklyBest.reserve(weekly.size());
    for (const auto& [monday, value] : weekly) {
        // Thursday noon, local: the middle of the week whatever its length in
        // hours across a clock change.
        const QDateTime middle(monday.addDays(3), QTime(12, 0), zone);
        out.weeklyBest.emplace_back(static_cast<qreal>(middle.toMSecsSinceEpoch()), value);
    }
    return out;
}

ProgressFigures progressFigures(std::vector<ProgressRun> runs, const QTimeZone& zone)
{
    sortByTime(runs);
    ProgressFigures f;
    f.runs = static_cast<int>(runs.size());
    std::set<QDate> days;
    for (const ProgressRun& r : runs) {
        if (!f.best || r.value > *f.best) {
            f.best = r.value;
            f.bestStartUtcMs = r.startUtcMs;
        }
        days.insert(localDate(r.startUtcMs, zone));
    }
    f.daysPractised = static_cast<int>(days.size());

    // The newest ten against the ten before them: with fewer, the two groups
    // would not be alike (ten runs against four says more about those four
    // than about progress). A zero mean has no percentage.
    constexpr std::ptrdiff_t kGroup = 10;
    if (static_cast<std::ptrdiff_t>(runs.size()) >= 2 * kGroup) {
        const auto recentBegin = runs.cend() - kGroup;
        const double before = mean(recentBegin - kGroup, recentBegin);
        if (before > 0.0)
            f.recentChangePercent = 100.0 * (mean(recentBegin, runs.cend()) / before - 1.0);
    }
    return f;
}

namespace {

enum class DateUnit { Hour, Day, Week, Month, Year };

struct DateStep {
    DateUnit unit;
    int count;
};

// From the finest to the coarsest; the first that fits is taken.
constexpr DateStep kDateSteps[] = {
    {DateUnit::Hour, 1},  {DateUnit::Hour, 2},  {DateUnit::Hour, 3},  {DateUnit::Hour, 6},  {DateUnit::Hour, 12},
    {DateUnit::Day, 1},   {DateUnit::Day, 2},   {DateUnit::Week, 1},  {DateUnit::Week, 2},  {DateUnit::Month, 1},
    {DateUnit::Month, 2}, {DateUnit::Month, 3}, {DateUnit::Month, 6}, {DateUnit::Year, 1},  {DateUnit::Year, 2},
    {DateUnit::Year, 5},  {DateUnit::Year, 10}, {DateUnit::Year, 25}, {DateUnit::Year, 100},
};

int floorTo(int value, int step)
{
    return value - ((value % step) + step) % step;
}

// A wall-clock moment; one that a spring clock change skipped is taken as
// the hour after it, when the clock shows that time again.
QDateTime wallClock(QDate day, int hour, const QTimeZone& zone)
{
    const QDateTime moment(day, QTime(hour, 0), zone);
    return moment.isValid() ? moment : QDateTime(day, QTime(hour, 0).addSecs(3600), zone);
}

// The last boundary of the step at or before `local`.
QDateTime floorTo(const QDateTime& local, DateStep step, const QTimeZone& zone)
{
    const QDate day = local.date();
    switch (step.unit) {
    case DateUnit::Hour:
        return wallClock(day, floorTo(local.time().hour(), step.count), zone);
    case DateUnit::Day:
        return wallClock(day.addDays(-(day.toJulianDay() % step.count)), 0, zone);
    case DateUnit::Week: {
        const QDate monday = day.addDays(1 - day.dayOfWeek());
        return wallClock(monday.addDays(-7 * ((monday.toJulianDay() / 7) % step.count)), 0, zone);
    }
    case DateUnit::Month:
        return wallClock(QDate(day.year(), floorTo(day.month() - 1, step.count) + 1, 1), 0, zone);
    case DateUnit::Year:
        return wallClock(QDate(floorTo(day.year(), step.count), 1, 1), 0, zone);
    }
    return local;
}

QDateTime advance(const QDateTime& tick, DateStep step, const QTimeZone& zone)
{
    QDateTime next;
    switch (step.unit) {
    case DateUnit::Hour: {
        // Whole hours of the wall clock, also across a clock change; the
        // hour steps divide a day, so a tick past midnight lands on it.
        const int hour = tick.time().hour() + step.count;
        next = hour < 24 ? wallClock(tick.date(), hour, zone) : wallClock(tick.date().addDays(1), hour - 24, zone);
        break;
    }
    case DateUnit::Day:
        next = wallClock(tick.date().addDays(step.count), 0, zone);
        break;
    case DateUnit::Week:
        next = wallClock(tick.date().addDays(7 * step.count), 0, zone);
        break;
    case DateUnit::Month:
        next = wallClock(tick.date().addMonths(step.count), 0, zone);
        break;
    case DateUnit::Year:
        next = wallClock(tick.date().addYears(step.count), 0, zone);
        break;
    }
    // An hour the autumn change repeats, or a skipped hour taken late.
    return next > tick ? next : tick.addSecs(3600LL * step.count);
}

QString tickLabel(const QDateTime& tick, DateUnit unit)
{
    const QLocale locale;
    switch (unit) {
    case DateUnit::Hour:
        return locale.toString(tick.time(), QStringLiteral("HH:mm"));
    case DateUnit::Day:
    case DateUnit::Week:
        return locale.toString(tick.date(), QStringLiteral("d MMM"));
    case DateUnit::Month:
        return locale.toString(tick.date(), QStringLiteral("MMM yyyy"));
    case DateUnit::Year:
        return QString::number(tick.date().year());
    }
    return QString();
}

} // namespace

DateAxis dateAxis(std::int64_t firstUtcMs, std::int64_t lastUtcMs, const QTimeZone& zone, int maxTicks)
{
    if (lastUtcMs < firstUtcMs)
        std::swap(firstUtcMs, lastUtcMs);
    // A little room either side, so a run is never drawn on the frame.
    const std::int64_t pad = std::max<std::int64_t>((lastUtcMs - firstUtcMs) / 40, 5 * 60'000);
    const QDateTime low = QDateTime::fromMSecsSinceEpoch(firstUtcMs - pad, zone);
    const QDateTime high = QDateTime::fromMSecsSinceEpoch(lastUtcMs + pad, zone);

    DateAxis axis;
    for (const DateStep step : kDateSteps) {
        std::vector<QDateTime> ticks{floorTo(low, step, zone)};
        while (ticks.back() < high && static_cast<int>(ticks.size()) <= maxTicks)
            ticks.push_back(advance(ticks.back(), step, zone));
        if (static_cast<int>(ticks.size()) > maxTicks && step.unit != DateUnit::Year)
            continue;
        axis.fromUtcMs = ticks.front().toMSecsSinceEpoch();
        axis.toUtcMs = ticks.back().toMSecsSinceEpoch();
        for (const QDateTime& t : ticks)
            axis.ticks.push_back({t.toMSecsSinceEpoch(), tickLabel(t, step.unit)});
        const QLocale locale;
        const QDate firstDay = QDateTime::fromMSecsSinceEpoch(firstUtcMs, zone).date();
        const QDate lastDay = QDateTime::fromMSecsSinceEpoch(lastUtcMs, zone).date();
        if (step.unit == DateUnit::Hour) {
            axis.title = locale.toString(firstDay, QLocale::LongFormat);
            if (lastDay != firstDay)
                axis.title += QStringLiteral(" \u2013 ") + locale.toString(lastDay, QLocale::LongFormat);
        } else if (step.unit == DateUnit::Day || step.unit == DateUnit::Week) {
            axis.title = QString::number(firstDay.year());
            if (lastDay.year() != firstDay.year())
                axis.title += QStringLiteral("\u2013") + QString::number(lastDay.year());
        }
        break;
    }
    return axis;
}
