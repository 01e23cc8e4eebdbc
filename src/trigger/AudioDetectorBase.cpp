#include "trigger/AudioDetectorBase.h"

namespace {
constexpr std::int32_t kSampleRate = 44100;
} // namespace

AudioDetectorBase::AudioDetectorBase(const std::string& DeviceID, std::unique_ptr<TQX_AudioInput> input)
    : m_graph(std::move(input))
{
    // The back-end only opens here; it delivers no block before Start runs
    // it, by when the final detector is complete.
    m_graph.open(DeviceID, QX_SampleHandler::Bind<AudioDetectorBase, &AudioDetectorBase::AnalyzeSamples>(this));
}

AudioDetectorBase::~AudioDetectorBase()
{
    m_graph.stop();
}

void AudioDetectorBase::stopCapture()
{
    m_graph.stop();
}

void AudioDetectorBase::Start(std::int32_t timeLimit)
{
    resetAnalysis();
    m_samplesSinceStart = 0;
    NewStroke.store(true, std::memory_order_release);
    HistoryIndex = 0;
    ResetHistory();
    clearStrokeEvents();
    TimeLimit.store(timeLimit, std::memory_order_relaxed);
    StartTick.store(0, std::memory_order_relaxed);
    m_graph.run();
}

float AudioDetectorBase::GetMeanInterval()
{
    return meanIntervalSeconds(kSampleRate);
}

bool AudioDetectorBase::SetInputLine(const std::string& LineName, float InputLevel)
{
    return m_graph.setInputLine(LineName, InputLevel);
}

CaptureHealth AudioDetectorBase::captureHealth() const
{
    return m_graph.health();
}

bool AudioDetectorBase::attachSampleTap(SampleTap* tap)
{
    m_graph.attachTap(tap);
    return true;
}

std::uint32_t AudioDetectorBase::captureDropouts() const
{
    return m_graph.dropouts();
}

void AudioDetectorBase::AnalyzeSamples(const void* Data, std::int32_t ByteCount)
{
    // Once the recording time is over the whole block is ignored, level included.
    if (IsTimeOver())
        return;
    const std::int32_t n = ByteCount / 2;
    if (n <= 0 || Data == nullptr)
        return;
    m_samplesSinceStart += analyzeBlock(static_cast<const unsigned char*>(Data), n);
}
