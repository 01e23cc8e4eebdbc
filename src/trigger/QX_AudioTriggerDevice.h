#pragma once
// TQX_AudioTriggerDevice: counts drum strokes in a sound-card signal (a drum
// trigger, a piezo pad or a microphone), 16-bit mono at 44,100 Hz.
//
// The signal goes through a 300 Hz high-pass (two identical biquad sections),
// is rectified and measured in 10 ms windows of 441 samples. A stroke is a
// window whose RMS jumps by more than 40 % over the previous one, more than
// 30 ms after the previous stroke's peak, and not much weaker than the recent
// strokes. All time constants are counted in samples. The 30 ms dead time
// follows Start and every counted stroke, but not the emptying of the
// history after a second without strokes: a stroke right after that second
// is the first of a new phrase, with nothing to be too close to.
//
// Stroke events carry the stroke's onset, not the window it was detected in:
// the first sample of the attack, found once the window after the detection
// window is in (the event comes 10 ms after the count). Near the end of a
// timed run a stroke whose onset may lie either side of the end is counted
// then too, only when its onset is inside.
//
// Threads: AnalyzeSamples runs on the capture thread (or the caller's thread
// when the device has no capture back-end); it allocates nothing and takes no
// lock. Start, SetInputLine and the destructor run on the user-interface
// thread; Start runs before capture begins, and the destructor frees the
// capture back-end first, which stops and joins its thread, so no
// AnalyzeSamples call outlives the device.
//
// Ownership: the device owns its capture back-end. Without one (tests, the
// command-line tool) it opens no hardware and is fed by calling
// AnalyzeSamples directly.

#include "Biquad.h"
#include "CaptureGraph.h"
#include "QX_Inputs.h"
#include "QX_TriggerDevice.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class TQX_AudioTriggerDevice : public TQX_TriggerDevice {
public:
    explicit TQX_AudioTriggerDevice(const std::string& DeviceID, std::unique_ptr<TQX_AudioInput> Graph = nullptr);
    ~TQX_AudioTriggerDevice() override;

    void Start(std::int32_t TimeLimit) override;
    float GetMeanInterval() override;
    // True when the capture back-end accepted the line (false without one).
    bool SetInputLine(const std::string& LineName, float InputLevel);
    // One block of signed 16-bit little-endian mono samples; an odd last byte is ignored.
    void AnalyzeSamples(const void* Data, std::int32_t ByteCount);
    // Stroke events are stamped with the stroke's onset sample, counted from
    // the first sample analysed after Start.
    std::int64_t ticksPerSecond() const override { return kAudioTicksPerSecond; }
    CaptureHealth captureHealth() const override;
    bool attachSampleTap(SampleTap* tap) override
    {
        Graph.attachTap(tap);
        return true;
    }
    std::uint32_t captureDropouts() const override { return Graph.dropouts(); }
    // The capture's delay plus the 20 ms the onset search looks ahead.
    std::int32_t endWaitMs() const override { return kCaptureDeliveryMs + 20; }
    void finishInput() override;

private:
    static constexpr std::int32_t kRecentSamples = 3 * 441;

    void resolveOnset(std::int64_t availableEnd);

    CaptureGraph Graph;
    float WindowSumSquares = 0.0f;
    std::int32_t WindowSampleCount = 0;
    float WindowPeak = 0.0f;
    std::int32_t WindowPeakPos = 0;
    float WindowRms = 0.0f;
    float PrevWindowRms = 0.0039f;
    float RmsFloor = 0.0039f;
    Biquad m_section1;
    Biquad m_section2;
    float A1 = 0, A2 = 0, B0 = 0, B1 = 0, B2 = 0;
    // Samples analysed since Start; written by the capture thread only.
    std::int64_t m_samplesSinceStart = 0;
    bool m_strokeSinceClear = false;

    // The rectified filter output of the last three windows, at sample index
    // modulo their length: the window before a detection, the detection
    // window and the one after it, where a stroke's onset is looked for.
    std::array<float, kRecentSamples> m_recent{};
    std::int32_t m_recentPos = 0;
    double m_powerOneBack = 0.0; // mean power of the last window evaluated
    double m_powerTwoBack = 0.0; // and of the one before it
    // A detected stroke whose onset waits for the next window.
    struct PendingOnset {
        bool open = false;
        bool counted = false;       // false: counted only if the onset is inside the recording time
        std::int64_t searchFrom = 0; // first sample of the window before the detection window
        std::int64_t detectEnd = 0;  // one past the detection window's last sample
        double background = 0.0;     // mean power of the window before searchFrom
        std::int32_t interval = 0;
        float level = 0.0f;
    };
    PendingOnset m_pending;
};
