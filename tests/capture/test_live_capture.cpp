// Live capture through a private sound server, reached through ALSA as a
// user's machine reaches it: device and line lists, the capture volume, live
// counts against the command-line tool's count of the same recording, a
// device destroyed while it runs, and the server killed under a capture.
// One suite over every server, run once per server with the others' suites
// filtered out (ctest does that), since each server needs the process's ALSA
// configuration and environment to itself before the first ALSA call.
#include "AudioTap.h"
#include "ChildProcess.h"
#include "DrumRecording.h"
#include "PipeWireServer.h"
#include "PulseServer.h"
#include "Takes.h"
#include "ToolRunner.h"
#include "WaitUntil.h"
#include "capture/QX_AlsaAudio.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// PulseAudio with a null sink whose monitor is the default source: the ALSA device "pulse".
struct PulseRig {
    using Server = PulseServer;
    static bool present() { return PulseServer::binaryPresent(); }
    static constexpr const char* kMissing = "pulseaudio";
    static std::vector<std::string> devices() { return {"pulse"}; }
    static const char* firstListed() { return nullptr; }
    static constexpr const char* kPcmType = "pulse";
};

// PipeWire with WirePlumber: the devices "pipewire" and "default", listed first.
struct PipeWireRig {
    using Server = PipeWireServer;
    static bool present() { return PipeWireServer::binaryPresent(); }
    static constexpr const char* kMissing = "pipewire, wireplumber or the pipewire-alsa plugins";
    static std::vector<std::string> devices() { return {"pipewire", "default"}; }
    static const char* firstListed() { return "default"; }
    static constexpr const char* kPcmType = "pipewire";
};

// The capture reads 40 ms periods of 44.1 kHz mono.
constexpr int kPeriodSamples = 1764;
constexpr int kPeriodMs = 40;
// A new stream carries sound only once the server (under PipeWire, its
// session manager) has linked it, which a loaded machine can put off for
// many seconds; this bound only keeps a broken server from hanging the run.
constexpr int kStreamWaitMs = 30000;

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <class Rig>
class LiveCapture : public ::testing::Test {
protected:
    using Server = typename Rig::Server;

    static void SetUpTestSuite()
    {
        if (!Rig::present())
            return;
        server = new Server;
        // "drumlines": the server's PCM with a mixer that repeats the capture
        // volume under index 1, as cards with two ADCs do.
        const std::string config = server->dir() + "/lines.conf";
        std::ofstream(config) << "ctl.drumlines { type remap child \"" << Rig::kPcmType
                              << "\" map { \"name='Capture Volume',index=1\" { \"name='Capture Volume'\" { vindex.0 0 } } } }\n"
                              << "pcm.drumlines { type " << Rig::kPcmType << " }\n";
        const char* path = std::getenv("ALSA_CONFIG_PATH");
        setenv("ALSA_CONFIG_PATH",
               ((path ? std::string(path) : std::string("/usr/share/alsa/alsa.conf")) + ":" + config).c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!Rig::present() || !drum::kitsPresent())
            GTEST_SKIP() << Rig::kMissing << " or hydrogen-drumkits is not installed";
        ASSERT_TRUE(server && server->running()) << "the private server did not start; its logs are in "
                                                 << (server ? server->dir() : std::string());
    }

    // Eight strokes a second after a quarter second of silence, and then
    // tailSamples more for the last stroke to ring out.
    static std::string writeRoll(const std::string& name, int strokes, int tailSamples = 22050)
    {
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
        const std::string path = server->dir() + "/" + name;
        drum::writeWav(path, drum::render(hit, drum::evenStrokes(11025, 44100 / 8.0, strokes),
                                          11025 + strokes * 5513 + tailSamples));
        return path;
    }

    static float lineLevel(const std::string& device, const std::string& line)
    {
        QX_DeviceList lines;
        EnumInputLines(device, lines);
        for (const auto& l : lines)
            if (l.ID == line)
                return l.Level;
        return -2.0f;
    }

    static inline Server* server = nullptr;
};

using Rigs = ::testing::Types<PulseRig, PipeWireRig>;
// Each server's suite is named for it: LiveCapture/pulse, LiveCapture/pipewire.
struct RigName {
    template <class Rig>
    static std::string GetName(int) { return Rig::kPcmType; }
};
TYPED_TEST_SUITE(LiveCapture, Rigs, RigName);

} // namespace

TYPED_TEST(LiveCapture, DevicesAreListedWithTheirCaptureLine)
{
    QX_DeviceList devices;
    ASSERT_EQ(EnumAudioDevices(devices), S_OK);
    ASSERT_FALSE(devices.empty());
    if (TypeParam::firstListed()) {
        EXPECT_EQ(devices.front().ID, TypeParam::firstListed());
    }
    for (const auto& d : devices)
        EXPECT_EQ(std::count_if(devices.begin(), devices.end(), [&](const QX_Device& o) { return o.ID == d.ID; }), 1);
    for (const std::string& id : TypeParam::devices()) {
        SCOPED_TRACE(id);
        const auto listed = std::find_if(devices.begin(), devices.end(), [&](const QX_Device& d) { return d.ID == id; });
        ASSERT_NE(listed, devices.end());
        EXPECT_FALSE(listed->Name.empty());
        EXPECT_EQ(listed->Name.find('\n'), std::string::npos);

        QX_DeviceList lines{QX_Device{"stale", "stale", 0.5f}};
        ASSERT_EQ(EnumInputLines(id, lines), S_OK);
        const auto capture = std::find_if(lines.begin(), lines.end(), [](const QX_Device& d) { return d.ID == "Capture"; });
        ASSERT_NE(capture, lines.end());
        EXPECT_EQ(capture->Name, capture->ID);
        EXPECT_GE(capture->Level, 0.0f);
        EXPECT_LE(capture->Level, 1.0f);
        EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const QX_Device& d) { return d.ID == "stale"; }));
    }
}

TYPED_TEST(LiveCapture, UnknownDeviceFailsAndCountsNothing)
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

TYPED_TEST(LiveCapture, InputLineLevelShapesTheCapturedSignalAndReadsBack)
{
    // Only the peaks count here, and the capture is waited for past the end
    // of each playback: the roll needs no quiet tail of its own.
    const std::string roll = this->writeRoll("level.wav", 4, 0);
    for (const std::string& id : TypeParam::devices()) {
        SCOPED_TRACE(id);
        AudioTapStats stats;
        AudioTap tap(stats);
        ASSERT_EQ(tap.BuildGraph(id, {}), S_OK);
        ASSERT_EQ(tap.Run(), S_OK);
        EXPECT_EQ(tap.Run(), S_OK); // a second Run changes nothing

        auto peakOfPlayback = [&](float level) {
            EXPECT_EQ(tap.SetInputLine("Capture", level), S_OK);
            EXPECT_NEAR(this->lineLevel(id, "Capture"), level, 0.001f);
            stats.peak.store(0);
            EXPECT_EQ(this->server->play(roll), 0);
            // Wait for the end of the playback to pass the capture buffer.
            const auto until = stats.samples.load() + 22050;
            EXPECT_TRUE(waitUntil([&] { return stats.samples.load() >= until; }, kStreamWaitMs));
            return stats.peak.load();
        };
        const int full = peakOfPlayback(1.0f);
        const int half = peakOfPlayback(0.5f);
        EXPECT_GT(full, 10000);
        EXPECT_LT(half, full / 2);
        EXPECT_GT(half, 0);

        // A line that does not exist is no failure and changes nothing.
        EXPECT_EQ(tap.SetInputLine("No Such Line", 0.1f), S_OK);
        EXPECT_NEAR(this->lineLevel(id, "Capture"), 0.5f, 0.001f);
        EXPECT_EQ(tap.SetInputLine("Capture", 1.0f), S_OK);
        EXPECT_EQ(stats.lastBlockBytes.load(), kPeriodSamples * 2);
    }
}

TYPED_TEST(LiveCapture, RepeatedElementNameIsListedAndSetOnItsOwn)
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
    EXPECT_NEAR(this->lineLevel("drumlines", "Capture 2"), 0.25f, 0.001f);
    EXPECT_EQ(graph.SetInputLine("Capture", 1.0f), S_OK);
    EXPECT_NEAR(this->lineLevel("drumlines", "Capture"), 1.0f, 0.001f);
}

TYPED_TEST(LiveCapture, LiveCountEqualsTheCommandLineCountOfTheSameRecording)
{
    const std::string roll = this->writeRoll("live.wav", 24);
    const auto counted = runCountTool({roll});
    ASSERT_EQ(counted.status, 0);
    ASSERT_EQ(counted.strokes(), 24);

    const std::string id = TypeParam::devices().front();
    int live = -1;
    takes([&] {
        AudioTapStats stats;
        TQX_AudioTriggerDevice device(id, std::make_unique<AudioTap>(stats));
        EXPECT_TRUE(device.SetInputLine("Capture", 1.0f));
        device.Start(-1);
        EXPECT_TRUE(waitUntil([&] { return stats.blocks.load() > 2; }, kStreamWaitMs));
        EXPECT_EQ(this->server->play(roll), 0);
        const auto until = stats.samples.load() + 22050;
        EXPECT_TRUE(waitUntil([&] { return stats.samples.load() >= until; }, kStreamWaitMs));
        live = device.GetCount();
        return live == counted.strokes();
    });
    EXPECT_EQ(live, counted.strokes());
}

TYPED_TEST(LiveCapture, CommandLineToolListsAndMeasuresLive)
{
    const auto list = runCountTool({"--list"});
    ASSERT_EQ(list.status, 0);
    for (const std::string& id : TypeParam::devices()) {
        EXPECT_NE(list.out.find("audio\t" + id + "\t"), std::string::npos) << list.out;
        EXPECT_NE(list.out.find("line\t" + id + "\tCapture\t"), std::string::npos) << list.out;
    }

    // Live: the tool waits for the first stroke, then counts one second of
    // the capture. Eight strokes a second: the first, and those of the next
    // 1000 ms, where a stroke may be taken in up to one capture period after
    // it sounded, which moves the second's edges by as much. The roll lasts
    // five seconds, so a tool that is slow to start still hears a whole
    // second; once the tool has ended, the rest of the roll is not needed.
    constexpr int kStrokeMs = 125;
    constexpr int kFewest = 1 + (1000 - kPeriodMs) / kStrokeMs;
    constexpr int kMost = 1 + (1000 + kPeriodMs) / kStrokeMs;
    const std::string id = TypeParam::devices().front();
    const std::string roll = this->writeRoll("tool.wav", 40);
    ToolRun live;
    takes([&] {
        const pid_t player = this->server->playAsync(roll);
        live = runCountTool({"--audio", id, "--line", "Capture", "--level", "1", "--time", "1"});
        EXPECT_TRUE(stopPlayer(player));
        return live.status == 0 && live.strokes() >= kFewest && live.strokes() <= kMost;
    });
    ASSERT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(live.out.rfind("stroke,window_end_sample,time_s,interval_samples,level,onset_sample\n", 0), 0u);
    EXPECT_GE(live.strokes(), kFewest) << live.out;
    EXPECT_LE(live.strokes(), kMost) << live.out;
    EXPECT_NE(live.out.find(", seconds 1.000, "), std::string::npos) << live.out;
}

TYPED_TEST(LiveCapture, DestroyingARunningDeviceLeavesNoHandlerCallBehind)
{
    const std::string id = TypeParam::devices().front();
    AudioTapStats stats;
    for (int round = 0; round < 10; ++round) {
        auto device = std::make_unique<TQX_AudioTriggerDevice>(id, std::make_unique<AudioTap>(stats));
        device->Start(-1);
        const auto blocks = stats.blocks.load();
        ASSERT_TRUE(waitUntil([&] { return stats.blocks.load() > blocks; }, kStreamWaitMs));
        device.reset();
        EXPECT_FALSE(stats.inHandler.load());
    }
    // Destroyed before Run, and built but never run: nothing to stop.
    auto unstarted = std::make_unique<TQX_AudioTriggerDevice>(id, std::make_unique<AudioTap>(stats));
    unstarted.reset();
    const auto blocks = stats.blocks.load();
    // Anything still delivering would show up while another capture runs.
    AudioTapStats other;
    AudioTap tap(other);
    ASSERT_EQ(tap.BuildGraph(id, {}), S_OK);
    ASSERT_EQ(tap.Run(), S_OK);
    ASSERT_TRUE(waitUntil([&] { return other.blocks.load() > 5; }, kStreamWaitMs));
    EXPECT_EQ(stats.blocks.load(), blocks);
}

// Last of the suite (gtest keeps the order of one file): it ends the server.
TYPED_TEST(LiveCapture, ServerKilledDuringCaptureEndsTheCaptureQuietly)
{
    const std::string id = TypeParam::devices().front();
    AudioTapStats stats;
    TQX_AudioTriggerDevice device("", nullptr);
    device.Start(-1);
    AudioTap tap(stats);
    ASSERT_EQ(tap.BuildGraph(id, QX_SampleHandler::Bind<TQX_AudioTriggerDevice, &TQX_AudioTriggerDevice::AnalyzeSamples>(&device)),
              S_OK);
    ASSERT_EQ(tap.Run(), S_OK);
    ASSERT_TRUE(waitUntil([&] { return stats.blocks.load() > 2; }, kStreamWaitMs));

    auto watched = CreateAudioTriggerDevice(id);
    watched->Start(-1);
    EXPECT_EQ(watched->captureHealth(), CaptureHealth::Working);

    const double cpuBefore = processCpuSeconds();
    this->server->kill();
    ASSERT_TRUE(waitUntil([&] { return !tap.graph().isCapturing(); }));
    EXPECT_TRUE(waitUntil([&] { return watched->captureHealth() == CaptureHealth::StoppedDelivering; }));
    // A loop spinning on the dead stream would have used the whole wait.
    EXPECT_LT(processCpuSeconds() - cpuBefore, 1.0);
    EXPECT_EQ(tap.Run(), E_FAIL);
    EXPECT_FALSE(stats.inHandler.load());

    // The server is gone: opening its device again fails cleanly.
    QX_AudioFilterGraph again;
    EXPECT_EQ(again.BuildGraph(id, {}), E_FAIL);
    QX_DeviceList lines;
    EXPECT_EQ(EnumInputLines(id, lines), E_FAIL);
}
