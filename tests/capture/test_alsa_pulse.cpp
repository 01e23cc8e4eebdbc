// Capture, input lines and device lists through a private PulseAudio server,
// reached as the ALSA device "pulse".
#include "AudioTap.h"
#include "DrumRecording.h"
#include "PulseServer.h"
#include "QX_AlsaAudio.h"
#include "ToolRunner.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace {

PulseServer* g_server = nullptr;

// The server must be up before the first ALSA call of the program.
class PulseEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_server = new PulseServer;
        // "drumlines": the server's PCM with a mixer that repeats the capture
        // volume under index 1, as cards with two ADCs do.
        const std::string config = g_server->dir() + "/lines.conf";
        std::ofstream(config) << "ctl.drumlines { type remap child \"pulse\" map { "
                                 "\"name='Capture Volume',index=1\" { \"name='Capture Volume'\" { vindex.0 0 } } } }\n"
                                 "pcm.drumlines { type pulse }\n";
        setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + config).c_str(), 1);
    }
    void TearDown() override
    {
        delete g_server;
        g_server = nullptr;
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new PulseEnvironment);

class AlsaPulse : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PulseServer::binaryPresent() || !drum::kitsPresent())
            GTEST_SKIP() << "pulseaudio or hydrogen-drumkits is not installed";
        ASSERT_TRUE(g_server && g_server->running()) << "the private PulseAudio server did not start";
    }

    static std::string writeRoll(const std::string& name, int strokes, float gain = 1.0f)
    {
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
        const std::string path = g_server->dir() + "/" + name;
        const auto played = drum::evenStrokes(11025, 44100 / 8.0, strokes, gain);
        drum::writeWav(path, drum::render(hit, played, 11025 + strokes * 5513 + 22050));
        return path;
    }

    static float lineLevel(const std::string& line, const std::string& device = "pulse")
    {
        QX_DeviceList lines;
        EnumInputLines(device, lines);
        for (const auto& l : lines)
            if (l.ID == line)
                return l.Level;
        return -2.0f;
    }
};

} // namespace

TEST_F(AlsaPulse, ServerDeviceIsListedWithItsCaptureLine)
{
    QX_DeviceList devices;
    ASSERT_EQ(EnumAudioDevices(devices), S_OK);
    const auto pulse = std::find_if(devices.begin(), devices.end(), [](const QX_Device& d) { return d.ID == "pulse"; });
    ASSERT_NE(pulse, devices.end());
    EXPECT_FALSE(pulse->Name.empty());
    EXPECT_EQ(pulse->Name.find('\n'), std::string::npos);
    for (const auto& d : devices)
        EXPECT_EQ(std::count_if(devices.begin(), devices.end(), [&](const QX_Device& o) { return o.ID == d.ID; }), 1);

    QX_DeviceList lines{QX_Device{"stale", "stale", 0.5f}};
    ASSERT_EQ(EnumInputLines("pulse", lines), S_OK);
    const auto capture = std::find_if(lines.begin(), lines.end(), [](const QX_Device& d) { return d.ID == "Capture"; });
    ASSERT_NE(capture, lines.end());
    EXPECT_EQ(capture->Name, capture->ID);
    EXPECT_GE(capture->Level, 0.0f);
    EXPECT_LE(capture->Level, 1.0f);
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const QX_Device& d) { return d.ID == "stale"; }));
}

TEST_F(AlsaPulse, UnknownDeviceFailsAndCountsNothing)
{
    QX_DeviceList lines{QX_Device{"stale", "stale", 0.5f}};
    EXPECT_EQ(EnumInputLines("no-such-device", lines), E_FAIL);
    EXPECT_TRUE(lines.empty());

    QX_AudioFilterGraph graph;
    EXPECT_EQ(graph.BuildGraph("no-such-device", {}), E_FAIL);
    EXPECT_EQ(graph.Run(), E_FAIL);
    EXPECT_EQ(graph.SetInputLine("Capture", 1.0f), E_FAIL);

    auto device = CreateAudioTriggerDevice("no-such-device");
    EXPECT_FALSE(device->SetInputLine("Capture", 1.0f));
    device->Start(-1);
    EXPECT_EQ(device->GetCount(), 0);
    EXPECT_EQ(device->GetLevel(), 0.0f);
}

TEST_F(AlsaPulse, InputLineLevelChangesTheCapturedSignalAndReadsBack)
{
    const std::string roll = writeRoll("level.wav", 4);
    AudioTapStats stats;
    AudioTap tap(stats);
    ASSERT_EQ(tap.BuildGraph("pulse", {}), S_OK);
    ASSERT_EQ(tap.Run(), S_OK);
    EXPECT_EQ(tap.Run(), S_OK); // a second Run changes nothing

    auto peakOfPlayback = [&](float level) {
        EXPECT_EQ(tap.SetInputLine("Capture", level), S_OK);
        EXPECT_NEAR(lineLevel("Capture"), level, 0.001f);
        stats.peak.store(0);
        EXPECT_EQ(g_server->play(roll), 0);
        // Wait for the end of the playback to pass the capture buffer.
        const auto until = stats.samples.load() + 22050;
        EXPECT_TRUE(waitUntil([&] { return stats.samples.load() >= until; }));
        return stats.peak.load();
    };
    const int full = peakOfPlayback(1.0f);
    const int half = peakOfPlayback(0.5f);
    EXPECT_GT(full, 10000);
    EXPECT_LT(half, full / 2);
    EXPECT_GT(half, 0);

    // A line that does not exist is no failure and changes nothing.
    EXPECT_EQ(tap.SetInputLine("No Such Line", 0.1f), S_OK);
    EXPECT_NEAR(lineLevel("Capture"), 0.5f, 0.001f);
    EXPECT_EQ(tap.SetInputLine("Capture", 1.0f), S_OK);
    EXPECT_EQ(stats.lastBlockBytes.load(), 1764 * 2); // 40 ms periods
}

TEST_F(AlsaPulse, RepeatedElementNameIsListedAndSetOnItsOwn)
{
    QX_DeviceList lines;
    ASSERT_EQ(EnumInputLines("drumlines", lines), S_OK);
    std::vector<std::string> names;
    for (const auto& l : lines) {
        EXPECT_EQ(l.Name, l.ID);
        names.push_back(l.ID);
    }
    EXPECT_EQ(std::count(names.begin(), names.end(), "Capture"), 1) << ::testing::PrintToString(names);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Capture 2"), 1) << ::testing::PrintToString(names);

    QX_AudioFilterGraph graph;
    ASSERT_EQ(graph.BuildGraph("drumlines", {}), S_OK);
    EXPECT_EQ(graph.SetInputLine("Capture 2", 0.25f), S_OK);
    EXPECT_NEAR(lineLevel("Capture 2", "drumlines"), 0.25f, 0.001f);
    EXPECT_EQ(graph.SetInputLine("Capture", 1.0f), S_OK);
    EXPECT_NEAR(lineLevel("Capture", "drumlines"), 1.0f, 0.001f);
}

TEST_F(AlsaPulse, LiveCountEqualsTheCommandLineCountOfTheSameRecording)
{
    const std::string roll = writeRoll("live.wav", 24);
    const auto counted = runCountTool({roll});
    ASSERT_EQ(counted.status, 0);
    ASSERT_EQ(counted.strokes(), 24);

    AudioTapStats stats;
    TQX_AudioTriggerDevice device("pulse", std::make_unique<AudioTap>(stats));
    ASSERT_TRUE(device.SetInputLine("Capture", 1.0f));
    device.Start(-1);
    ASSERT_TRUE(waitUntil([&] { return stats.blocks.load() > 2; }));
    ASSERT_EQ(g_server->play(roll), 0);
    const auto until = stats.samples.load() + 22050;
    ASSERT_TRUE(waitUntil([&] { return stats.samples.load() >= until; }));
    EXPECT_EQ(device.GetCount(), counted.strokes());
}

TEST_F(AlsaPulse, CommandLineToolListsAndMeasuresLive)
{
    const auto list = runCountTool({"--list"});
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("audio\tpulse\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("line\tpulse\tCapture\t"), std::string::npos) << list.out;

    // Live: the tool waits for the first stroke, then counts for one second.
    const std::string roll = writeRoll("tool.wav", 24);
    const pid_t player = g_server->playAsync(roll);
    const auto live = runCountTool({"--audio", "pulse", "--line", "Capture", "--level", "1", "--time", "1"});
    EXPECT_EQ(PulseServer::waitFor(player), 0);
    ASSERT_EQ(live.status, 0);
    EXPECT_EQ(live.out.rfind("stroke,window_end_sample,time_s,interval_samples,level,onset_sample\n", 0), 0u);
    // Eight strokes a second: the first plus those within the next 1000 ms.
    EXPECT_GE(live.strokes(), 8);
    EXPECT_LE(live.strokes(), 10);
    EXPECT_NE(live.out.find(", seconds 1.000, "), std::string::npos) << live.out;
}
