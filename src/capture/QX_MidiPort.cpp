#include "capture/QX_MidiPort.h"

#include "capture/QX_JackWatch.h"
#include "capture/QX_MidiPortNames.h"
#include "capture/QX_StreamClock.h"
#include "trigger/SpscRing.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <future>
#include <iostream>
#include <semaphore.h>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kClientName = kMidiClientName;
constexpr const char* kInputPortName = "Drum In";

// Message times start here (1000 s) so that the first note after a start,
// compared with a "last time" of 0, always looks like the end of a pause.
constexpr std::int64_t kTimeBase100ns = 10'000'000'000;
constexpr double kUnitsPerSecond = 1.0e7;

// Between stop requests the reader only wakes for messages; this bound is a
// safety net in case a wake-up is ever lost, not the way stops are noticed.
constexpr long kIdleWaitNs = 200'000'000;

constexpr std::size_t kRingSize = 4096; // messages; a power of two

// Closing a healthy client takes milliseconds.
constexpr std::chrono::seconds kLostCloseWait{2};

struct PortEntry {
    unsigned index = 0;
    std::string name;
    std::string id;
};

void ignoreMidiError(RtMidiError::Type, const std::string&, void*) {}

// The input ports of one back-end as listed to the user, in the back-end's order.
std::vector<PortEntry> listPorts(RtMidiIn& in)
{
    std::vector<PortEntry> ports;
    const RtMidi::Api api = in.getCurrentApi();
    const unsigned count = in.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        const std::string raw = in.getPortName(i);
        if (raw.empty() || isOwnMidiPort(raw))
            continue;
        PortEntry entry;
        entry.index = i;
        const bool alsa = api == RtMidi::LINUX_ALSA;
        entry.name = midiPortPersonName(alsa, raw);
        // Two identical devices share a name; the second gets its own ID and a number.
        int duplicate = 0;
        for (const auto& other : ports)
            if (midiPortPersonName(alsa, in.getPortName(other.index)) == entry.name)
                ++duplicate;
        entry.id = midiPortID(RtMidi::getApiName(api), entry.name, duplicate);
        if (duplicate > 0)
            entry.name += " (" + std::to_string(duplicate + 1) + ")";
        ports.push_back(std::move(entry));
    }
    return ports;
}

// An input client on one back-end, or none where the back-end does not work
// here (no ALSA sequencer, no JACK server).
std::unique_ptr<RtMidiIn> openClient(RtMidi::Api api)
{
    // RtMidi's JACK client warns "server not running?" on std::cerr from its
    // constructor, before an error callback can be set; no server just means
    // no JACK ports. Only the user-interface thread builds clients.
    const std::ios_base::iostate cerrState = std::cerr.rdstate();
    std::cerr.setstate(std::ios_base::badbit);
    std::unique_ptr<RtMidiIn> in;
    try {
        in = std::make_unique<RtMidiIn>(api, kClientName);
        in->setErrorCallback(&ignoreMidiError, nullptr);
    } catch (...) {
        in.reset();
    }
    std::cerr.clear(cerrState);
    return in;
}

void ignoreJackMessage(const char*) {}

std::vector<RtMidi::Api> workingApis()
{
    // libjack reports a missing server on standard error, several lines per
    // attempt; no server simply means no JACK ports here.
    static std::once_flag quietJack;
    std::call_once(quietJack, [] {
        jack_set_error_function(&ignoreJackMessage);
        jack_set_info_function(&ignoreJackMessage);
    });
    // Without the sequencer device, RtMidi's ALSA client fails after alsa-lib
    // and RtMidi have both complained on standard error; don't ask it.
    const bool alsaSequencer = access("/dev/snd/seq", R_OK | W_OK) == 0;
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    std::erase_if(apis, [&](RtMidi::Api api) {
        return api == RtMidi::RTMIDI_DUMMY || api == RtMidi::UNSPECIFIED ||
               (api == RtMidi::LINUX_ALSA && !alsaSequencer);
    });
    return apis;
}

} // namespace

// The back-end's thread (JACK's process thread, RtMidi's ALSA thread) hands
// every message to onMessage, which stamps it and puts it into a fixed ring;
// the reader thread takes the messages out, filters them and calls OnNote.
// Stamping on the back-end's thread keeps the time right even if the ring
// should ever overflow and a message has to be dropped.
struct QX_MidiPort::Impl {
    struct Message {
        std::int64_t time100ns;
        std::uint32_t length;
        std::array<std::uint8_t, 3> bytes;
    };

    // Back-end thread only.
    double m_receivedSeconds = 0.0;
    // Each message's stamp against the monotonic time it arrived, so a click
    // can be put on the stamps' clock. A message arrives a little after its
    // stamp (the transport's period); the mean over the messages is the
    // offset, and needs no settling.
    QX_StreamClock m_stampClock{0};

    // Written by the back-end thread, read by the reader thread.
    SpscRing<Message, kRingSize> m_ring;

    // Set by the reader while its loop runs; messages before that are only timed.
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_stop{false};
    sem_t m_wake{};

    // User-interface thread only; the reader gets a copy when it starts.
    std::int32_t m_channel = 0;
    QX_NoteHandler m_onNote;
    std::thread m_thread;
    bool m_started = false;
    bool m_loopback = false;

    // Notices a JACK source that went away; none on other back-ends.
    std::unique_ptr<QX_JackWatch> m_watch;

    // What the back-end's callback reaches this port through. Once closed,
    // whatever a client still delivers goes nowhere, and no call is inside
    // the port any more.
    struct Gate {
        std::atomic<Impl*> port{nullptr};
        std::atomic<int> inside{0};

        static void forward(double deltaSeconds, std::vector<unsigned char>* message, void* user)
        {
            auto* gate = static_cast<Gate*>(user);
            gate->inside.fetch_add(1);
            if (Impl* open = gate->port.load())
                onMessage(deltaSeconds, message, open);
            gate->inside.fetch_sub(1);
        }
        void close()
        {
            port.store(nullptr);
            while (inside.load() != 0)
                std::this_thread::yield();
        }
    };
    std::unique_ptr<Gate> m_gate;

    // Declared last so it goes first: closing it ends the back-end's calls
    // before the gate, the ring and the semaphore go.
    std::unique_ptr<RtMidiIn> m_in;

    Impl() { sem_init(&m_wake, 0, 0); }
    ~Impl()
    {
        dropClient();
        sem_destroy(&m_wake);
    }

    // Closes the back-end's client, and its watch. Closing a JACK client
    // whose server has gone can wait forever in libjack, and so can one that
    // is closing just as its server shuts down (a source and its server
    // stopped together, as a session manager does); either would freeze the
    // window that drops the device, or keep a count from ending. So a client
    // of a server that has gone is left open, as the watch leaves its own
    // (QX_JackWatch::serverGone), and one whose source was lost is closed on
    // a thread of its own, waited for a moment at most. Its gate is closed
    // first, so neither calls into this port again.
    void dropClient()
    {
        if (m_gate)
            m_gate->close();
        if (m_in && m_watch && m_watch->lost()) {
            RtMidiIn* in = m_in.release();
            QX_JackWatch* watch = m_watch.release();
            Gate* gate = m_gate.release();
            if (!watch->serverGone()) {
                try {
                    std::promise<void> closed;
                    auto done = closed.get_future();
                    std::thread([in, watch, gate, closed = std::move(closed)]() mutable {
                        delete in;
                        delete watch;
                        delete gate;
                        closed.set_value();
                    }).detach();
                    done.wait_for(kLostCloseWait);
                } catch (...) {
                    // No thread for it: left open.
                }
            }
        }
        m_in.reset();
        m_watch.reset();
        m_gate.reset();
    }

    // Drops the port open before; false under a running reader, with which
    // another port would race.
    bool closeForOpen(QX_NoteHandler onNote, bool loopback)
    {
        if (m_started)
            return false;
        m_onNote = onNote;
        dropClient();
        m_loopback = loopback;
        return true;
    }

    static void onMessage(double deltaSeconds, std::vector<unsigned char>* message, void* user)
    {
        auto* self = static_cast<Impl*>(user);
        // Every message moves the clock, whatever it is, so the time between
        // two notes stays right across clocks, sense and controllers in between.
        if (deltaSeconds > 0.0)
            self->m_receivedSeconds += deltaSeconds;
        {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            self->m_stampClock.publish(static_cast<double>(kTimeBase100ns) + self->m_receivedSeconds * kUnitsPerSecond,
                                       std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec,
                                       static_cast<double>(kUnitsPerSecond));
        }
        if (!self->m_active.load(std::memory_order_acquire) || message == nullptr)
            return;
        Message m{};
        m.time100ns = kTimeBase100ns + std::llround(self->m_receivedSeconds * kUnitsPerSecond);
        const std::size_t length = message->size();
        m.length = static_cast<std::uint32_t>(length);
        for (std::size_t i = 0; i < 3 && i < length; ++i)
            m.bytes[i] = (*message)[i];
        // A reader far behind loses the message rather than block the back-end.
        if (self->m_ring.push(m))
            sem_post(&self->m_wake);
    }

    void Execute(std::int32_t channel)
    {
        if (!m_in && !m_loopback)
            return;
        // Named for top -H and debuggers.
        pthread_setname_np(pthread_self(), "midi-reader");
        // Channels outside 1..16 mean all channels, since 0x8F + channel
        // would otherwise admit Note Off or aftertouch as notes.
        std::uint8_t low = 0x90;
        std::uint8_t high = 0x9F;
        if (channel >= 1 && channel <= 16)
            low = high = static_cast<std::uint8_t>(0x8F + channel);

        m_active.store(true, std::memory_order_release);
        for (;;) {
            waitForMessages();
            // The stop is read before the drain: whatever came before it
            // (Finish hands over what came) is then in the ring this drain
            // reads. Read after, a message pushed during the drain was lost.
            const bool stopping = m_stop.load(std::memory_order_acquire);
            drain(low, high);
            if (stopping)
                break;
        }
        m_active.store(false, std::memory_order_release);
    }

    void waitForMessages()
    {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += kIdleWaitNs;
        if (deadline.tv_nsec >= 1'000'000'000) {
            deadline.tv_nsec -= 1'000'000'000;
            ++deadline.tv_sec;
        }
        while (sem_timedwait(&m_wake, &deadline) != 0 && errno == EINTR) {
        }
        // One wake-up per message was posted; the drain below takes them all at once.
        while (sem_trywait(&m_wake) == 0) {
        }
    }

    void drain(std::uint8_t low, std::uint8_t high)
    {
        m_ring.drain([&](const Message& m) {
            const bool note = m.length >= 3 && m.bytes[0] >= low && m.bytes[0] <= high && m.bytes[2] != 0;
            if (note && m_onNote)
                m_onNote(m.bytes[1], m.bytes[2], m.time100ns);
        });
    }
};

QX_MidiPort::QX_MidiPort() : m_impl(std::make_unique<Impl>()) {}

QX_MidiPort::~QX_MidiPort()
{
    Terminate();
    // A reader that never ran still gets its one pass, so it ends the same way.
    if (!m_impl->m_started)
        Resume();
    if (m_impl->m_thread.joinable())
        m_impl->m_thread.join();
}

void QX_MidiPort::Finish()
{
    // The reader drains what it has once more after the stop, then ends.
    Terminate();
    if (m_impl->m_thread.joinable())
        m_impl->m_thread.join();
}

HRESULT QX_MidiPort::EnumPorts(QX_DeviceList& List)
{
    QX_DeviceList found;
    try {
        for (const RtMidi::Api api : workingApis()) {
            const auto in = openClient(api);
            if (!in)
                continue;
            for (auto& port : listPorts(*in))
                found.push_back({std::move(port.name), std::move(port.id), 0.0f});
        }
    } catch (...) {
        // A back-end that fails halfway adds nothing more; what was found stays.
    }
    if (found.empty())
        return S_FALSE;
    List = std::move(found);
    return S_OK;
}

HRESULT QX_MidiPort::OpenPort(const std::string& PortID, QX_NoteHandler OnNote)
{
    Impl& d = *m_impl;
    if (!d.closeForOpen(OnNote, false))
        return E_FAIL;
    if (!isGuidText(PortID))
        return E_FAIL;
    try {
        // Made before the client, whose threads then see it whole.
        d.m_gate = std::make_unique<Impl::Gate>();
        d.m_gate->port.store(&d);
        for (const RtMidi::Api api : workingApis()) {
            auto in = openClient(api);
            if (!in)
                continue;
            for (const auto& port : listPorts(*in)) {
                if (port.id != PortID)
                    continue;
                // Every type is received: RtMidi's time stamps are deltas from
                // the previous message it took in, so an ignored clock message
                // would swallow the time before it.
                in->ignoreTypes(false, false, false);
                in->setCallback(&Impl::Gate::forward, d.m_gate.get());
                in->openPort(port.index, kInputPortName);
                if (!in->isPortOpen())
                    return E_FAIL;
                if (api == RtMidi::UNIX_JACK)
                    d.m_watch = QX_JackWatch::watch(in->getPortName(port.index));
                d.m_in = std::move(in);
                return S_OK;
            }
        }
    } catch (...) {
    }
    return E_FAIL;
}

HRESULT QX_MidiPort::OpenLoopback(QX_NoteHandler OnNote)
{
    return m_impl->closeForOpen(OnNote, true) ? S_OK : E_FAIL;
}

void QX_MidiPort::Feed(double DeltaSeconds, const std::vector<std::uint8_t>& Message)
{
    if (!m_impl->m_loopback)
        return;
    std::vector<unsigned char> copy(Message.begin(), Message.end());
    Impl::onMessage(DeltaSeconds, &copy, m_impl.get());
}

std::optional<double> QX_MidiPort::stampOffset100ns() const
{
    return m_impl->m_stampClock.offsetFrames();
}

std::optional<StreamLine> QX_MidiPort::stampLine() const
{
    return m_impl->m_stampClock.line();
}

bool QX_MidiPort::IsDelivering() const
{
    const Impl& d = *m_impl;
    return (d.m_in || d.m_loopback) && !(d.m_watch && d.m_watch->lost());
}

void QX_MidiPort::SetChannel(std::int32_t Channel)
{
    m_impl->m_channel = Channel;
}

void QX_MidiPort::Resume()
{
    Impl& d = *m_impl;
    if (d.m_started)
        return;
    try {
        // The channel is taken here, not when the new thread gets round to
        // it, so a SetChannel after Resume reliably changes nothing.
        const std::int32_t channel = d.m_channel;
        d.m_thread = std::thread([&d, channel] { d.Execute(channel); });
        d.m_started = true;
    } catch (...) {
        // No thread, no notes; the destructor has nothing to wait for.
    }
}

void QX_MidiPort::Terminate()
{
    m_impl->m_stop.store(true, std::memory_order_release);
    sem_post(&m_impl->m_wake);
}

HRESULT EnumPorts(QX_DeviceList& List)
{
    QX_MidiPort port;
    return port.EnumPorts(List);
}

std::unique_ptr<TQX_MidiTriggerDevice> createMidiTriggerDevice(const std::string& PortID, const std::int32_t* NoteFilter)
{
    return std::make_unique<TQX_MidiTriggerDevice>(PortID, std::make_unique<QX_MidiPort>(), NoteFilter);
}
