// The command line of tempovaro-count.
#include "CountOptions.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    bool ok;
    CountOptions options;
    std::string error;
};

Parsed parse(std::vector<std::string> args)
{
    Parsed p;
    p.ok = parseCountOptions(args, p.options, p.error);
    return p;
}

} // namespace

TEST(CountOptions, FilesWithARecordingTime)
{
    const auto p = parse({"--time", "30", "a.wav", "--", "--odd-name.wav"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.mode, CountOptions::Mode::Files);
    EXPECT_EQ(p.options.timeLimitMs, 30000);
    EXPECT_EQ(p.options.files, (std::vector<std::string>{"a.wav", "--odd-name.wav"}));
    EXPECT_EQ(parse({"a.wav"}).options.timeLimitMs, -1);
    EXPECT_EQ(parse({"--time", "0.5", "a.wav"}).options.timeLimitMs, 500);
}

TEST(CountOptions, LiveModes)
{
    auto p = parse({"--audio", "pulse", "--line", "Capture", "--level", "0.25", "--time", "10"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.mode, CountOptions::Mode::Audio);
    EXPECT_EQ(p.options.deviceId, "pulse");
    EXPECT_EQ(p.options.line, "Capture");
    EXPECT_FLOAT_EQ(p.options.level, 0.25f);
    EXPECT_EQ(p.options.timeLimitMs, 10000);

    p = parse({"--midi", "{0000}", "--channel", "16", "--note", "0"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.mode, CountOptions::Mode::Midi);
    EXPECT_EQ(p.options.channel, 16);
    EXPECT_EQ(p.options.note, 0);
    p = parse({"--midi", "x"});
    EXPECT_EQ(p.options.channel, 0);
    EXPECT_EQ(p.options.note, -1);

    EXPECT_EQ(parse({"--list"}).options.mode, CountOptions::Mode::List);
    EXPECT_EQ(parse({"--help", "--bogus-after-help"}).ok, false); // unknown options always fail
    EXPECT_EQ(parse({"a.wav", "--help"}).options.mode, CountOptions::Mode::Help);
    EXPECT_EQ(parse({"--version"}).options.mode, CountOptions::Mode::Version);
    EXPECT_EQ(parse({"--journal"}).options.mode, CountOptions::Mode::Journal);
    const auto run = parse({"--journal-run", "9000000000"});
    EXPECT_EQ(run.options.mode, CountOptions::Mode::JournalRun);
    EXPECT_EQ(run.options.journalRunId, 9000000000LL);
}

TEST(CountOptions, BadCommandLinesGiveOneLineOfExplanation)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--bogus", "a.wav"},
        {"--time"},
        {"--time", "0", "a.wav"},
        {"--time", "-5", "a.wav"},
        {"--time", "ten", "a.wav"},
        {"--time", "30s", "a.wav"},
        {"--time", "nan", "a.wav"},
        {"--midi", "x", "--channel", "17"},
        {"--midi", "x", "--channel", "-1"},
        {"--midi", "x", "--note", "200"},
        {"--midi", "x", "--note", "12.5"},
        {"--audio", "pulse", "--level", "1.5", "--line", "Capture"},
        {"--audio", "pulse", "--level", "0.5"},
        {"--line", "Capture", "a.wav"},
        {"--note", "38", "a.wav"},
        {"--audio", "pulse", "a.wav"},
        {"--audio", "pulse", "--midi", "x"},
        {"--list", "--time", "10"},
        {"--journal-run"},
        {"--journal-run", "0"},
        {"--journal-run", "12x"},
        {"--journal", "a.wav"},
        {"--journal", "--journal-run", "3"},
        {"--journal", "--time", "10"},
        {"--grid", "120:4", "a.wav"},
        {"--grid", "120:5:0", "a.wav"},
        {"--grid", "29:4:0", "a.wav"},
        {"--grid", "120:4:-1", "a.wav"},
        {"--grid", "120:4:0:1", "a.wav"},
        {"--grid", "120::0", "a.wav"},
        {"--audio", "pulse", "--grid", "120:4:0"},
    };
    for (const auto& args : bad) {
        const auto p = parse(args);
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_FALSE(p.ok) << joined;
        EXPECT_FALSE(p.error.empty()) << joined;
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << joined;
    }
}

TEST(CountOptions, GridTimesFilesAndBringsTheReport)
{
    const auto p = parse({"--grid", "92.5:6:1.25", "a.wav"});
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_TRUE(p.options.grid);
    EXPECT_DOUBLE_EQ(p.options.grid->tempoBpm, 92.5);
    EXPECT_EQ(p.options.grid->subdivision, 6);
    EXPECT_DOUBLE_EQ(p.options.grid->startS, 1.25);
    EXPECT_TRUE(p.options.report);
    EXPECT_FALSE(parse({"a.wav"}).options.grid);
}

TEST(CountOptions, DetectorForFilesAndAudioOnly)
{
    EXPECT_FALSE(parse({"a.wav"}).options.fastDetector);
    EXPECT_TRUE(parse({"--detector", "fast", "a.wav"}).options.fastDetector);
    EXPECT_FALSE(parse({"--detector", "standard", "a.wav"}).options.fastDetector);
    const auto live = parse({"--audio", "pulse", "--detector", "fast"});
    ASSERT_TRUE(live.ok) << live.error;
    EXPECT_TRUE(live.options.fastDetector);
    for (const auto& args : std::vector<std::vector<std::string>>{{"--detector", "Fast", "a.wav"},
                                                                 {"--detector", "a.wav"},
                                                                 {"--midi", "x", "--detector", "fast"},
                                                                 {"--list", "--detector", "standard"}}) {
        const auto p = parse(args);
        EXPECT_FALSE(p.ok) << args[1];
        EXPECT_NE(p.error.find("--detector"), std::string::npos) << p.error;
    }
}
