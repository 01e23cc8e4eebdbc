#pragma once
// AudioDetectorBase: what every audio stroke detector shares, whatever its
// method. It holds the capture graph and the input line, reports the
// capture's health and dropouts, attaches the audit's sample tap, resets the
// common counters on Start and runs the block prologue of AnalyzeSamples:
// nothing once the recording time is over, nothing for an empty block, and
// the bytes read as signed 16-bit little-endian mono samples at 44,100 Hz.
// The detector itself (TQX_AudioTriggerDevice, TQX_FastAudioTriggerDevice)
// is a final class that analyses one block per call of analyzeBlock: one
// virtual call per block, never per sample, so its per-sample loop stays
// inlined in one function.
//
// Threads: AnalyzeSamples runs on the capture thread (or the caller's thread
// without a back-end); it allocates nothing and takes no lock. Start,
// SetInputLine, the sample tap and the destructors run on the user-interface
// thread; Start runs before capture begins.
//
// Ownership: the device owns its capture back-end. Because the capture
// thread calls into the final detector, each final class's destructor calls
// stopCapture() first, which joins that thread before the detector's state
// goes. Without a back-end (tests, the command-line tool, the audit's
// recount) nothing is opened and the device is fed by calling AnalyzeSamples.
//
// Units: sample indices count samples analysed since Start (64-bit); stroke
// events are stamped in samples (kAudioTicksPerSecond).

#include "trigger/CaptureGraph.h"
#include "trigger/QX_Inputs.h"
#include "trigger/QX_TriggerDevice.h"

#include <cstdint>
#include <memory>
#include <string>

class AudioDetectorBase : public TQX_TriggerDevice {
public:
    ~AudioDetectorBase() override;

    void Start(std::int32_t TimeLimit) override;
    float GetMeanInterval() override;
    // True when the capture back-end accepted the line (false without one).
    bool SetInputLine(const std::string& LineName, float InputLevel) override;
    // One block of signed 16-bit little-endian mono samples; an odd last byte is ignored.
    void AnalyzeSamples(const void* Data, std::int32_t ByteCount);
    // Samples analysed since Start; read on the thread that feeds samples.
    std::int64_t samplesSinceStart() const { return m_samplesSinceStart; }

    std::int64_t ticksPerSecond() const override { return kAudioTicksPerSecond; }
    CaptureHealth captureHealth() const override;
    bool attachSampleTap(SampleTap* tap) override;
    std::uint32_t captureDropouts() const override;
    // Stroke ticks are capture frames counted from the capture's first one.
    std::optional<double> clockOffsetTicks() const override { return m_graph.streamOffsetFrames(); }
    std::optional<StreamLine> clockLine() const override { return m_graph.streamLine(); }

protected:
    AudioDetectorBase(const std::string& DeviceID, std::unique_ptr<TQX_AudioInput> input);
    // Frees the back-end, which stops and joins its capture thread; from
    // here the calling thread is the only one that touches the detector.
    void stopCapture();

private:
    // User-interface thread, from Start before capture runs: the detector's
    // own state back to that of a fresh run.
    virtual void resetAnalysis() = 0;
    // Analyses samples [0, sampleCount) of a non-empty block, the first of
    // which is sample samplesSinceStart(); returns how many it analysed (fewer
    // once the recording has closed in the middle of the block).
    virtual std::int32_t analyzeBlock(const unsigned char* bytes, std::int32_t sampleCount) = 0;

    CaptureGraph m_graph;
    // Written by the thread that feeds samples only, once Start has run.
    std::int64_t m_samplesSinceStart = 0;
};
