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
// Threads and ownership as for every AudioDetectorBase: analyzeBlock runs on
// the thread that feeds samples and allocates nothing; Start and the
// destructor, which stops the capture first, run on the user-interface
// thread. Its output is fixed bit for bit by the reference tests
// (tests/trigger/AudioReference.h): any change to the arithmetic of
// analyzeBlock, its order of operations or the rounding to float breaks them.

#include "trigger/AudioDetectorBase.h"
#include "trigger/Biquad.h"
#include "trigger/QX_Inputs.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class TQX_AudioTriggerDevice final : public AudioDetectorBase {
public:
    explicit TQX_AudioTriggerDevice(const std::string& DeviceID, std::unique_ptr<TQX_AudioInput> Graph = nullptr);
    ~TQX_AudioTriggerDevice() override;

    // The capture's delay plus the 20 ms the onset search looks ahead.
    std::int32_t endWaitMs() const override { return kCaptureDeliveryMs + 20; }
    // Stops the capture; input that ended inside a window has it completed
    // by silence, and a detected stroke still waiting is published.
    void finishInput() override;

private:
    static constexpr std::int32_t kRecentSamples = 3 * 441;

    void resetAnalysis() override;
    std::int32_t analyzeBlock(const unsigned char* bytes, std::int32_t n) override;
    void resolveOnset(std::int64_t availableEnd);

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
    bool m_strokeSinceClear = false;

    // The rectified filter output of the last three windows, at sample index
    // modulo their length: the window before a detection, the detection
    // window and the one after it, where a stroke's onset is looked for.
    std::array<float, kRecentSamples> m_recent{};
    std::int32_t m_recentPos = 0;
    // Their power envelope over the onset search, filled when a search runs.
    std::array<double, kRecentSamples> m_envelope{};
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
