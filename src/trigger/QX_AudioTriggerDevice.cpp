#include "QX_AudioTriggerDevice.h"

TQX_AudioTriggerDevice::TQX_AudioTriggerDevice(const std::string& DeviceID, std::unique_ptr<TQX_AudioInput> graph)
    : Graph(std::move(graph))
{
    if (Graph)
        Graph->BuildGraph(DeviceID, QX_SampleHandler::Bind<TQX_AudioTriggerDevice, &TQX_AudioTriggerDevice::AnalyzeSamples>(this));
}

TQX_AudioTriggerDevice::~TQX_AudioTriggerDevice()
{
    Graph.reset();
}

void TQX_AudioTriggerDevice::Start(std::int32_t) {}

float TQX_AudioTriggerDevice::GetMeanInterval()
{
    return MeanIntervalSeconds(44100);
}

bool TQX_AudioTriggerDevice::SetInputLine(const std::string& LineName, float InputLevel)
{
    return Graph && SUCCEEDED(Graph->SetInputLine(LineName, InputLevel));
}

void TQX_AudioTriggerDevice::AnalyzeSamples(const void*, std::int32_t) {}

TQX_AudioTriggerDevice::StrokeRecord TQX_AudioTriggerDevice::LastStroke() const
{
    return {};
}
