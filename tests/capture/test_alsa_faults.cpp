// Capture faults: a sound server that dies, devices destroyed while running.
#include "AudioTap.h"
#include "PulseServer.h"
#include "QX_AlsaAudio.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

PulseServer* g_server = nullptr;

class PulseEnvironment : public ::testing::Environment {
public:
    void SetUp() override { g_server = new PulseServer; }
    void TearDown() override
    {
        delete g_server;
        g_server = nullptr;
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new PulseEnvironment);

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class AlsaFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PulseServer::binaryPresent())
            GTEST_SKIP() << "pulseaudio is not installed";
        ASSERT_TRUE(g_server && g_server->running()) << "the private PulseAudio server did not start";
    }
};

} // namespace

// Runs before the server is killed (gtest keeps the order of one file).
TEST_F(AlsaFaults, DestroyingARunningDeviceLeavesNoHandlerCallBehind)
{
    AudioTapStats stats;
    for (int round = 0; round < 10; ++round) {
        auto device = std::make_unique<TQX_AudioTriggerDevice>("pulse", std::make_unique<AudioTap>(stats));
        device->Start(-1);
        const auto blocks = stats.blocks.load();
        ASSERT_TRUE(waitUntil([&] { return stats.blocks.load() > blocks; }));
        device.reset();
        EXPECT_FALSE(stats.inHandler.load());
    }
    // Destroyed before Run, and built but never run: nothing to stop.
    auto unstarted = std::make_unique<TQX_AudioTriggerDevice>("pulse", std::make_unique<AudioTap>(stats));
    unstarted.reset();
    const auto blocks = stats.blocks.load();
    // Anything still delivering would show up while another capture runs.
    AudioTapStats other;
    AudioTap tap(other);
    ASSERT_EQ(tap.BuildGraph("pulse", {}), S_OK);
    ASSERT_EQ(tap.Run(), S_OK);
    ASSERT_TRUE(waitUntil([&] { return other.blocks.load() > 5; }));
    EXPECT_EQ(stats.blocks.load(), blocks);
}

TEST_F(AlsaFaults, ServerKilledDuringCaptureEndsTheThreadQuietly)
{
    AudioTapStats stats;
    TQX_AudioTriggerDevice device("", nullptr);
    device.Start(-1);
    AudioTap tap(stats);
    ASSERT_EQ(tap.BuildGraph("pulse", QX_SampleHandler::Bind<TQX_AudioTriggerDevice, &TQX_AudioTriggerDevice::AnalyzeSamples>(&device)), S_OK);
    ASSERT_EQ(tap.Run(), S_OK);
    ASSERT_TRUE(waitUntil([&] { return stats.blocks.load() > 2; }));

    auto watched = CreateAudioTriggerDevice("pulse");
    watched->Start(-1);
    EXPECT_EQ(watched->captureHealth(), CaptureHealth::Working);

    const double cpuBefore = processCpuSeconds();
    g_server->kill();
    ASSERT_TRUE(waitUntil([&] { return !tap.graph().isCapturing(); }));
    EXPECT_TRUE(waitUntil([&] { return watched->captureHealth() == CaptureHealth::StoppedDelivering; }));
    // A loop spinning on the dead stream would have used the whole wait.
    EXPECT_LT(processCpuSeconds() - cpuBefore, 1.0);
    EXPECT_EQ(tap.Run(), E_FAIL);
    EXPECT_FALSE(stats.inHandler.load());

    // The server is gone: opening its device again fails cleanly.
    QX_AudioFilterGraph again;
    EXPECT_EQ(again.BuildGraph("pulse", {}), E_FAIL);
    QX_DeviceList lines;
    EXPECT_EQ(EnumInputLines("pulse", lines), E_FAIL);
}
