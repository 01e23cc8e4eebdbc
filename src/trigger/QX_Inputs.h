#pragma once
// What a trigger device needs of its capture back-end. The ALSA capture and
// the RtMidi port implement these in the platform layer; a trigger device
// built without one (tests, the command-line tool) captures nothing and is
// fed by calling its handler directly.

#include "analysis/StreamDrift.h"
#include "trigger/QX_Handlers.h"
#include "trigger/QX_Status.h"

#include <cstdint>
#include <optional>
#include <string>

// Whether a trigger device's capture back-end can deliver. Working covers a
// device opened but not started yet, and a device with no back-end at all.
enum class CaptureHealth : std::uint8_t {
    Working,
    OpenFailed,        // the device or port did not open
    StoppedDelivering, // it opened, then went away (server ended, device unplugged)
};

// One audio capture stream. BuildGraph opens the device without starting it;
// Run starts the capture thread, which calls OnSamples once per block. The
// destructor stops and joins that thread before returning.
class TQX_AudioInput {
public:
    virtual ~TQX_AudioInput() = default;
    virtual HRESULT BuildGraph(const std::string& DeviceID, QX_SampleHandler OnSamples) = 0;
    virtual HRESULT Run() = 0;
    virtual HRESULT SetInputLine(const std::string& LineName, float Level) = 0;
    // False once a started capture has ended by itself; any thread.
    virtual bool isCapturing() const { return true; }
    // Overruns (input the capture lost) since it opened; any thread.
    virtual std::uint32_t overrunCount() const { return 0; }
    // Where the capture's frame count stands against the monotonic clock:
    // frames minus monotonic seconds times the rate; empty until known. Any
    // thread; one atomic load, so a click can be placed on the capture's clock.
    virtual std::optional<double> streamOffsetFrames() const { return std::nullopt; }
    // The capture's fitted line against the monotonic clock (its measured
    // rate, for a click on another card); empty until known. Any thread.
    virtual std::optional<StreamLine> streamLine() const { return std::nullopt; }
};

// One MIDI input port with its reader thread. OpenPort opens without reading;
// Resume starts the reader (again: no change); Terminate asks it to stop. The
// destructor stops the reader and waits for it.
class TQX_MidiInput {
public:
    virtual ~TQX_MidiInput() = default;
    virtual HRESULT OpenPort(const std::string& PortID, QX_NoteHandler OnNote) = 0;
    virtual void SetChannel(std::int32_t Channel) = 0;
    virtual void Resume() = 0;
    virtual void Terminate() = 0;
    // Stops delivering and returns once no OnNote call runs or will run;
    // messages already received are handed over first. An input that calls
    // OnNote on its caller's thread has nothing to wait for.
    virtual void Finish() { Terminate(); }
    // False once an opened port has gone away (its server or its source); any thread.
    virtual bool IsDelivering() const { return true; }
    // Where the 100 ns stamps stand against the monotonic clock: stamp minus
    // monotonic seconds times 10,000,000; empty until a message came. Any thread.
    virtual std::optional<double> stampOffset100ns() const { return std::nullopt; }
    // The stamps' fitted line against the monotonic clock; empty until known.
    virtual std::optional<StreamLine> stampLine() const { return std::nullopt; }
};
