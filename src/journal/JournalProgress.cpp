#include "JournalProgress.h"

#include <QDateTime>

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

ProgressSeries progressSeries(std::vector<ProgressRun> runs, const QTimeZone& zone)
{
    sortByTime(runs);
    ProgressSeries out;
    out.runs.reserve(runs.size());

    std::optional<double> best;
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

    // The newest ten against the up to ten before them; with no earlier run
    // there is nothing to compare, and a zero mean has no percentage.
    const auto n = static_cast<std::ptrdiff_t>(runs.size());
    const std::ptrdiff_t recent = std::min<std::ptrdiff_t>(10, n);
    const std::ptrdiff_t earlier = std::min<std::ptrdiff_t>(10, n - recent);
    if (earlier > 0) {
        const auto recentBegin = runs.cend() - recent;
        const double before = mean(recentBegin - earlier, recentBegin);
        if (before > 0.0)
            f.recentChangePercent = 100.0 * (mean(recentBegin, runs.cend()) / before - 1.0);
    }
    return f;
}
