// tempovaro-count --grid: a recording's strokes timed against a click, after
// the report's figures.
#include "DrumRecording.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {

// A short decaying 1.5 kHz burst: its onset is its first sample.
std::vector<float> burst()
{
    std::vector<float> hit(400);
    for (std::size_t i = 0; i < hit.size(); ++i)
        hit[i] = 0.6f * std::exp(-static_cast<float>(i) / 60.0f) * std::cos(2.0f * 3.14159265f * 1500.0f * i / 44100.0f);
    return hit;
}

} // namespace

TEST(CountGrid, TimingFiguresFollowTheReport)
{
    // Sixteenths at 120 BPM from 1 s; hand A 3 ms early, hand B 2 ms late;
    // the stroke on grid point 20 left out.
    std::vector<drum::Stroke> strokes;
    for (int k = 0, played = 0; k <= 56; ++k) {
        if (k == 20)
            continue;
        const double offsetS = played++ % 2 ? 0.002 : -0.003;
        strokes.push_back({std::llround((1.0 + k * 0.125 + offsetS) * drum::kRate)});
    }
    const auto path = std::filesystem::temp_directory_path() / ("tempovaro-grid-" + std::to_string(getpid()) + ".wav");
    ASSERT_TRUE(drum::writeWav(path.string(), drum::render(burst(), strokes, 10 * drum::kRate)));
    const auto run = runCountTool({"--detector", "fast", "--grid", "120:4:1", path.string()});
    std::filesystem::remove(path);
    ASSERT_EQ(run.status, 0) << run.err;

    const auto lines = linesOf(run.out);
    std::map<std::string, std::string> values;
    std::vector<std::string> order;
    for (const auto& line : lines)
        if (const auto comma = line.find(','); comma != std::string::npos && line[0] != '#') {
            values[line.substr(0, comma)] = line.substr(comma + 1);
            order.push_back(line.substr(0, comma));
        }
    const std::vector<std::string> timing = {"mean_offset_ms", "offset_sd_ms", "within_10ms_percent",
                                             "within_20ms_percent", "played_tempo_bpm", "drift_ms_per_minute",
                                             "hand_a_mean_offset_ms", "hand_b_mean_offset_ms",
                                             "missed_grid_points", "extra_strokes"};
    ASSERT_GE(order.size(), timing.size() + 1);
    EXPECT_EQ(std::vector<std::string>(order.end() - timing.size(), order.end()), timing);
    EXPECT_EQ(order[timing.size() < order.size() ? order.size() - timing.size() - 1 : 0], "suspected_misses");
    EXPECT_EQ(lines.back().rfind("# strokes 56,", 0), 0u) << run.out;

    const auto ms = [&](const std::string& name) { return std::stod(values.at(name)); };
    EXPECT_NEAR(ms("mean_offset_ms"), -0.5, 0.5);
    EXPECT_NEAR(ms("offset_sd_ms"), 2.5, 0.5);
    EXPECT_NEAR(ms("hand_a_mean_offset_ms"), -3.0, 0.5);
    EXPECT_NEAR(ms("hand_b_mean_offset_ms"), 2.0, 0.5);
    EXPECT_NEAR(ms("drift_ms_per_minute"), 0.0, 0.5);
    EXPECT_NEAR(ms("played_tempo_bpm"), 120.0, 0.01);
    EXPECT_EQ(values.at("within_10ms_percent"), "100.00");
    EXPECT_EQ(values.at("missed_grid_points"), "1");
    EXPECT_EQ(values.at("extra_strokes"), "0");
}

TEST(CountGrid, BadGridIsACommandLineError)
{
    const auto run = runCountTool({"--grid", "120:5:0", "take.wav"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("--grid needs BPM:SUBDIVISION:START_SECONDS"), std::string::npos) << run.err;
}
