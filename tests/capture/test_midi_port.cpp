// The MIDI port: what it makes of messages (times, channels, filters) through
// a loopback that feeds it as the back-end's thread would, with no MIDI
// system; the machine without one; and one pass end to end through a private
// JACK server: list, open, count, a source and then the server going away.
#include "JackSenderTest.h"
#include "WaitUntil.h"
#include "capture/QX_MidiPort.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <future>
#include <regex>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
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

// A trigger device's input that is a loopback port.
class LoopbackInput : public TQX_MidiInput {
public:
    QX_MidiPort& port() { return m_port; }
    HRESULT OpenPort(const std::string&, QX_NoteHandler OnNote) override { return m_port.OpenLoopback(OnNote); }
    void SetChannel(std::int32_t Channel) override { m_port.SetChannel(Channel); }
    void Resume() override { m_port.Resume(); }
    void Terminate() override { m_port.Terminate(); }
    void Finish() override { m_port.Finish(); }
    bool IsDelivering() const override { return m_port.IsDelivering(); }

private:
    QX_MidiPort m_port;
};

std::unique_ptr<TQX_MidiTriggerDevice> loopbackDevice(const std::int32_t* noteFilter, QX_MidiPort*& feed)
{
    auto input = std::make_unique<LoopbackInput>();
    feed = &input->port();
    return std::make_unique<TQX_MidiTriggerDevice>("", std::move(input), noteFilter);
}

// Messages a reader takes in only once it runs, which is a moment after
// Resume (and through JACK, once a new connection carries data): a probe
// note, repeated until every listener has heard it. Then a marker: notes
// arrive in order, so once every listener's last note is the marker,
// nothing sent before it is still on its way. Two markers take turns, so a
// marker left over from the flush before never passes for this one. Probes
// and markers carry no time, so they change no interval; trigger devices
// under test keep a note filter that drops them all.
constexpr std::uint8_t kProbeNote = 99;
constexpr std::uint8_t kMarkerNotes[] = {98, 97};
constexpr std::int32_t kDropsProbes = 127;

std::uint8_t nextMarker()
{
    static int flushes = 0;
    return kMarkerNotes[flushes++ % 2];
}

template <class Send, class LastNotesAre>
bool flushed(Send send, LastNotesAre lastNotesAre)
{
    const std::uint8_t marker = nextMarker();
    send(Bytes{0x99, marker, 1});
    return waitUntil([&] { return lastNotesAre(marker); }, 3000);
}

template <class Send, class LastNotesAre>
bool connectionsReady(Send send, LastNotesAre lastNotesAre)
{
    const auto probed = waitUntil(
        [&] {
            if (lastNotesAre(kProbeNote))
                return true;
            send(Bytes{0x99, kProbeNote, 1});
            return false;
        },
        10000, 50);
    return probed && flushed(send, lastNotesAre);
}

// The note filter of trigger devices, changed while their readers run as the
// program's settings dialog does.
void setNoteFilter(std::int32_t& noteNr, std::int32_t note)
{
    std::atomic_ref<std::int32_t>(noteNr).store(note, std::memory_order_relaxed);
}

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

TEST(MidiPortLoopback, CountsTheSequenceOnAllChannelsAndOnChannelTen)
{
    // Two raw readers and two trigger devices take in the same messages.
    NoteLog allLog; // declared first: the readers write into them until the ports go
    NoteLog tenLog;
    QX_MidiPort all;
    QX_MidiPort ten;
    ASSERT_EQ(all.OpenLoopback(allLog.handler()), S_OK);
    ASSERT_EQ(ten.OpenLoopback(tenLog.handler()), S_OK);
    all.SetChannel(0);
    ten.SetChannel(10);
    all.Resume();
    ten.Resume();
    ten.SetChannel(0); // read once when the reader starts: no effect now
    ten.Resume();      // again: no change
    EXPECT_EQ(ten.OpenLoopback(tenLog.handler()), E_FAIL) << "no new port under a running reader";

    std::int32_t noteNr = kDropsProbes;
    QX_MidiPort* feedAll = nullptr;
    QX_MidiPort* feedTen = nullptr;
    auto deviceAll = loopbackDevice(&noteNr, feedAll);
    auto deviceTen = loopbackDevice(&noteNr, feedTen);
    deviceAll->SetChannel(0);
    deviceTen->SetChannel(10);
    deviceAll->Start(-1);
    deviceTen->Start(-1);
    EXPECT_EQ(deviceAll->captureHealth(), CaptureHealth::Working);
    const auto send = [&](double deltaSeconds, const Bytes& bytes) {
        for (QX_MidiPort* port : {&all, &ten, feedAll, feedTen})
            port->Feed(deltaSeconds, bytes);
    };
    const auto sendUntimed = [&](const Bytes& bytes) { send(0.0, bytes); };
    const auto lastNotesAre = [&](int note) {
        return allLog.lastNote() == note && tenLog.lastNote() == note && deviceAll->GetLastNote() == note &&
               deviceTen->GetLastNote() == note;
    };
    ASSERT_TRUE(connectionsReady(sendUntimed, lastNotesAre));
    // The devices have not taken a note in: the sequence's first note arms them.
    setNoteFilter(noteNr, -1);
    const int allBase = allLog.count;
    const int tenBase = tenLog.count;
    const int allCounted = deviceAll->GetCount();
    const int tenCounted = deviceTen->GetCount();

    // Every message moves the port's clock, whatever it is; the times the
    // notes must carry follow from the same sums.
    std::vector<std::int64_t> sent100ns;
    double receivedS = 0.0;
    for (const auto& step : kSequence) {
        receivedS += step.afterMs / 1000.0;
        sent100ns.push_back(std::llround(receivedS * 1e7));
        send(step.afterMs / 1000.0, step.bytes);
    }
    // Anything wrongly let through arrives before the marker.
    ASSERT_TRUE(waitUntil([&] { return deviceAll->GetCount() >= allCounted + 7 && deviceTen->GetCount() >= tenCounted + 4; }));
    EXPECT_EQ(deviceTen->GetLastNote(), 36);
    setNoteFilter(noteNr, kDropsProbes);
    ASSERT_TRUE(flushed(sendUntimed, lastNotesAre));

    const std::vector<int> allSteps = {0, 2, 5, 11, 14, 15, 16, 18};
    const std::vector<int> tenSteps = {0, 5, 14, 15, 18};
    auto check = [&](const NoteLog& log, int base, const std::vector<int>& steps, const char* what) {
        ASSERT_EQ(log.count.load(), base + static_cast<int>(steps.size()) + 1) << what << ": the notes, then the marker";
        const auto* notes = &log.notes[base];
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Bytes& b = kSequence[steps[i]].bytes;
            EXPECT_EQ(notes[i].note, b[1]) << what << " note " << i;
            EXPECT_EQ(notes[i].velocity, b[2]) << what << " note " << i;
            EXPECT_GT(notes[i].time100ns, 10'000'000) << "times are far above one second";
            if (i > 0) {
                EXPECT_EQ(notes[i].time100ns - notes[i - 1].time100ns, sent100ns[steps[i]] - sent100ns[steps[i - 1]])
                    << what << " interval before note " << i;
            }
        }
    };
    check(allLog, allBase, allSteps, "channel 0");
    check(tenLog, tenBase, tenSteps, "channel 10");

    // Devices: the first note arms, every other note counts and stays in the history.
    EXPECT_EQ(deviceAll->GetCount() - allCounted, 7);
    EXPECT_EQ(deviceTen->GetCount() - tenCounted, 4);
    const double sequenceS = (sent100ns.back() - sent100ns.front()) / 1e7;
    EXPECT_NEAR(deviceAll->GetMeanInterval(), sequenceS / 7, 1e-6);
    EXPECT_NEAR(deviceTen->GetMeanInterval(), sequenceS / 4, 1e-6);
}

// Stamps are put against the monotonic clock from the messages themselves,
// so a click can be placed on the MIDI trigger's clock.
TEST(MidiPortLoopback, StampsSayWhereTheyStandAgainstTheMonotonicClock)
{
    const auto monotonic100ns = [] {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<double>(t.tv_sec) * 1e7 + static_cast<double>(t.tv_nsec) / 100.0;
    };
    NoteLog log;
    QX_MidiPort port;
    ASSERT_EQ(port.OpenLoopback(log.handler()), S_OK);
    EXPECT_FALSE(port.stampOffset100ns());
    const double before = monotonic100ns();
    port.Feed(0.0, {0x99, 38, 100});
    const double after = monotonic100ns();
    // The first message's stamp is the port's time base, 1000 s.
    const auto first = port.stampOffset100ns();
    ASSERT_TRUE(first);
    EXPECT_GE(*first, 1e10 - after);
    EXPECT_LE(*first, 1e10 - before);
    // A message stamped 0.5 s later that arrives at once: the mean moves by half of it.
    port.Feed(0.5, {0x99, 38, 100});
    const auto both = port.stampOffset100ns();
    ASSERT_TRUE(both);
    EXPECT_NEAR(*both - *first, 2.5e6, (monotonic100ns() - before) / 2.0 + 1.0);
}

TEST(MidiPortLoopback, NoteFilterIsReadAtEveryNote)
{
    std::int32_t noteNr = 38;
    QX_MidiPort* feed = nullptr;
    auto device = loopbackDevice(&noteNr, feed);
    device->Start(-1);
    const auto sendUntimed = [&](const Bytes& bytes) { feed->Feed(0.0, bytes); };
    const auto lastNoteIs = [&](int note) { return device->GetLastNote() == note; };
    ASSERT_TRUE(connectionsReady(sendUntimed, lastNoteIs));
    const int counted = device->GetCount();
    for (const std::uint8_t note : {38, 36, 38, 36, 38})
        feed->Feed(0.030, {0x90, note, 80});
    ASSERT_TRUE(flushed(sendUntimed, lastNoteIs));
    EXPECT_EQ(device->GetCount() - counted, 2);
    // The two counted intervals run from the first 38 to the last.
    EXPECT_NEAR(device->GetMeanInterval(), 0.060, 1e-6);

    setNoteFilter(noteNr, 36); // as the dialog's "Set" does while the device runs
    const int before = device->GetCount();
    for (const std::uint8_t note : {38, 36, 36})
        feed->Feed(0.030, {0x99, note, 80});
    ASSERT_TRUE(flushed(sendUntimed, lastNoteIs));
    EXPECT_EQ(device->GetCount() - before, 2) << "the 38 no longer counts, both 36s do";
}

// The end of a run: every note received is counted and published, and a
// note after finishInput changes neither, so the score equals the strokes kept.
TEST(MidiPortLoopback, FinishInputHandsOverWhatCameThenNothingMore)
{
    std::int32_t noteNr = 38;
    QX_MidiPort* feed = nullptr;
    auto device = loopbackDevice(&noteNr, feed);
    device->Start(-1);
    const auto lastNoteIs = [&](int note) { return device->GetLastNote() == note; };
    ASSERT_TRUE(connectionsReady([&](const Bytes& bytes) { feed->Feed(0.0, bytes); }, lastNoteIs));
    device->drainStrokeEvents([](const StrokeEvent&) {});
    const int before = device->GetCount();
    for (int i = 0; i < 6; ++i)
        feed->Feed(0.050, {0x90, 38, 80});
    device->finishInput(); // no wait: the reader hands these over before it ends
    const int counted = device->GetCount() - before;
    EXPECT_EQ(counted, 5) << "the first note arms, the five after it count";
    EXPECT_EQ(device->drainStrokeEvents([](const StrokeEvent&) {}), static_cast<std::size_t>(counted));
    feed->Feed(0.050, {0x90, 38, 80});
    EXPECT_EQ(device->GetCount() - before, counted);
    EXPECT_EQ(device->drainStrokeEvents([](const StrokeEvent&) {}), 0u);
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

using MidiPortJack = JackSenderTest;

TEST_F(MidiPortJack, ListOpenCountAndLoseTheSourceAndTheServer)
{
    // Listed once, under a GUID-text ID.
    QX_DeviceList list;
    QX_MidiPort lister;
    EXPECT_EQ(lister.EnumPorts(list), S_OK);
    ASSERT_EQ(list.size(), 1u) << "only the sender's port; no port of the program itself";
    EXPECT_EQ(list[0].Name, MidiSender::kPortName);
    EXPECT_EQ(list[0].Level, 0.0f);
    const std::string id = list[0].ID;
    EXPECT_TRUE(std::regex_match(id, std::regex(R"(\{[0-9A-F]{8}-([0-9A-F]{4}-){3}[0-9A-F]{12}\})"))) << id;

    // Only that ID, exactly, opens it.
    std::string lower = id;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& bad : {std::string(), std::string("DrumSender:pads"), std::string("{12345678-1234}"),
                                   std::string("{00000000-0000-0000-0000-000000000000}"), lower,
                                   id.substr(0, 37) + "]"}) {
        NoteLog log;
        QX_MidiPort p;
        EXPECT_EQ(p.OpenPort(bad, log.handler()), E_FAIL) << bad;
        p.Resume(); // a reader without a port ends at once
    }

    // A source that quits while the server runs; plugged in again, the stored ID finds it.
    {
        QX_MidiPort watcher;
        ASSERT_TRUE(waitUntil([&] { return watcher.OpenPort(id, {}) == S_OK; }));
        watcher.Resume();
        EXPECT_TRUE(watcher.IsDelivering());
        sender.reset(); // its port is unregistered
        EXPECT_TRUE(waitUntil([&] { return !watcher.IsDelivering(); }, 5000));
    }
    sender = std::make_unique<MidiSender>();
    ASSERT_TRUE(sender->isOpen());
    const auto replugged = waitForSenderPort();
    ASSERT_TRUE(replugged);
    EXPECT_EQ(replugged->ID, id);

    // Counted through JACK; an open port adds an input of ours, which is not listed.
    std::int32_t noteNr = 36; // drops the probes, which therefore do not arm it
    QX_MidiPort idle; // open but never started
    ASSERT_TRUE(waitUntil([&] { return idle.OpenPort(id, {}) == S_OK; }));
    std::unique_ptr<TQX_MidiTriggerDevice> device;
    ASSERT_TRUE(waitUntil([&] {
        device = createMidiTriggerDevice(id, &noteNr);
        return device->captureHealth() == CaptureHealth::Working;
    }));
    QX_DeviceList again;
    lister.EnumPorts(again);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].ID, id);
    device->Start(-1);
    const auto send = [&](const Bytes& bytes) { sender->send(bytes); };
    const auto lastNoteIs = [&](int note) { return device->GetLastNote() == note; };
    ASSERT_TRUE(connectionsReady(send, lastNoteIs));
    std::vector<Clock::time_point> sent;
    auto next = Clock::now();
    for (int i = 0; i < 3; ++i) {
        next += 20ms;
        std::this_thread::sleep_until(next);
        sent.push_back(sender->send({0x99, 36, 100}));
    }
    // The first note arms, the others count.
    ASSERT_TRUE(flushed(send, lastNoteIs));
    const int counted = 2;
    EXPECT_EQ(device->GetCount(), counted);
    // Stamped by JACK's cycle, so measured against when the notes really went out.
    const double spanS = std::chrono::duration<double>(sent.back() - sent.front()).count();
    EXPECT_NEAR(device->GetMeanInterval(), spanS / 2, server.intervalToleranceSeconds());

    // The server goes: the device says so and keeps its count, and everything ends.
    EXPECT_EQ(device->captureHealth(), CaptureHealth::Working);
    server.stop();
    sender->send({0x99, 36, 100});
    EXPECT_TRUE(waitUntil([&] { return device->captureHealth() != CaptureHealth::Working; }, 5000));
    EXPECT_EQ(device->captureHealth(), CaptureHealth::StoppedDelivering);
    // Each client of ours hears of the shutdown on its own thread.
    EXPECT_TRUE(waitUntil([&] { return !idle.IsDelivering(); }, 5000));
    EXPECT_EQ(device->GetCount(), counted);
    EXPECT_TRUE(returnsWithin(10s, [&] { device.reset(); }));
    // The sender is RtMidi's client with nothing of ours to leave it open
    // once its server has gone, and libjack can wait forever closing it.
    static_cast<void>(sender.release());
}

} // namespace
