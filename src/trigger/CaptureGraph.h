#pragma once
// CaptureGraph: an audio trigger device's hold on its capture back-end, the
// same for both detectors. The device's constructor opens it, each Start
// runs it, the main window asks how it is doing, and the device's destructor
// stops it first, so the capture thread is joined before the fields it
// writes go.
//
// Threads: user-interface thread only; the back-end calls the sample
// handler on its own capture thread. Without a back-end (tests, the
// command-line tool) it opens nothing and always reports Working.
//
// A sample tap (the audit recording, the trigger check) may be attached
// before the device's Start: the capture thread then copies each block into
// it before the detector sees the block. With none attached that costs one
// atomic load and two atomic stores.

#include "trigger/QX_Inputs.h"
#include "trigger/SampleTap.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

// How late a capture's last blocks may arrive: ten periods, the whole ALSA
// buffer. A block later than that has been lost to an overrun anyway.
inline constexpr std::int32_t kCaptureDeliveryMs = 400;

class CaptureGraph {
public:
    explicit CaptureGraph(std::unique_ptr<TQX_AudioInput> input) : m_input(std::move(input)) {}

    // A device that cannot be opened leaves a graph that never calls back:
    // the trigger then simply counts nothing, and health() says so.
    void open(const std::string& deviceId, QX_SampleHandler onSamples)
    {
        m_onSamples = onSamples;
        if (m_input)
            m_opened = SUCCEEDED(m_input->BuildGraph(
                deviceId, QX_SampleHandler::Bind<CaptureGraph, &CaptureGraph::deliver>(this)));
    }
    // User-interface thread; nullptr detaches. Detaching returns only once
    // the capture thread has left the old tap, so the caller may free it
    // right away. The wait is at most one block's copy.
    void attachTap(SampleTap* tap)
    {
        m_tap.store(tap);
        if (tap)
            return;
        const std::uint32_t passes = m_tapPasses.load();
        while (m_inTap.load() && m_tapPasses.load() == passes)
            std::this_thread::yield();
    }
    // Input the capture lost since it opened (overruns). It stays readable
    // after stop(), which a run's end calls before its record is made.
    std::uint32_t dropouts() const { return m_input ? m_input->overrunCount() : m_dropoutsAtStop; }
    void run()
    {
        if (!m_input)
            return;
        m_runRequested = true;
        m_runFailed = FAILED(m_input->Run());
    }
    // True when the back-end accepted the line (false without one).
    bool setInputLine(const std::string& lineName, float level)
    {
        return m_input && SUCCEEDED(m_input->SetInputLine(lineName, level));
    }
    // The capture's frames against the monotonic clock (empty without a back-end).
    std::optional<double> streamOffsetFrames() const
    {
        return m_input ? m_input->streamOffsetFrames() : std::nullopt;
    }
    std::optional<StreamLine> streamLine() const { return m_input ? m_input->streamLine() : std::nullopt; }
    CaptureHealth health() const
    {
        if (!m_input)
            return CaptureHealth::Working;
        if (!m_opened)
            return CaptureHealth::OpenFailed;
        // The capture thread ends by itself when the device or its server goes away.
        if (m_runRequested && (m_runFailed || !m_input->isCapturing()))
            return CaptureHealth::StoppedDelivering;
        return CaptureHealth::Working;
    }
    // Frees the back-end, which stops and joins its capture thread.
    void stop()
    {
        if (m_input)
            m_dropoutsAtStop = m_input->overrunCount();
        m_input.reset();
    }

private:
    // Capture thread.
    void deliver(const void* data, std::int32_t byteCount)
    {
        // Flag first, then look: a detach that stored nullptr either sees
        // the flag and waits, or this load already sees the nullptr.
        m_inTap.store(true);
        if (SampleTap* tap = m_tap.load())
            tap->write(data, byteCount);
        m_inTap.store(false, std::memory_order_release);
        m_tapPasses.fetch_add(1, std::memory_order_release);
        m_onSamples(data, byteCount);
    }

    std::unique_ptr<TQX_AudioInput> m_input;
    QX_SampleHandler m_onSamples;
    std::atomic<SampleTap*> m_tap{nullptr};
    std::atomic<bool> m_inTap{false};
    std::atomic<std::uint32_t> m_tapPasses{0};
    std::uint32_t m_dropoutsAtStop = 0;
    bool m_opened = false;
    bool m_runRequested = false;
    bool m_runFailed = false;
};
