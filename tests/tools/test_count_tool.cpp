// tempovaro-count as a user runs it: recordings in, CSV out, exit statuses.
#include "../trigger/AudioReference.h"
#include "AudioFeed.h"
#include "DrumCorpus.h"
#include "DrumRecording.h"
#include "TempFolder.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class CountTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!drum::kitsPresent())
            GTEST_SKIP() << "hydrogen-drumkits is not installed";
        ASSERT_TRUE(m_dir.isValid());
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
        m_roll = drum::render(hit, drum::evenStrokes(22050, 44100 / 8.0, 40), 6 * 44100, 0.003f);
        drum::writeWav(path("roll.wav"), m_roll);
    }
    std::string path(const std::string& name) const { return m_dir.filePath(name); }
    static std::vector<std::string> lines(const std::string& text) { return linesOf(text); }

    TempFolder m_dir;
    drum::Samples m_roll;
};

} // namespace

TEST_F(CountTool, PrintsEveryStrokeOfTheDetectorAsCsv)
{
    const auto result = runCountTool({path("roll.wav")});
    ASSERT_EQ(result.status, 0);
    const auto out = lines(result.out);

    // Against the independent plain detector, so the tool's framing (window
    // ends, number formats) is checked as well as the detector it drives.
    ref::AudioDetector reference;
    reference.feed(m_roll);
    std::vector<FedStroke> expected;
    for (const auto& s : reference.strokes)
        expected.push_back({s.fedSamples, s.interval, s.level});
    ASSERT_EQ(expected.size(), 40u);
    ASSERT_EQ(out.size(), expected.size() + 2);
    EXPECT_EQ(out.front(), "stroke,window_end_sample,time_s,interval_samples,level,onset_sample");
    std::vector<long long> onsets;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        char line[128];
        std::snprintf(line, sizeof line, "%zu,%lld,%.6f,%d,%.9g,", k + 1, static_cast<long long>(expected[k].fedSamples),
                      expected[k].fedSamples / 44100.0, expected[k].interval, static_cast<double>(expected[k].level));
        ASSERT_EQ(out[k + 1].rfind(line, 0), 0u) << out[k + 1];
        onsets.push_back(std::stoll(out[k + 1].substr(std::strlen(line))));
        // The onset lies in the window before the one that counted it, or in that one.
        EXPECT_GE(onsets.back(), expected[k].fedSamples - 2 * 441);
        EXPECT_LT(onsets.back(), expected[k].fedSamples);
    }
    // Untimed: from the first stroke to the last, as the run report figures it.
    const double seconds = static_cast<double>(onsets.back() - onsets.front()) / 44100.0;
    char summary[128];
    std::snprintf(summary, sizeof summary, "# strokes 40, seconds %.3f, strokes per minute %.1f", seconds,
                  39 * 60.0 / seconds);
    EXPECT_EQ(out.back(), summary);
}

TEST_F(CountTool, RecordingTimeEndsOnTheStrokesOwnTimes)
{
    const auto all = lines(runCountTool({path("roll.wav")}).out);
    const auto timed = runCountTool({"--time", "2", path("roll.wav")});
    ASSERT_EQ(timed.status, 0);
    const auto out = lines(timed.out);

    // A stroke counts when its onset is less than 2 s less 1 ms of samples after the first one's.
    auto onsetOf = [](const std::string& line) { return std::stoll(line.substr(line.rfind(',') + 1)); };
    const long long first = onsetOf(all[1]);
    std::size_t expected = 0;
    for (std::size_t k = 1; k + 1 < all.size(); ++k)
        if (onsetOf(all[k]) - first < 1999 * 441 / 10)
            ++expected;
    ASSERT_GT(expected, 10u);
    ASSERT_LT(expected, 40u);
    ASSERT_EQ(out.size(), expected + 2);
    for (std::size_t k = 1; k <= expected; ++k)
        EXPECT_EQ(out[k], all[k]);
    EXPECT_EQ(out.back().rfind("# strokes " + std::to_string(expected) + ", seconds 2.000, ", 0), 0u) << out.back();
}

TEST_F(CountTool, OtherFormatsAreConvertedFirst)
{
    // The same samples as 32-bit float: converted, but back to the same 16-bit values.
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(path("float.wav").c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        std::vector<float> v(m_roll.begin(), m_roll.end());
        for (auto& x : v)
            x /= 32768.0f;
        sf_write_float(f, v.data(), static_cast<sf_count_t>(v.size()));
        sf_close(f);
    }
    const auto native = runCountTool({path("roll.wav")});
    EXPECT_EQ(runCountTool({path("float.wav")}).out, native.out);

    // Stereo at 48 kHz: every stroke still found within a window of where it was.
    drum::Samples stereo;
    const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
    std::vector<float> hit48;
    for (double t = 0; t < hit.size() - 1; t += 44100.0 / 48000.0) {
        const auto i = static_cast<std::size_t>(t);
        hit48.push_back(static_cast<float>(hit[i] + (hit[i + 1] - hit[i]) * (t - i)));
    }
    const auto mono48 = drum::render(hit48, drum::evenStrokes(24000, 6000, 40), 6 * 48000, 0.003f);
    for (auto s : mono48) {
        stereo.push_back(s);
        stereo.push_back(static_cast<std::int16_t>(s / 2));
    }
    ASSERT_TRUE(drum::writeWav(path("stereo48.wav"), stereo, 48000, 2));
    const auto converted = lines(runCountTool({path("stereo48.wav")}).out);
    const auto reference = lines(native.out);
    ASSERT_EQ(converted.size(), reference.size());
    for (std::size_t k = 1; k + 1 < converted.size(); ++k) {
        const auto at = [](const std::string& line) { return std::stoll(line.substr(line.find(',') + 1)); };
        EXPECT_LE(std::llabs(at(converted[k]) - at(reference[k])), 441) << converted[k];
    }
}

TEST_F(CountTool, SeveralFilesAndAnEmptyOne)
{
    ASSERT_TRUE(drum::writeWav(path("empty.wav"), {}));
    const auto result = runCountTool({path("empty.wav"), path("roll.wav")});
    ASSERT_EQ(result.status, 0);
    const auto out = lines(result.out);
    ASSERT_GE(out.size(), 6u);
    EXPECT_EQ(out[0], "# file " + path("empty.wav"));
    EXPECT_EQ(out[1], "stroke,window_end_sample,time_s,interval_samples,level,onset_sample");
    EXPECT_EQ(out[2], "# strokes 0, seconds 0.000, strokes per minute 0.0");
    EXPECT_EQ(out[3], "# file " + path("roll.wav"));
    EXPECT_EQ(out.back().rfind("# strokes 40,", 0), 0u);
}

TEST_F(CountTool, ExitStatusesAndMessages)
{
    {
        std::ofstream text(path("notes.txt"));
        text << "not audio\n";
    }
    // Command-line and file problems: one line on stderr, status 2, no CSV.
    const std::vector<std::vector<std::string>> wrong = {
        {path("missing.wav")}, {path("notes.txt")}, {path("roll.wav"), path("missing.wav")}, {"--bogus"}, {},
        {"--time", "x", path("roll.wav")}, {"--midi", "x", "--channel", "17"}, {"--midi", "x", "--note", "200"}};
    for (const auto& args : wrong) {
        const auto run = runCountTool(args);
        const auto err = lines(run.err);
        const std::string shown = args.empty() ? "(no arguments)" : args.front();
        EXPECT_EQ(run.status, 2) << shown;
        ASSERT_EQ(err.size(), 1u) << shown;
        EXPECT_EQ(err[0].rfind("tempovaro-count: ", 0), 0u) << err[0];
        EXPECT_EQ(run.out, "") << shown;
    }
    // A device that cannot be opened: status 1.
    const auto unopened = runCountTool({"--audio", "no-such-device", "--time", "10"});
    EXPECT_EQ(unopened.status, 1);
    EXPECT_FALSE(unopened.err.empty());

    const auto help = runCountTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tempovaro-count"), std::string::npos);
    const auto version = runCountTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tempovaro-count ", 0), 0u);
}

TEST_F(CountTool, FastDetectorCountsFortyStrokesPerSecondAtTheirOnsets)
{
    // Ten seconds of a choked pad at 40 per second: the standard detector
    // cannot follow, the fast one prints each stroke at its onset.
    const auto pad = drum::padStrokes(40, 10.0);
    ASSERT_TRUE(drum::writeWav(path("pad40.wav"), pad.samples));
    const auto fast = runCountTool({"--detector", "fast", path("pad40.wav")});
    ASSERT_EQ(fast.status, 0);
    EXPECT_EQ(fast.strokes(), static_cast<int>(pad.attacks.size()));
    const auto out = linesOf(fast.out);
    ASSERT_EQ(out.front(), "stroke,onset_sample,time_s,interval_samples,level");
    ASSERT_EQ(out.size(), pad.attacks.size() + 2);
    for (std::size_t k = 0; k < pad.attacks.size(); ++k) {
        const long long onset = std::stoll(out[k + 1].substr(out[k + 1].find(',') + 1));
        EXPECT_NEAR(static_cast<double>(onset), static_cast<double>(pad.attacks[k]), 88) << "stroke " << k;
    }
    EXPECT_LT(runCountTool({"--detector", "standard", path("pad40.wav")}).strokes(),
              static_cast<int>(pad.attacks.size()) * 9 / 10);
}

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

void writeFloatWav(const std::string& path, const std::vector<float>& samples)
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
}

} // namespace

TEST_F(CountTool, DamagedRecordingsAreRefusedOrCountedWithAWarning)
{
    // A header that claims an absurd rate is refused before any reading,
    // naming the rate; nothing that looks like a result is printed.
    const std::string wav = readFile(path("roll.wav"));
    ASSERT_EQ(wav.compare(36, 4, "data"), 0) << "expected a plain 44-byte WAV header";
    for (const std::uint32_t rate : {1u, 2u, 50u, 3999u, 768001u}) {
        std::string bytes = wav;
        const std::uint32_t byteRate = rate * 2;
        std::memcpy(bytes.data() + 24, &rate, 4);
        std::memcpy(bytes.data() + 28, &byteRate, 4);
        writeFile(path("rate.wav"), bytes);
        const auto refused = runCountTool({path("rate.wav")});
        const auto err = linesOf(refused.err);
        EXPECT_EQ(refused.status, 2) << rate;
        ASSERT_EQ(err.size(), 1u) << rate;
        EXPECT_NE(err[0].find(" " + std::to_string(rate) + " Hz"), std::string::npos) << err[0];
        EXPECT_EQ(refused.out, "") << rate;
    }

    std::filesystem::create_directory(path("takes.wav"));
    const auto dir = runCountTool({path("takes.wav")});
    const auto dirErr = linesOf(dir.err);
    EXPECT_EQ(dir.status, 2);
    ASSERT_EQ(dirErr.size(), 1u);
    EXPECT_NE(dirErr[0].find("is a directory"), std::string::npos) << dirErr[0];

    // Cut off after 3.1 of its 6 s: counted like the 3.1 s that are there.
    const std::size_t keptSamples = 44100 * 31 / 10;
    writeFile(path("cut.wav"), wav.substr(0, 44 + 2 * keptSamples));
    ASSERT_TRUE(drum::writeWav(path("part.wav"),
                               drum::Samples(m_roll.begin(), m_roll.begin() + static_cast<std::ptrdiff_t>(keptSamples))));
    const auto cut = runCountTool({path("cut.wav")});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.out, runCountTool({path("part.wav")}).out);
    EXPECT_GT(cut.strokes(), 15);
    const auto cutErr = linesOf(cut.err);
    ASSERT_EQ(cutErr.size(), 1u);
    EXPECT_NE(cutErr[0].find("3.100 s of the 6.000 s"), std::string::npos) << cutErr[0];

    // NaN and infinite samples count as silence, with their number on stderr.
    std::vector<float> clean(m_roll.begin(), m_roll.end());
    for (auto& x : clean)
        x /= 32768.0f;
    std::vector<float> damaged = clean;
    const std::size_t bad[] = {100, 30000, clean.size() - 1};
    damaged[bad[0]] = std::numeric_limits<float>::quiet_NaN();
    damaged[bad[1]] = std::numeric_limits<float>::infinity();
    damaged[bad[2]] = -std::numeric_limits<float>::infinity();
    for (const std::size_t i : bad)
        clean[i] = 0.0f;
    writeFloatWav(path("clean.wav"), clean);
    writeFloatWav(path("nan.wav"), damaged);
    const auto nan = runCountTool({path("nan.wav")});
    EXPECT_EQ(nan.status, 0);
    EXPECT_EQ(nan.out, runCountTool({path("clean.wav")}).out);
    EXPECT_EQ(nan.strokes(), 40);
    const auto nanErr = linesOf(nan.err);
    ASSERT_EQ(nanErr.size(), 1u);
    EXPECT_NE(nanErr[0].find(" 3 samples"), std::string::npos) << nanErr[0];
}
