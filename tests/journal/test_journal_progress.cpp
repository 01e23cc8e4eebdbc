#include "analysis/AxisScale.h"
#include "journal/JournalProgress.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>
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

    // Within a period the line carries the best from before it: flat at 110
    // until the 120, never down at the period's first run.
    const ProgressSeries period = progressSeries(runs, kBerlin, 110.0);
    const std::vector<QPointF> carried = {{qreal(t0), 110},
                                          {qreal(t0 + day), 110},
                                          {qreal(t0 + day), 120},
                                          {qreal(t0 + 3 * day), 120}};
    EXPECT_EQ(period.bestSoFar, carried);
    const std::vector<QPointF> above = {{qreal(t0), 130}, {qreal(t0 + 3 * day), 130}};
    EXPECT_EQ(progressSeries(runs, kBerlin, 130.0).bestSoFar, above);
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

    runs.resize(20);
    EXPECT_TRUE(progressFigures(runs, kBerlin).recentChangePercent);
    runs.resize(19); // ten runs against nine is no fair comparison
    EXPECT_FALSE(progressFigures(runs, kBerlin).recentChangePercent);
    runs.resize(0);
    const ProgressFigures empty = progressFigures(runs, kBerlin);
    EXPECT_EQ(empty.runs, 0);
    EXPECT_FALSE(empty.best);
    EXPECT_TRUE(progressSeries(runs, kBerlin).bestSoFar.empty());
}

// Whatever the span, the date axis holds every run, its ticks rise, and no
// two labels read alike (a day of runs once showed "7 Dec 26" six times).
TEST(JournalProgress, DateAxisTicksAreDistinctWholeDates)
{
    struct Case {
        const char* what;
        std::int64_t first, last;
        const char* firstLabel;
    };
    const Case cases[] = {
        {"one run", local(2026, 12, 7, 9, 10), local(2026, 12, 7, 9, 10), "09:00"},
        {"a morning", local(2026, 12, 7, 9, 10), local(2026, 12, 7, 11, 20), "09:00"},
        {"over midnight", local(2026, 12, 7, 22, 0), local(2026, 12, 8, 1, 30), "21:00"},
        {"the autumn change", local(2026, 10, 24, 20, 0), local(2026, 10, 25, 9, 0), "18:00"},
        {"the spring change", local(2026, 3, 28, 21, 0), local(2026, 3, 29, 5, 0), "20:00"},
        {"a week", local(2026, 12, 1, 18, 0), local(2026, 12, 6, 19, 0), "1 Dec"},
        {"a season", local(2026, 9, 3, 18, 0), local(2026, 12, 6, 19, 0), "Sep 2026"},
        {"three years", local(2024, 2, 3, 18, 0), local(2026, 12, 6, 19, 0), "2024"},
    };
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DateAxis axis = dateAxis(c.first, c.last, kBerlin);
        ASSERT_GE(axis.ticks.size(), 2u);
        EXPECT_LE(axis.ticks.size(), 7u);
        EXPECT_EQ(axis.ticks.front().label.toStdString(), c.firstLabel);
        EXPECT_EQ(axis.fromUtcMs, axis.ticks.front().utcMs);
        EXPECT_EQ(axis.toUtcMs, axis.ticks.back().utcMs);
        EXPECT_LT(axis.fromUtcMs, c.first);
        EXPECT_GT(axis.toUtcMs, c.last);
        QStringList labels;
        for (std::size_t i = 0; i < axis.ticks.size(); ++i) {
            if (i > 0) {
                EXPECT_GT(axis.ticks[i].utcMs, axis.ticks[i - 1].utcMs);
            }
            labels << axis.ticks[i].label;
        }
        labels.removeDuplicates();
        EXPECT_EQ(static_cast<std::size_t>(labels.size()), axis.ticks.size()) << labels.join(' ').toStdString();
    }
    // A chart of hours names its day; one of days its year.
    EXPECT_TRUE(dateAxis(local(2026, 12, 7, 9, 0), local(2026, 12, 7, 11, 0), kBerlin).title.contains("2026"));
    EXPECT_EQ(dateAxis(local(2026, 12, 28, 9, 0), local(2027, 1, 2, 9, 0), kBerlin).title.toStdString(),
              "2026\u20132027");
}

// Counts get whole round steps that hold the values: 98..112 reads 95..115
// in fives, not 98, 105, 112.
TEST(JournalProgress, ValueScalesUseRoundSteps)
{
    struct Case {
        double low, high;
        bool whole;
        AxisScale expected;
    };
    const Case cases[] = {
        {98, 112, true, {95, 115, 5}},
        {0, 1, true, {0, 1, 1}},             // counts never step by fractions
        {300, 300, true, {299, 301, 1}},     // one value still gets a span
        {0.12, 0.44, false, {0.1, 0.5, 0.1}},
    };
    for (const Case& c : cases) {
        const AxisScale s = niceScale(c.low, c.high, 5, c.whole);
        EXPECT_NEAR(s.minimum, c.expected.minimum, 1e-9) << c.low << ".." << c.high;
        EXPECT_NEAR(s.maximum, c.expected.maximum, 1e-9) << c.low << ".." << c.high;
        EXPECT_NEAR(s.step, c.expected.step, 1e-9) << c.low << ".." << c.high;
    }
}
