#pragma once
// QX_MidiPort: one MIDI input port (RtMidi: ALSA sequencer or JACK) and the
// reader thread that hands its Note On messages to a trigger device.
//
// Threads: construction, EnumPorts, OpenPort, SetChannel, Resume, Terminate
// and destruction belong to the user-interface thread. OnNote is called on
// the port's own reader thread, one message at a time, in arrival order.
//
// Port IDs are GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" derived
// from the back-end and the port's name (without ALSA's client:port numbers),
// so a stored ID finds the same port after a restart or a replug.

#include "trigger/QX_Inputs.h"
#include "trigger/QX_MidiTriggerDevice.h"
#include "trigger/QX_Status.h"
#include "trigger/QX_Tuning.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QX_MidiPort : public TQX_MidiInput {
public:
    QX_MidiPort();
    ~QX_MidiPort() override;
    QX_MidiPort(const QX_MidiPort&) = delete;
    QX_MidiPort& operator=(const QX_MidiPort&) = delete;

    // Appends nothing and leaves List as it was when no input port exists;
    // otherwise List becomes the input ports of every working back-end.
    HRESULT EnumPorts(QX_DeviceList& List);
    HRESULT OpenPort(const std::string& PortID, QX_NoteHandler OnNote) override;
    void SetChannel(std::int32_t Channel) override;
    void Resume() override;
    void Terminate() override;
    // The user-interface thread only, like the destructor.
    void Finish() override;
    // False when no port is open, or when a JACK port's server or source has
    // gone (the ALSA sequencer's ports are taken as delivering). Any thread,
    // but not while OpenPort runs.
    bool IsDelivering() const override;
    // Stamps against the monotonic clock, from every message received (after
    // OpenPort); any thread.
    std::optional<double> stampOffset100ns() const override;
    std::optional<StreamLine> stampLine() const override;

    // A port with no back-end behind it, whose messages come from Feed: what
    // the port makes of messages (times, channels, filters) without a MIDI
    // system. Feed plays the back-end's thread: one caller at a time, given
    // each message and the seconds since the one before, as RtMidi gives them.
    HRESULT OpenLoopback(QX_NoteHandler OnNote);
    void Feed(double DeltaSeconds, const std::vector<std::uint8_t>& Message);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The input ports through a short-lived port object, as the device dialog lists them.
HRESULT EnumPorts(QX_DeviceList& List);

// A MIDI trigger device on a real port (opened, not started).
std::unique_ptr<TQX_MidiTriggerDevice> createMidiTriggerDevice(const std::string& PortID, const std::int32_t* NoteFilter);
