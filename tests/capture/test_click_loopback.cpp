// The click played into a private PulseAudio server's null sink and recorded
// back from its monitor, and the server's PCM listed for playback.
#include "ClickLoopback.h"
#include "PulseServer.h"
#include "ServerEnvironment.h"

#include <algorithm>

namespace {

using Pulse = ServerEnvironment<PulseServer>;
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new Pulse);

class ClickPulse : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PulseServer::binaryPresent())
            GTEST_SKIP() << "pulseaudio is not installed";
        ASSERT_TRUE(Pulse::server() && Pulse::server()->running()) << "the private PulseAudio server did not start";
    }
};

} // namespace

TEST_F(ClickPulse, ClicksArriveAsScheduled)
{
    std::int64_t offset = -1, capturedAtStart = -1;
    loopback::checkClicksArriveAsScheduled("pulse", offset, capturedAtStart);
    // The null sink adds no latency: the output stream's first sample is
    // captured right where the capture stood when the player started.
    EXPECT_GE(offset, capturedAtStart);
    RecordProperty("offset_samples", std::to_string(offset));
    RecordProperty("captured_at_start", std::to_string(capturedAtStart));
}

TEST_F(ClickPulse, CalibrationFindsEveryClickWithinASample)
{
    // On one server both streams run on one clock, so every click comes back
    // at the same offset: the spread is far below the 1 ms a calibration allows.
    const CalibrationResult r = loopback::calibrateOnce("pulse");
    ASSERT_TRUE(r.accepted) << r.message;
    EXPECT_EQ(r.heard, kCalibrationClicks);
    EXPECT_LT(*r.spreadMs, 1000.0 / 44100.0);
}

TEST_F(ClickPulse, ServerIsListedForPlayback)
{
    QX_DeviceList devices;
    ASSERT_EQ(EnumPlaybackDevices(devices), S_OK);
    EXPECT_EQ(devices.front().ID, "default");
    EXPECT_TRUE(std::any_of(devices.begin(), devices.end(), [](const QX_Device& d) { return d.ID == "pulse"; }));
    EXPECT_TRUE(std::none_of(devices.begin(), devices.end(), [](const QX_Device& d) { return d.ID == "null"; }));
}
