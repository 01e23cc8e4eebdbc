#pragma once
// A MIDI source for tests: a JACK client "DrumSender" with one output port
// "pads" that the program lists among its inputs like any instrument.

#include "trigger/QX_Tuning.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RtMidiOut;

class MidiSender {
public:
    static constexpr const char* kPortName = "DrumSender:pads";

    MidiSender();
    ~MidiSender();
    MidiSender(const MidiSender&) = delete;
    MidiSender& operator=(const MidiSender&) = delete;

    bool isOpen() const { return m_open; }
    // Sends raw bytes (any length, no checks) and returns when they were handed over.
    std::chrono::steady_clock::time_point send(const std::vector<std::uint8_t>& bytes);

private:
    std::unique_ptr<RtMidiOut> m_out;
    bool m_open = false;
};

// The sender's port as the program lists MIDI inputs, once it is listed: a
// loaded server may take a moment to show a new port. Empty if it never shows.
std::optional<QX_Device> waitForSenderPort();
