// Capture through ALSA's file plugin: a raw recording comes in bit for bit
// and as fast as it is read.
#include "AudioTap.h"
#include "DrumRecording.h"
#include "TempFolder.h"
#include "ToolRunner.h"
#include "WaitUntil.h"
#include "capture/QX_AlsaAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::unique_ptr<TempFolder> g_folder;
std::string g_dir;
drum::Samples g_recording;
bool g_ready = false;

// The plugin's definition must be in place before ALSA reads its configuration.
class FileDeviceEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!drum::kitsPresent())
            return;
        g_folder = std::make_unique<TempFolder>("tempovaro-alsafile");
        if (!g_folder->isValid())
            return;
        g_dir = g_folder->path();
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Hard.wav");
        // Half a second of silence at the end: past the end of the file the
        // plugin repeats its last period.
        g_recording = drum::render(hit, drum::evenStrokes(22050, 44100 / 7.0, 28), 22050 + 28 * 6300 + 22050, 0.002f);
        drum::writeRaw(g_dir + "/roll.raw", g_recording);
        drum::writeWav(g_dir + "/roll.wav", g_recording);
        std::ofstream config(g_dir + "/asoundrc");
        config << "pcm.drumfile { type file slave.pcm \"null\" file \"/dev/null\" infile \"" << g_dir
               << "/roll.raw\" format \"raw\" hint { show on description \"Drum test file input\" } }\n";
        config.close();
        setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + g_dir + "/asoundrc").c_str(), 1);
        g_ready = true;
    }
    void TearDown() override { g_folder.reset(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new FileDeviceEnvironment);

class AlsaFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!g_ready)
            GTEST_SKIP() << "hydrogen-drumkits is not installed";
    }
};

// Collects the first samples of the stream to compare with the file.
struct Recorder {
    drum::Samples samples;
    std::size_t wanted = 0;
    std::atomic<bool> full{false};
    void onSamples(const void* data, std::int32_t byteCount)
    {
        const auto* s = static_cast<const std::int16_t*>(data);
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(byteCount / 2), wanted - samples.size());
        samples.insert(samples.end(), s, s + n);
        if (samples.size() == wanted)
            full.store(true);
    }
};

} // namespace

TEST_F(AlsaFile, FileDeviceIsListedAndDeliversTheFileBitForBit)
{
    QX_DeviceList devices;
    ASSERT_EQ(EnumAudioDevices(devices), S_OK);
    const auto file = std::find_if(devices.begin(), devices.end(), [](const QX_Device& d) { return d.ID == "drumfile"; });
    ASSERT_NE(file, devices.end());
    EXPECT_EQ(file->Name, "Drum test file input");

    QX_DeviceList lines;
    EXPECT_EQ(EnumInputLines("drumfile", lines), S_OK); // it exists, but has no mixer
    EXPECT_TRUE(lines.empty());

    Recorder recorder;
    recorder.wanted = g_recording.size();
    recorder.samples.reserve(recorder.wanted);
    {
        QX_AudioFilterGraph graph;
        ASSERT_EQ(graph.BuildGraph("drumfile", QX_SampleHandler::Bind<Recorder, &Recorder::onSamples>(&recorder)), S_OK);
        EXPECT_EQ(graph.SetInputLine("Capture", 1.0f), S_OK); // no mixer: nothing matches
        ASSERT_EQ(graph.Run(), S_OK);
        ASSERT_TRUE(waitUntil([&] { return recorder.full.load(); }));
    }
    EXPECT_TRUE(recorder.samples == g_recording);
}

TEST_F(AlsaFile, LiveCountEqualsTheCommandLineCountOfTheSameRecording)
{
    const auto counted = runCountTool({g_dir + "/roll.wav"});
    ASSERT_EQ(counted.status, 0);
    ASSERT_EQ(counted.strokes(), 28);

    AudioTapStats stats;
    auto device = std::make_unique<TQX_AudioTriggerDevice>("drumfile", std::make_unique<AudioTap>(stats));
    device->Start(-1);
    const auto length = static_cast<std::int64_t>(g_recording.size());
    ASSERT_TRUE(waitUntil([&] { return stats.samples.load() >= length; }));
    // Past the end the plugin repeats the silence of the last period (which
    // also empties the history after a second, so only the count is compared).
    EXPECT_EQ(device->GetCount(), counted.strokes());
}

// Either detector: the main window's retry and hint depend on it.
TEST_F(AlsaFile, ADeviceThatDoesNotOpenSaysSo)
{
    using Factory = std::unique_ptr<TQX_TriggerDevice> (*)(const std::string&);
    const Factory factories[] = {
        [](const std::string& id) -> std::unique_ptr<TQX_TriggerDevice> { return CreateAudioTriggerDevice(id); },
        [](const std::string& id) -> std::unique_ptr<TQX_TriggerDevice> { return CreateFastAudioTriggerDevice(id); },
    };
    for (const Factory create : factories) {
        auto working = create("drumfile");
        working->Start(-1);
        EXPECT_EQ(working->captureHealth(), CaptureHealth::Working);
        for (const char* id : {"", "no-such-device"}) {
            auto missing = create(id);
            missing->Start(-1);
            EXPECT_EQ(missing->captureHealth(), CaptureHealth::OpenFailed) << id;
        }
    }
}
