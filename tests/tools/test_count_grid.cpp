// tempovaro-count --grid: a recording's strokes timed against a click, after
// the report's figures.
#include "DrumRecording.h"
#include "TempFolder.h"
#include "ToolRunner.h"
#include "analysis/RunTiming.h"
#include "trigger/QX_AudioTriggerDevice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

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
    const TempFolder dir;
    const std::string path = dir.filePath("grid.wav");
    ASSERT_TRUE(drum::writeWav(path, drum::render(burst(), strokes, 10 * drum::kRate)));
    const auto run = runCountTool({"--detector", "fast", "--grid", "120:4:1", path});
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

// A run played live with the click and the same recording given to the
// tool with its grid come to the same figures: the live run's strokes are
// the detector's, fed block by block as the capture delivers them, and its
// grid is the click placed on the capture's clock.
TEST(CountGrid, ALiveRunWithTheClickTimesAsTheToolDoes)
{
    // Eighths at 96 BPM from 0.75 s; each stroke off by up to ±12 ms,
    // drifting 20 ms a minute, one left out.
    std::vector<drum::Stroke> strokes;
    std::uint32_t seed = 11;
    for (int k = 0; k < 100; ++k) {
        seed = seed * 1664525u + 1013904223u;
        const double t = 0.75 + k * 0.3125;
        const double offsetS = (static_cast<double>(seed >> 16) / 65536.0 - 0.5) * 0.024 + t * 0.02 / 60.0;
        if (k != 40)
            strokes.push_back({std::llround((t + offsetS) * drum::kRate)});
    }
    const drum::Samples pcm = drum::render(burst(), strokes, 34 * drum::kRate);
    const TempFolder dir;
    const std::string path = dir.filePath("live.wav");
    ASSERT_TRUE(drum::writeWav(path, pcm));
    const auto tool = runCountTool({"--grid", "96:2:0.75", path});
    ASSERT_EQ(tool.status, 0) << tool.err;
    std::map<std::string, double> printed;
    for (const auto& line : linesOf(tool.out))
        if (const auto comma = line.find(','); comma != std::string::npos && line[0] != '#' && comma + 1 < line.size())
            printed[line.substr(0, comma)] = std::atof(line.c_str() + comma + 1);

    // The live path: the detector fed in capture periods, the click's
    // segment (a count-in bar from output sample 0) on an output stream
    // that stood 0.25 s behind the capture on the monotonic clock.
    TQX_AudioTriggerDevice device("", nullptr);
    device.Start(-1);
    RunRecord run;
    run.ticksPerSecond = device.ticksPerSecond();
    for (std::size_t at = 0; at < pcm.size(); at += 1764) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(1764, pcm.size() - at));
        device.AnalyzeSamples(pcm.data() + at, n * 2);
        device.drainStrokeEvents(run.strokes);
    }
    device.finishInput();
    device.drainStrokeEvents(run.strokes);
    ClickOnOutput click;
    click.segment.pattern.tempoBpm = 96.0;
    click.segment.pattern.subdivision = 2;
    click.segment.startSample = 0; // the count-in: 2.5 s, so the grid at output 2.5 s
    click.streamOffsetFrames = 0.0;
    run.click = placeClick(click, (0.75 - 2.5) * drum::kRate, run.ticksPerSecond);
    const auto timing = analyzeRunTiming(run);
    ASSERT_TRUE(timing);

    EXPECT_EQ(run.strokes.size(), 99u);
    for (const TimingRow& row : timingRows(timing->figures)) {
        ASSERT_TRUE(row.value) << row.name;
        ASSERT_TRUE(printed.count(row.name)) << row.name << "\n" << tool.out;
        EXPECT_NEAR(*row.value, printed[row.name], row.count ? 0.0 : 0.005 + 1e-9) << row.name;
    }
    EXPECT_EQ(printed["missed_grid_points"], 1.0);
}

TEST(CountGrid, BadGridIsACommandLineError)
{
    const auto run = runCountTool({"--grid", "120:5:0", "take.wav"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("--grid needs BPM:SUBDIVISION:START_SECONDS"), std::string::npos) << run.err;
}
