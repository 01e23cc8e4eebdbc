#include "QX_MidiTriggerDevice.h"

TQX_MidiTriggerDevice::TQX_MidiTriggerDevice(const std::string& PortID, std::unique_ptr<TQX_MidiInput> Port,
                                             const std::int32_t* NoteFilter)
    : Port(std::move(Port)), NoteFilter(NoteFilter)
{
    if (this->Port)
        this->Port->OpenPort(PortID, QX_NoteHandler::Bind<TQX_MidiTriggerDevice, &TQX_MidiTriggerDevice::HandleNote>(this));
}

TQX_MidiTriggerDevice::~TQX_MidiTriggerDevice() = default;

void TQX_MidiTriggerDevice::Start(std::int32_t) {}

float TQX_MidiTriggerDevice::GetMeanInterval()
{
    return MeanIntervalSeconds(static_cast<std::int32_t>(TicksPerSecond));
}

void TQX_MidiTriggerDevice::Stop() {}

void TQX_MidiTriggerDevice::SetChannel(std::int32_t Channel)
{
    if (Port)
        Port->SetChannel(Channel);
}

void TQX_MidiTriggerDevice::HandleNote(std::uint8_t, std::uint8_t, std::int64_t) {}
