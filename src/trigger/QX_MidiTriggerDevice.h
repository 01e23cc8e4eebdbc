#pragma once
// TQX_MidiTriggerDevice: counts strokes from MIDI Note On messages. It owns a
// MIDI input port whose reader thread calls HandleNote for every accepted Note
// On; the interval of a stroke is the time since the previous note that passed
// the note filter, in 100 ns units (10,000,000 per second).
//
// Threads: constructor, SetChannel, Start, Stop and the destructor run on the
// user-interface thread. HandleNote runs on the port's reader thread (or on the
// test's thread when there is no port) and is then the only writer of the
// measurement state; the base class explains what the user-interface thread
// reads. The note filter is a 32-bit setting owned by the user-interface
// thread and read here at every message.

#include "trigger/QX_Inputs.h"
#include "trigger/QX_TriggerDevice.h"
#include "trigger/StrokeEvent.h"

#include <cstdint>
#include <memory>
#include <string>

class TQX_MidiTriggerDevice : public TQX_TriggerDevice {
public:
    // Opens PortID on Port (if any) with HandleNote as the note handler; a
    // port that failed to open simply never delivers (captureHealth says so).
    // NoteFilter points at the setting's note number (-1 = all
    // notes) and must outlive the device; null accepts every note.
    explicit TQX_MidiTriggerDevice(const std::string& PortID, std::unique_ptr<TQX_MidiInput> Port = nullptr,
                                   const std::int32_t* NoteFilter = nullptr);
    ~TQX_MidiTriggerDevice() override;

    void Start(std::int32_t TimeLimit) override;
    float GetMeanInterval() override;
    // Asks the reader to end and gives it a moment to do so.
    void Stop();
    // 0 = all channels, 1..16 = one channel; before Start only.
    void SetChannel(std::int32_t Channel);
    void HandleNote(std::uint8_t Note, std::uint8_t Velocity, std::int64_t Time);
    // Stroke events carry the message's own 100 ns time stamp.
    std::int64_t ticksPerSecond() const override { return kMidiTicksPerSecond; }
    CaptureHealth captureHealth() const override;
    std::optional<double> clockOffsetTicks() const override
    {
        return Port ? Port->stampOffset100ns() : std::nullopt;
    }
    std::optional<StreamLine> clockLine() const override { return Port ? Port->stampLine() : std::nullopt; }
    // A note's stamp is its own time; only the transport's delay is waited for.
    std::int32_t endWaitMs() const override { return 100; }
    // Stops the reader once it has handed over every note received, so the
    // count and the published strokes stay equal whatever arrives later.
    void finishInput() override;

private:
    std::unique_ptr<TQX_MidiInput> Port;
    bool m_opened = false; // what OpenPort gave; user-interface thread
    std::int64_t LastEventTime = 0;
    const std::int32_t* m_noteFilter = nullptr;
};
