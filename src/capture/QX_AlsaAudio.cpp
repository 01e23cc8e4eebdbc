#include "QX_AlsaAudio.h"

struct QX_AudioFilterGraph::Capture {};

QX_AudioFilterGraph::QX_AudioFilterGraph() = default;
QX_AudioFilterGraph::~QX_AudioFilterGraph() = default;

HRESULT QX_AudioFilterGraph::BuildGraph(const std::string&, QX_SampleHandler)
{
    return E_FAIL;
}

HRESULT QX_AudioFilterGraph::Run()
{
    return E_FAIL;
}

HRESULT QX_AudioFilterGraph::SetInputLine(const std::string&, float)
{
    return E_FAIL;
}

bool QX_AudioFilterGraph::IsCapturing() const
{
    return false;
}

HRESULT EnumAudioDevices(QX_DeviceList&)
{
    return E_FAIL;
}

HRESULT EnumInputLines(const std::string&, QX_DeviceList& List)
{
    List.clear();
    return E_FAIL;
}

std::unique_ptr<TQX_AudioTriggerDevice> CreateAudioTriggerDevice(const std::string& DeviceID)
{
    return std::make_unique<TQX_AudioTriggerDevice>(DeviceID, std::make_unique<QX_AudioFilterGraph>());
}
