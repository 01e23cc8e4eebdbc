#include "QX_MidiPort.h"

struct QX_MidiPort::Impl {
};

QX_MidiPort::QX_MidiPort() : m_impl(std::make_unique<Impl>()) {}
QX_MidiPort::~QX_MidiPort() = default;

HRESULT QX_MidiPort::EnumPorts(QX_DeviceList&)
{
    return S_OK;
}

HRESULT QX_MidiPort::OpenPort(const std::string&, QX_NoteHandler)
{
    return E_FAIL;
}

void QX_MidiPort::SetChannel(std::int32_t) {}
void QX_MidiPort::Resume() {}
void QX_MidiPort::Terminate() {}

HRESULT EnumPorts(QX_DeviceList& List)
{
    QX_MidiPort port;
    return port.EnumPorts(List);
}

std::unique_ptr<TQX_MidiTriggerDevice> CreateMidiTriggerDevice(const std::string& PortID, const std::int32_t* NoteFilter)
{
    return std::make_unique<TQX_MidiTriggerDevice>(PortID, std::make_unique<QX_MidiPort>(), NoteFilter);
}
