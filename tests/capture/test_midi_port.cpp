// The MIDI port end to end through a private JACK server: a sender in this
// process plays a known sequence; ports, readers and trigger devices listen.
#include "JackServer.h"
#include "MidiSender.h"
#include "QX_MidiPort.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <optional>
#include <regex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Notes as a handler on the reader thread sees them.
struct NoteLog {
    struct Note {
        std::uint8_t note;
        std::uint8_t velocity;
        std::int64_t time100ns;
    };
    std::array<Note, 256> notes{};
    std::atomic<int> count{0};

    void onNote(std::uint8_t note, std::uint8_t velocity, std::int64_t time100ns)
    {
        const int n = count.load(std::memory_order_relaxed);
        if (n < static_cast<int>(notes.size())) {
            notes[n] = {note, velocity, time100ns};
            count.store(n + 1, std::memory_order_release);
        }
    }
    QX_NoteHandler handler() { return QX_NoteHandler::Bind<NoteLog, &NoteLog::onNote>(this); }
    int lastNote() const
    {
        const int n = count.load(std::memory_order_acquire);
        return n > 0 ? notes[n - 1].note : -1;
    }
};

// A new JACK connection carries data only from a later cycle on, and on a
// slow machine (ThreadSanitizer) that can be well after the port opened: a
// probe note, repeated until every listener has heard it, makes sure the
// measured notes are not sent into a connection still being made. Then a
// marker note: notes arrive in order, so once every listener's last note is
// the marker, no probe is still on its way. Trigger devices under test keep
// a note filter that drops both, so neither arms them.
constexpr std::uint8_t kProbeNote = 99;
constexpr std::uint8_t kMarkerNote = 98;
constexpr std::int32_t kDropsProbes = 127;

// Sends the marker and waits until every listener has taken in all that was sent before it.
template <class LastNotesAre>
bool flushed(MidiSender& sender, LastNotesAre lastNotesAre)
{
    sender.send({0x99, kMarkerNote, 1});
    return waitUntil([&] { return lastNotesAre(kMarkerNote); }, 3000);
}

template <class LastNotesAre>
bool connectionsReady(MidiSender& sender, LastNotesAre lastNotesAre)
{
    const auto probed = waitUntil(
        [&] {
            if (lastNotesAre(kProbeNote))
                return true;
            sender.send({0x99, kProbeNote, 1});
            return false;
        },
        10000, 50);
    return probed && flushed(sender, lastNotesAre);
}

// The note filter of trigger devices, changed while their readers run as the
// program's settings dialog does.
void setNoteFilter(std::int32_t& noteNr, std::int32_t note)
{
    std::atomic_ref<std::int32_t>(noteNr).store(note, std::memory_order_relaxed);
}

class MidiPortJack : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new JackServer(64); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!server->binaryFound())
            GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(server->running()) << server->log();
    }

    static std::optional<QX_Device> findPort(const std::string& name)
    {
        QX_DeviceList list;
        EnumPorts(list);
        for (const auto& d : list)
            if (d.Name == name)
                return d;
        return std::nullopt;
    }

    static inline JackServer* server = nullptr;
};

TEST_F(MidiPortJack, ListsTheSenderOnceWithAStableId)
{
    std::string id;
    {
        MidiSender sender;
        ASSERT_TRUE(sender.isOpen());
        QX_DeviceList list;
        QX_MidiPort lister;
        EXPECT_EQ(lister.EnumPorts(list), S_OK);
        ASSERT_EQ(list.size(), 1u) << "only the sender's port; no port of the program itself";
        EXPECT_EQ(list[0].Name, MidiSender::kPortName);
        EXPECT_EQ(list[0].Level, 0.0f);
        EXPECT_TRUE(std::regex_match(list[0].ID, std::regex(R"(\{[0-9A-F]{8}-([0-9A-F]{4}-){3}[0-9A-F]{12}\})")))
            << list[0].ID;
        id = list[0].ID;

        // An open port adds an input of ours to the server; it is not listed.
        NoteLog log; // outlives the port, whose reader writes into it
        QX_MidiPort open;
        ASSERT_EQ(open.OpenPort(id, log.handler()), S_OK);
        QX_DeviceList again;
        lister.EnumPorts(again);
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0].ID, id);
    }
    // Unplugged and plugged in again: the stored ID finds it.
    MidiSender replugged;
    const auto port = findPort(MidiSender::kPortName);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->ID, id);
}

TEST_F(MidiPortJack, OpenPortRefusesUnknownAndMalformedIds)
{
    MidiSender sender;
    const auto port = findPort(MidiSender::kPortName);
    ASSERT_TRUE(port);
    std::string lower = port->ID;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& id : {std::string(), std::string("DrumSender:pads"), std::string("{12345678-1234}"),
                                 std::string("{00000000-0000-0000-0000-000000000000}"), lower,
                                 port->ID.substr(0, 37) + "]"}) {
        NoteLog log;
        QX_MidiPort p;
        EXPECT_EQ(p.OpenPort(id, log.handler()), E_FAIL) << id;
        p.Resume(); // a reader without a port ends at once
    }
}

// The sequence: what is sent, and after how many milliseconds.
struct Step {
    int afterMs;
    Bytes bytes;
};

const std::vector<Step> kSequence = {
    {0, {0x99, 36, 100}},   // ch 10: arms both
    {40, {0xF8}},           // clocks between the notes
    {40, {0x90, 38, 90}},   // ch 1
    {20, {0xF8}},
    {20, {0xFE}},           // active sensing
    {40, {0x99, 36, 64}},   // ch 10
    {40, {0x99, 36, 0}},    // Note On with velocity 0 is a Note Off
    {20, {0x89, 36, 64}},   // Note Off
    {20, {0xB9, 7, 100}},   // control change
    {20, {0xA9, 36, 50}},   // aftertouch, the status after the channel-16 Note On
    {20, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}, // system exclusive
    {40, {0x9F, 40, 127}},  // ch 16
    {40, {0x99, 36}},       // too short
    {20, {0x99}},
    {60, {0x99, 38, 110}},  // ch 10
    {60, {0x99, 36, 100}},  // ch 10
    {80, {0x95, 42, 30}},   // ch 6
    {40, {0xF8}},
    {40, {0x99, 36, 1}},    // ch 10
};

struct Expected {
    std::vector<int> steps; // indices of the steps delivered as notes
};

TEST_F(MidiPortJack, CountsTheSequenceOnAllChannelsAndOnChannelTen)
{
    MidiSender sender;
    const auto port = findPort(MidiSender::kPortName);
    ASSERT_TRUE(port);

    // Two raw readers and two trigger devices listen to the same sender.
    NoteLog allLog; // declared first: the readers write into them until the ports go
    NoteLog tenLog;
    QX_MidiPort all;
    QX_MidiPort ten;
    ASSERT_EQ(all.OpenPort(port->ID, allLog.handler()), S_OK);
    ASSERT_EQ(ten.OpenPort(port->ID, tenLog.handler()), S_OK);
    all.SetChannel(0);
    ten.SetChannel(10);
    all.Resume();
    ten.Resume();
    ten.SetChannel(0); // read once when the reader starts: no effect now
    ten.Resume();      // again: no change

    std::int32_t noteNr = kDropsProbes;
    auto deviceAll = createMidiTriggerDevice(port->ID, &noteNr);
    auto deviceTen = createMidiTriggerDevice(port->ID, &noteNr);
    deviceAll->SetChannel(0);
    deviceTen->SetChannel(10);
    deviceAll->Start(-1);
    deviceTen->Start(-1);
    const auto lastNotesAre = [&](int note) {
        return allLog.lastNote() == note && tenLog.lastNote() == note && deviceAll->GetLastNote() == note &&
               deviceTen->GetLastNote() == note;
    };
    ASSERT_TRUE(connectionsReady(sender, lastNotesAre));
    // The devices have not taken a note in: the sequence's first note arms them.
    setNoteFilter(noteNr, -1);
    const int allBase = allLog.count;
    const int tenBase = tenLog.count;
    const int allCounted = deviceAll->GetCount();
    const int tenCounted = deviceTen->GetCount();

    std::vector<Clock::time_point> sent;
    auto next = Clock::now();
    for (const auto& step : kSequence) {
        next += std::chrono::milliseconds(step.afterMs);
        std::this_thread::sleep_until(next);
        sent.push_back(sender.send(step.bytes));
    }

    const std::vector<int> allSteps = {0, 2, 5, 11, 14, 15, 16, 18};
    const std::vector<int> tenSteps = {0, 5, 14, 15, 18};
    ASSERT_TRUE(waitUntil(
        [&] {
            return allLog.count >= allBase + 8 && tenLog.count >= tenBase + 5 &&
                   deviceAll->GetCount() >= allCounted + 7 && deviceTen->GetCount() >= tenCounted + 4;
        },
        3000))
        << allLog.count << " " << tenLog.count << " " << deviceAll->GetCount();
    EXPECT_EQ(deviceTen->GetLastNote(), 36);
    // Anything wrongly let through arrives before the marker.
    setNoteFilter(noteNr, kDropsProbes);
    ASSERT_TRUE(flushed(sender, lastNotesAre));

    const double toleranceS = server->intervalToleranceSeconds();
    auto check = [&](const NoteLog& log, int base, const std::vector<int>& steps, const char* what) {
        ASSERT_EQ(log.count.load(), base + static_cast<int>(steps.size()) + 1) << what << ": the notes, then the marker";
        const auto* notes = &log.notes[base];
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Bytes& b = kSequence[steps[i]].bytes;
            EXPECT_EQ(notes[i].note, b[1]) << what << " note " << i;
            EXPECT_EQ(notes[i].velocity, b[2]) << what << " note " << i;
            EXPECT_GT(notes[i].time100ns, 10'000'000) << "times are far above one second";
            if (i == 0)
                continue;
            const double measured = (notes[i].time100ns - notes[i - 1].time100ns) / 1e7;
            const double truth = std::chrono::duration<double>(sent[steps[i]] - sent[steps[i - 1]]).count();
            EXPECT_NEAR(measured, truth, toleranceS) << what << " interval before note " << i;
        }
    };
    check(allLog, allBase, allSteps, "channel 0");
    check(tenLog, tenBase, tenSteps, "channel 10");

    // Devices: the first note arms, every other note counts and stays in the history.
    EXPECT_EQ(deviceAll->GetCount() - allCounted, 7);
    EXPECT_EQ(deviceTen->GetCount() - tenCounted, 4);
    const double sequenceS = std::chrono::duration<double>(sent.back() - sent.front()).count();
    EXPECT_NEAR(deviceAll->GetMeanInterval(), sequenceS / 7, toleranceS);
    EXPECT_NEAR(deviceTen->GetMeanInterval(), sequenceS / 4, toleranceS);
}

TEST_F(MidiPortJack, NoteFilterOnALivePort)
{
    MidiSender sender;
    const auto port = findPort(MidiSender::kPortName);
    ASSERT_TRUE(port);
    std::int32_t noteNr = 38;
    auto device = createMidiTriggerDevice(port->ID, &noteNr);
    device->Start(-1);
    const auto lastNoteIs = [&](int note) { return device->GetLastNote() == note; };
    ASSERT_TRUE(connectionsReady(sender, lastNoteIs));
    const int counted = device->GetCount();
    auto t = Clock::now();
    std::vector<Clock::time_point> sent;
    for (const std::uint8_t note : {38, 36, 38, 36, 38}) {
        t += std::chrono::milliseconds(30);
        std::this_thread::sleep_until(t);
        sent.push_back(sender.send({0x90, note, 80}));
    }
    ASSERT_TRUE(flushed(sender, lastNoteIs));
    EXPECT_EQ(device->GetCount() - counted, 2);
    // The two counted intervals run from the first 38 to the last; measured
    // against when the notes really went out, which a loaded machine delays.
    const double spanS = std::chrono::duration<double>(sent.back() - sent.front()).count();
    EXPECT_NEAR(device->GetMeanInterval(), spanS / 2, server->intervalToleranceSeconds());
}

} // namespace
