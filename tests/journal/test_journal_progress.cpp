#include "JournalProgress.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

const QTimeZone kBerlin("Europe/Berlin");

std::int64_t local(int y, int m, int d, int h, int min)
{
    return QDateTime(QDate(y, m, d), QTime(h, min), kBerlin).toMSecsSinceEpoch();
}

QDate weekOfPoint(const QPointF& p)
{
    return weekStart(static_cast<std::int64_t>(p.x()), kBerlin);
}

} // namespace

// A week that holds New Year and one that holds the spring clock change each
// stay one week; late-evening runs belong to the local day, not the UTC one.
TEST(JournalProgress, WeeklyBestFollowsLocalIsoWeeks)
{
    const std::vector<ProgressRun> runs = {
        {local(2025, 12, 29, 18, 0), 300, false}, // Monday of the week holding New Year
        {local(2026, 1, 4, 23, 30), 310, false},  // its Sunday, late in the evening
        {local(2026, 1, 5, 0, 30), 290, false},   // next Monday, 23:30 UTC on Sunday
        {local(2026, 3, 23, 19, 0), 320, false},  // week of the spring change (Sun 29 Mar)
        {local(2026, 3, 29, 23, 45), 330, false}, // after the change, same local week
        {local(2026, 3, 30, 0, 15), 280, false},  // next week, though UTC still says the 29th
    };
    const ProgressSeries s = progressSeries(runs, kBerlin);
    ASSERT_EQ(s.weeklyBest.size(), 4u);
    EXPECT_EQ(weekOfPoint(s.weeklyBest[0]), QDate(2025, 12, 29));
    EXPECT_EQ(s.weeklyBest[0].y(), 310);
    EXPECT_EQ(weekOfPoint(s.weeklyBest[1]), QDate(2026, 1, 5));
    EXPECT_EQ(s.weeklyBest[1].y(), 290);
    EXPECT_EQ(weekOfPoint(s.weeklyBest[2]), QDate(2026, 3, 23));
    EXPECT_EQ(s.weeklyBest[2].y(), 330);
    EXPECT_EQ(weekOfPoint(s.weeklyBest[3]), QDate(2026, 3, 30));
    // Each weekly point sits at Thursday noon local time of its week.
    const QDateTime mid = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(s.weeklyBest[2].x()), kBerlin);
    EXPECT_EQ(mid.date(), QDate(2026, 3, 26));
    EXPECT_EQ(mid.time(), QTime(12, 0));

    const ProgressFigures f = progressFigures(runs, kBerlin);
    EXPECT_EQ(f.runs, 6);
    EXPECT_EQ(f.daysPractised, 6);
    ASSERT_TRUE(f.best);
    EXPECT_EQ(*f.best, 330);
    EXPECT_EQ(*f.bestStartUtcMs, local(2026, 3, 29, 23, 45));
}

// The best-so-far line only steps up, holds flat between records, reaches the
// last run, and ignores the order runs arrive in.
TEST(JournalProgress, BestSoFarIsAStepLine)
{
    const std::int64_t day = 86400000;
    const std::int64_t t0 = local(2026, 6, 1, 12, 0);
    const std::vector<ProgressRun> runs = {
        {t0 + 3 * day, 95, false}, {t0, 100, true}, {t0 + day, 120, true}, {t0 + 2 * day, 120, false}};
    const ProgressSeries s = progressSeries(runs, kBerlin);
    ASSERT_EQ(s.runs.size(), 4u);
    EXPECT_EQ(s.runs.front().x(), static_cast<qreal>(t0));
    const std::vector<QPointF> expected = {{qreal(t0), 100},
                                           {qreal(t0 + day), 100},
                                           {qreal(t0 + day), 120},
                                           {qreal(t0 + 3 * day), 120}};
    EXPECT_EQ(s.bestSoFar, expected);
    ASSERT_EQ(s.records.size(), 2u);
    EXPECT_EQ(s.records[1].y(), 120);
    // Equal to the best is not better: the first run that reached it counts.
    EXPECT_EQ(*progressFigures(runs, kBerlin).bestStartUtcMs, t0 + day);
}

TEST(JournalProgress, RecentChangeComparesTheLastTenWithTheTenBefore)
{
    std::vector<ProgressRun> runs;
    const std::int64_t t0 = local(2026, 1, 1, 10, 0);
    for (int i = 0; i < 25; ++i) // 5 oldest at 50 are outside both groups
        runs.push_back({t0 + i * 3600000LL, i < 5 ? 50.0 : (i < 15 ? 200.0 : 220.0), false});
    const ProgressFigures f = progressFigures(runs, kBerlin);
    ASSERT_TRUE(f.recentChangePercent);
    EXPECT_NEAR(*f.recentChangePercent, 10.0, 1e-9);
    EXPECT_EQ(f.daysPractised, 2);

    runs.resize(10); // ten runs: nothing before them to compare with
    EXPECT_FALSE(progressFigures(runs, kBerlin).recentChangePercent);
    runs.resize(0);
    const ProgressFigures empty = progressFigures(runs, kBerlin);
    EXPECT_EQ(empty.runs, 0);
    EXPECT_FALSE(empty.best);
    EXPECT_TRUE(progressSeries(runs, kBerlin).bestSoFar.empty());
}
