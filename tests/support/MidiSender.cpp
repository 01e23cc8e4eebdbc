#include "MidiSender.h"

#include "WaitUntil.h"
#include "capture/QX_MidiPort.h"

#include <rtmidi/RtMidi.h>

namespace {
// Warnings (none on a healthy server) are not failures; anything else is.
void noteMidiError(RtMidiError::Type type, const std::string&, void* failed)
{
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
        *static_cast<bool*>(failed) = true;
}
} // namespace

MidiSender::MidiSender()
{
    // A loaded server can be slow to let a new client in; RtMidi then only
    // warns "server not running?" and the port fails. Ask again until it opens.
    waitUntil(
        [&] {
            try {
                m_out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "DrumSender");
                bool failed = false;
                m_out->setErrorCallback(&noteMidiError, &failed);
                m_out->openVirtualPort("pads");
                m_out->setErrorCallback(nullptr, nullptr);
                m_open = !failed;
            } catch (...) {
                m_open = false;
            }
            if (!m_open)
                m_out.reset();
            return m_open;
        },
        10000, 100);
}

MidiSender::~MidiSender() = default;

std::chrono::steady_clock::time_point MidiSender::send(const std::vector<std::uint8_t>& bytes)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_open)
        m_out->sendMessage(bytes.data(), bytes.size());
    return now;
}

std::optional<QX_Device> waitForSenderPort()
{
    std::optional<QX_Device> found;
    waitUntil(
        [&] {
            QX_DeviceList list;
            EnumPorts(list);
            for (const auto& d : list)
                if (d.Name == MidiSender::kPortName)
                    found = d;
            return found.has_value();
        },
        10000, 20);
    return found;
}

// libjack's lock-free ring buffer (behind RtMidiOut's JACK port) orders its
// reads and writes with barriers that ThreadSanitizer does not model, and
// libjack is not built with it; what it reports there is not ours.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:jack_ringbuffer_read\n"
           "race:jack_ringbuffer_peek\n"
           "race:jack_ringbuffer_write\n";
}
