// tempovaro-count --report: the figures of a recording in place of its
// strokes, in the report's order and rounding, timed only when the
// recording lasts the whole time.
#include "DrumRecording.h"
#include "TempFolder.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

namespace {

std::string format(const char* pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

class CountReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!drum::kitsPresent())
            GTEST_SKIP() << "hydrogen-drumkits is not installed";
        ASSERT_TRUE(m_dir.isValid());
        // 24 snare strokes, one every 0.3 s, and one left out after the 12th.
        std::vector<drum::Stroke> strokes;
        for (int i = 0; i < 25; ++i)
            if (i != 12)
                strokes.push_back({22050 + static_cast<std::int64_t>(i) * 13230});
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
        ASSERT_TRUE(drum::writeWav(file(), drum::render(hit, strokes, 9 * 44100, 0.003f)));
        // The strokes' onsets, from the plain CSV: the times the report uses.
        for (const auto& line : linesOf(runCountTool({file()}).out))
            if (!line.empty() && line[0] >= '0' && line[0] <= '9')
                m_ends.push_back(std::stoll(line.substr(line.rfind(',') + 1)));
        ASSERT_EQ(m_ends.size(), 24u);
    }
    std::string file() const { return m_dir.filePath("take.wav"); }

    TempFolder m_dir;
    std::vector<long long> m_ends;
};

} // namespace

TEST_F(CountReport, FiguresInPlaceOfStrokes)
{
    const auto result = runCountTool({"--report", file()});
    ASSERT_EQ(result.status, 0);
    const auto out = linesOf(result.out);
    ASSERT_EQ(out.size(), 16u);
    EXPECT_EQ(out[0], "figure,value");
    const double lastS = static_cast<double>(m_ends.back() - m_ends.front()) / 44100.0;
    long long longest = 0;
    for (std::size_t i = 1; i < m_ends.size(); ++i)
        longest = std::max(longest, m_ends[i] - m_ends[i - 1]);
    // Without --time the run is measured over its strokes.
    EXPECT_EQ(out[1], "strokes,24");
    EXPECT_EQ(out[2], "seconds," + format("%.4f", lastS));
    EXPECT_EQ(out[3], "strokes_per_minute," + format("%.2f", 23 * 60.0 / lastS));
    EXPECT_EQ(out[4], "mean_interval_ms," + format("%.1f", lastS * 1000.0 / 23));
    EXPECT_EQ(out[5].rfind("interval_sd_ms,", 0), 0u);
    EXPECT_EQ(out[7], "longest_gap_ms," + format("%.1f", static_cast<double>(longest) / 44.1));
    EXPECT_EQ(out[8], "best_second,4");
    // A 7 s run is too short for the first and last 10 s.
    EXPECT_EQ(out[9], "first_10s_per_second,");
    EXPECT_EQ(out[10], "last_10s_per_second,");
    EXPECT_EQ(out[11], "fatigue_percent,");
    EXPECT_EQ(out[12].rfind("hand_balance_percent,", 0), 0u);
    EXPECT_EQ(out[13], "suspected_doubles,0");
    EXPECT_EQ(out[14], "suspected_misses,1");
    // The summary line gives the same length and rate.
    EXPECT_EQ(out[15], "# strokes 24, seconds " + format("%.3f", lastS) + ", strokes per minute " +
                           format("%.1f", 23 * 60.0 / lastS));
}

TEST_F(CountReport, TimedOnlyWhenTheRecordingLastsTheTime)
{
    // The recording runs 8 s after the first stroke: 2 s are reached (over
    // the 7 strokes inside them), 20 s are not.
    const auto timed = linesOf(runCountTool({"--report", "--time", "2", file()}).out);
    ASSERT_EQ(timed.size(), 16u);
    EXPECT_EQ(timed[1], "strokes,7");
    EXPECT_EQ(timed[2], "seconds,2.0000");
    EXPECT_EQ(timed[3], "strokes_per_minute,210.00");

    const auto cutShort = linesOf(runCountTool({"--report", "--time", "20", file()}).out);
    ASSERT_EQ(cutShort.size(), 16u);
    EXPECT_EQ(cutShort[1], "strokes,24");
    EXPECT_EQ(cutShort[2],
              "seconds," + format("%.4f", static_cast<double>(m_ends.back() - m_ends.front()) / 44100.0));

    EXPECT_EQ(runCountTool({"--report", "--list"}).status, 2);
}
