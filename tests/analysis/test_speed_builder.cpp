// The speed builder driven by a simulated drummer on an injected clock: the
// strokes reach it 70 ms after they are played, on a 30 ms tick, as they
// would through the capture and the window.
#include "analysis/SpeedBuilder.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace {

// The offsets in ms a drummer plays on grid point k at a tempo: none is a
// miss, two a double.
using Drummer = std::function<std::vector<double>(double bpm, std::int64_t k)>;

constexpr double kLatencyS = 0.07;
constexpr double kTickS = 0.03;

struct Session {
    SpeedBuilder builder;
    Drummer drummer;
    std::deque<double> played;
    std::int32_t answered = 0; // the last repetition the drummer has played
    double nowS = 0.0;
    std::vector<std::string> statuses;

    Session(const SpeedPlan& plan, Drummer d) : builder(plan), drummer(std::move(d)) { builder.start(0.5); }

    // Runs the clock until `repetitions` are judged or the plan ends; keeps
    // every status change.
    void run(std::size_t repetitions)
    {
        while (builder.results().size() < repetitions && !builder.finished() && nowS < 600.0) {
            const Repetition& r = builder.current();
            if (r.number != answered) {
                answered = r.number;
                const TimingGrid g = builder.gridOf(r);
                const std::int64_t points = std::int64_t{builder.plan().barsPerRepetition} * g.beatsPerBar * g.subdivision;
                for (std::int64_t k = 0; k < points; ++k)
                    for (const double ms : drummer(r.tempoBpm, k))
                        played.push_back(g.timeOf(k) + ms / 1000.0);
            }
            nowS += kTickS;
            const double deliveredS = nowS - kLatencyS;
            while (!played.empty() && played.front() <= deliveredS) {
                builder.addStroke(played.front());
                played.pop_front();
            }
            builder.advance(deliveredS);
            const std::string s = builder.status(deliveredS);
            if (statuses.empty() || statuses.back() != s)
                statuses.push_back(s);
        }
    }

    std::vector<double> tempi() const
    {
        std::vector<double> t;
        for (const auto& r : builder.results())
            t.push_back(r.repetition.tempoBpm);
        return t;
    }
};

// Clean (hands 3 ms either side) up to a tempo; above it two strokes in five
// are more than 15 ms out (19 of 32 in two bars of sixteenths are in).
Drummer cleanUpTo(double limitBpm)
{
    return [limitBpm](double bpm, std::int64_t k) -> std::vector<double> {
        if (bpm <= limitBpm)
            return {k % 2 ? 3.0 : -3.0};
        static const double sloppy[] = {0.0, 25.0, -22.0, 8.0, 5.0};
        return {sloppy[k % 5]};
    };
}

SpeedPlan plan(double start, double step, double target)
{
    SpeedPlan p;
    p.startBpm = start;
    p.stepBpm = step;
    p.targetBpm = target;
    p.barsPerRepetition = 2;
    return p;
}

bool has(const std::vector<std::string>& statuses, const std::string& text)
{
    return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
}

} // namespace

TEST(SpeedBuilder, ClimbsAfterPassesAndStepsBackAfterFails)
{
    struct Row {
        const char* name;
        SpeedPlan plan;
        Drummer drummer;
        std::vector<double> tempi;
        std::optional<double> highest;
        bool finished;
        std::vector<std::string> said;
    };
    const std::vector<Row> rows = {
        {"stuck between 128 and 132", plan(120, 4, 140), cleanUpTo(130),
         {120, 124, 128, 132, 128, 132, 128, 132}, 128.0, false,
         {"Count-in: 120 BPM", "Playing: 120 BPM, bar 1 of 2", "Playing: 120 BPM, bar 2 of 2",
          "Pass: 120 BPM, next 124", "Fail: 132 BPM, 59 % within ±15 ms, next 128"}},
        {"the last step stops at the target", plan(120, 8, 138), cleanUpTo(200), {120, 128, 136, 138}, 138.0, true,
         {"Pass: 136 BPM, next 138", "Target reached: 138 BPM"}},
        {"never below the start", plan(120, 4, 140), cleanUpTo(100), {120, 120, 120}, std::nullopt, false,
         {"Fail: 120 BPM, 59 % within ±15 ms, next 120"}},
        {"a bounce or a miss fails a repetition in time",
         plan(100, 5, 120),
         [](double bpm, std::int64_t k) -> std::vector<double> {
             if (bpm > 104 && k == 9)
                 return bpm > 109 ? std::vector<double>{} : std::vector<double>{0.0, 40.0};
             return {0.0};
         },
         {100, 105, 100, 105}, 100.0, false,
         {"Fail: 105 BPM, 1 extra stroke, next 100"}},
        {"and a miss", plan(110, 5, 120),
         [](double, std::int64_t k) { return k == 3 ? std::vector<double>{} : std::vector<double>{1.0}; },
         {110, 110}, std::nullopt, false, {"Fail: 110 BPM, 1 missed, next 110"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Session s(row.plan, row.drummer);
        s.run(row.tempi.size());
        EXPECT_EQ(s.tempi(), row.tempi);
        EXPECT_EQ(s.builder.highestCleanBpm(), row.highest);
        EXPECT_EQ(s.builder.finished(), row.finished);
        for (const auto& text : row.said)
            EXPECT_TRUE(has(s.statuses, text)) << text << "\n" << ::testing::PrintToString(s.statuses);
    }
}

TEST(SpeedBuilder, TimelineLeavesARestAndCatchesUpWhenJudgedLate)
{
    SpeedPlan p = plan(120, 4, 140);
    SpeedBuilder b(p);
    b.start(1.0);
    // At 120 BPM a bar is 2 s: count-in 1..3 s, timed bars 3..7 s.
    EXPECT_DOUBLE_EQ(b.current().gridStartS, 3.0);
    EXPECT_DOUBLE_EQ(b.current().gridEndS, 7.0);
    for (int k = 0; k < 32; ++k)
        b.addStroke(3.0 + k * 0.125);
    EXPECT_FALSE(b.advance(6.9)); // the last point's strokes may still come
    EXPECT_TRUE(b.advance(6.95));
    // The next count-in after a beat's rest, at the new tempo.
    EXPECT_DOUBLE_EQ(b.current().countInStartS, 7.5);
    EXPECT_EQ(b.current().tempoBpm, 124.0);
    EXPECT_NEAR(b.current().gridStartS, 7.5 + 4 * 60.0 / 124.0, 1e-12);

    // A window that stalled judges late; the next count-in still lies ahead.
    const double end = b.current().gridEndS;
    for (int k = 0; k < 32; ++k)
        b.addStroke(b.current().gridStartS + k * 60.0 / 124.0 / 4);
    EXPECT_TRUE(b.advance(end + 2.0));
    EXPECT_DOUBLE_EQ(b.current().countInStartS, end + 2.0 + SpeedBuilder::kScheduleLeadS);
    EXPECT_EQ(b.results().size(), 2u);
}
