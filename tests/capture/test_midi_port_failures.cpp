// The MIDI port where things go wrong: no MIDI system at all, and a JACK
// server that goes away under an open port.
#include "JackServer.h"
#include "MidiSender.h"
#include "QX_MidiPort.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Runs fn on another thread; true if it returned in time. A hang is reported
// as a failure and the process ends, rather than the test run stalling.
template <class Fn>
bool returnsWithin(std::chrono::seconds limit, Fn fn)
{
    auto done = std::async(std::launch::async, std::move(fn));
    if (done.wait_for(limit) == std::future_status::ready)
        return true;
    ADD_FAILURE() << "did not return within " << limit.count() << " s";
    std::_Exit(1);
}

TEST(MidiPortWithoutMidi, EmptyListNoExceptionAndADeviceThatCountsNothing)
{
    if (access("/dev/snd/seq", F_OK) == 0)
        GTEST_SKIP() << "this machine has an ALSA sequencer, whose ports would be listed";
    useNoJackServer();

    QX_DeviceList list{{"kept", "{00000000-0000-0000-0000-000000000001}", 0.0f}};
    {
        QX_MidiPort port;
        EXPECT_NO_THROW(port.EnumPorts(list));
    }
    ASSERT_EQ(list.size(), 1u) << "a run that finds nothing leaves the list as it was";
    EXPECT_EQ(list[0].Name, "kept");

    std::int32_t noteNr = -1;
    std::unique_ptr<TQX_MidiTriggerDevice> device;
    EXPECT_NO_THROW(device = createMidiTriggerDevice(list[0].ID, &noteNr));
    ASSERT_TRUE(device);
    device->SetChannel(10);
    device->Start(-1);
    EXPECT_EQ(device->captureHealth(), CaptureHealth::OpenFailed);
    EXPECT_EQ(device->GetCount(), 0);
    EXPECT_EQ(device->GetLastNote(), -1);
    EXPECT_TRUE(returnsWithin(10s, [&] { device.reset(); }));
}

TEST(MidiPortWithoutMidi, PortsThatNeverRanFinish)
{
    useNoJackServer();
    EXPECT_TRUE(returnsWithin(10s, [] {
        { QX_MidiPort listedOnly; }
        {
            QX_MidiPort failedOpen;
            failedOpen.OpenPort("{00000000-0000-0000-0000-000000000001}", {});
        }
        {
            QX_MidiPort stopped;
            stopped.Terminate();
            stopped.Resume();
        }
    }));
}

TEST(MidiPortJackLost, ServerStoppedUnderAnOpenPort)
{
    JackServer server(64);
    if (!server.binaryFound())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(server.running()) << server.log();

    auto sender = std::make_unique<MidiSender>();
    ASSERT_TRUE(sender->isOpen());
    QX_DeviceList list;
    QX_MidiPort lister;
    ASSERT_EQ(lister.EnumPorts(list), S_OK);
    ASSERT_EQ(list.size(), 1u);

    std::int32_t noteNr = 36; // drops the probes, which therefore do not arm it
    auto device = createMidiTriggerDevice(list[0].ID, &noteNr);
    QX_MidiPort idle; // open but never started
    ASSERT_EQ(idle.OpenPort(list[0].ID, {}), S_OK);
    device->Start(-1);
    // Notes only once the new connection carries data (slow under ThreadSanitizer).
    ASSERT_TRUE(waitUntil(
        [&] {
            if (device->GetLastNote() == 99)
                return true;
            sender->send({0x90, 99, 1});
            return false;
        },
        10000, 50));
    for (int i = 0; i < 3; ++i) {
        sender->send({0x99, 36, 100});
        std::this_thread::sleep_for(20ms);
    }
    // The first note arms, the others count.
    ASSERT_TRUE(waitUntil([&] { return device->GetCount() >= 2; }, 3000));
    const int counted = 2;
    EXPECT_EQ(device->GetCount(), counted);

    EXPECT_EQ(device->captureHealth(), CaptureHealth::Working);
    server.stop();
    sender->send({0x99, 36, 100});
    EXPECT_TRUE(waitUntil([&] { return device->captureHealth() != CaptureHealth::Working; }, 5000));
    EXPECT_EQ(device->captureHealth(), CaptureHealth::StoppedDelivering);
    EXPECT_FALSE(idle.IsDelivering());
    EXPECT_EQ(device->GetCount(), counted);
    EXPECT_TRUE(returnsWithin(10s, [&] {
        device.reset();
        sender.reset();
    }));
}

TEST(MidiPortJackLost, SourceThatQuitsWhileTheServerRuns)
{
    JackServer server(64);
    if (!server.binaryFound())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(server.running()) << server.log();
    auto sender = std::make_unique<MidiSender>();
    ASSERT_TRUE(sender->isOpen());
    QX_DeviceList list;
    // A loaded machine may take a moment to show the new port.
    const auto listed = std::chrono::steady_clock::now() + 10s;
    while (EnumPorts(list) != S_OK && std::chrono::steady_clock::now() < listed)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(list.size(), 1u);

    QX_MidiPort port;
    ASSERT_EQ(port.OpenPort(list[0].ID, {}), S_OK);
    port.Resume();
    EXPECT_TRUE(port.IsDelivering());
    sender.reset(); // its port is unregistered
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (port.IsDelivering() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(port.IsDelivering());
}

} // namespace
