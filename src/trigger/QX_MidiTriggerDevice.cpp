#include "trigger/QX_MidiTriggerDevice.h"

#include "trigger/QX_Tuning.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kVelocityScale = 127.0f;
// A longer gap than this ends a run of strokes: the note after it only arms.
constexpr std::int64_t kMaxInterval100ns = kMidiTicksPerSecond;
} // namespace

TQX_MidiTriggerDevice::TQX_MidiTriggerDevice(const std::string& PortID, std::unique_ptr<TQX_MidiInput> Port,
                                             const std::int32_t* NoteFilter)
    : Port(std::move(Port)), m_noteFilter(NoteFilter)
{
    if (this->Port)
        m_opened = SUCCEEDED(this->Port->OpenPort(
            PortID, QX_NoteHandler::Bind<TQX_MidiTriggerDevice, &TQX_MidiTriggerDevice::HandleNote>(this)));
}

TQX_MidiTriggerDevice::~TQX_MidiTriggerDevice()
{
    Stop();
    // The port's destructor waits for the reader, so no HandleNote runs once it is gone.
    Port.reset();
}

void TQX_MidiTriggerDevice::Start(std::int32_t TimeLimit)
{
    NewStroke.store(true, kRelaxed);
    GapCounter = 0;
    HistoryIndex = 0;
    LastEventTime = 0;
    ResetHistory();
    clearStrokeEvents();
    this->TimeLimit.store(TimeLimit, kRelaxed);
    StartTick.store(0, kRelaxed);
    // Starting the reader thread publishes everything above to it.
    if (Port)
        Port->Resume();
}

float TQX_MidiTriggerDevice::GetMeanInterval()
{
    return meanIntervalSeconds(static_cast<std::int32_t>(kMidiTicksPerSecond));
}

void TQX_MidiTriggerDevice::Stop()
{
    if (Port)
        Port->Terminate();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void TQX_MidiTriggerDevice::finishInput()
{
    if (Port)
        Port->Finish();
}

void TQX_MidiTriggerDevice::SetChannel(std::int32_t Channel)
{
    if (Port)
        Port->SetChannel(Channel);
}

void TQX_MidiTriggerDevice::HandleNote(std::uint8_t Note, std::uint8_t Velocity, std::int64_t Time)
{
    LastNote.store(Note, kRelaxed);
    const float v = static_cast<float>(Velocity) / kVelocityScale;
    raiseLevel(v);
    if (IsTimeOver())
        return;
    // Stamps only grow: a note past the end closes the recording, counted or not.
    if (!withinRecordingTime(Time)) {
        closeRecording();
        return;
    }
    if (m_noteFilter) {
        // The user-interface thread may change the setting while we play;
        // the next message sees the new value.
        const std::int32_t filter = loadMidiNoteNr(*m_noteFilter);
        if (filter != -1 && filter != Note)
            return;
    }
    const std::int64_t d = Time - LastEventTime;
    if (d > kMaxInterval100ns)
        ResetHistory();
    else {
        RecordStroke(static_cast<std::int32_t>(static_cast<std::uint32_t>(d)), v);
        publishStroke(Time, v, Note);
    }
    LastEventTime = Time;
}

CaptureHealth TQX_MidiTriggerDevice::captureHealth() const
{
    if (!Port)
        return CaptureHealth::Working;
    if (!m_opened)
        return CaptureHealth::OpenFailed;
    return Port->IsDelivering() ? CaptureHealth::Working : CaptureHealth::StoppedDelivering;
}
