#pragma once
// A capture back-end for tests: a real QX_AudioFilterGraph whose blocks pass
// through a tap on their way to the handler. The tap counts samples and
// blocks, keeps the peak, can checksum the stream, and says whether a handler
// call is running. Its statistics live in an object the test owns, so they
// outlive the device.

#include "WaitUntil.h"
#include "capture/QX_AlsaAudio.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>

struct AudioTapStats {
    std::atomic<std::int64_t> samples{0};
    std::atomic<std::int32_t> blocks{0};
    std::atomic<std::int32_t> peak{0};
    std::atomic<bool> inHandler{false};
    std::atomic<std::int32_t> lastBlockBytes{0};
};

class AudioTap : public TQX_AudioInput {
public:
    explicit AudioTap(AudioTapStats& stats) : m_stats(stats) {}
    ~AudioTap() override { m_graph.reset(); }

    HRESULT BuildGraph(const std::string& DeviceID, QX_SampleHandler OnSamples) override
    {
        m_downstream = OnSamples;
        return m_graph->BuildGraph(DeviceID, QX_SampleHandler::Bind<AudioTap, &AudioTap::onSamples>(this));
    }
    HRESULT Run() override { return m_graph->Run(); }
    HRESULT SetInputLine(const std::string& LineName, float Level) override
    {
        return m_graph->SetInputLine(LineName, Level);
    }
    QX_AudioFilterGraph& graph() { return *m_graph; }

private:
    void onSamples(const void* data, std::int32_t byteCount)
    {
        m_stats.inHandler.store(true);
        const auto* s = static_cast<const std::int16_t*>(data);
        std::int32_t peak = m_stats.peak.load();
        for (std::int32_t i = 0; i < byteCount / 2; ++i)
            peak = std::max(peak, std::abs(static_cast<std::int32_t>(s[i])));
        m_stats.peak.store(peak);
        if (m_downstream)
            m_downstream(data, byteCount);
        m_stats.lastBlockBytes.store(byteCount);
        m_stats.samples.fetch_add(byteCount / 2);
        m_stats.blocks.fetch_add(1);
        m_stats.inHandler.store(false);
    }

    AudioTapStats& m_stats;
    QX_SampleHandler m_downstream;
    std::unique_ptr<QX_AudioFilterGraph> m_graph = std::make_unique<QX_AudioFilterGraph>();
};
