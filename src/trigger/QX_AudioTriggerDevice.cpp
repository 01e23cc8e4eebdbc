#include "trigger/QX_AudioTriggerDevice.h"

#include "trigger/OnsetLocator.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Sample value / 32768 = level on the 0..1 scale.
constexpr double kSampleScale = 32768.0;
// A scaled sample above this is clipping (sample values of 32760 and up).
constexpr double kOverloadLevel = 0.99975;
// After clipping the window RMS floor is raised so the distorted tail of the
// hit cannot fake a rise; it falls back to the rest floor over 4 s.
constexpr float kRaisedFloor = 0.063f;
constexpr float kRestFloor = 0.0039f;
constexpr double kFloorDecayPerSample = 3.3503401360544216e-7; // 0.0591 / 176400
constexpr std::int32_t kWindowSamples = 441;                     // 10 ms
constexpr double kRiseFactor = 1.4;
constexpr std::int64_t kDeadTimeSamples = 1323;                  // 30 ms
constexpr double kRelativeLevel = 0.35;
constexpr std::int64_t kHistoryTimeoutSamples = 44100;           // 1 s
constexpr std::int32_t kSampleRate = 44100;

// The onset's envelope: the power smoothed as locateOnset expects.
const double kEnvelopeCoef = 1.0 - std::exp(-1.0 / (kOnsetEnvelopeSeconds * kSampleRate));

} // namespace

TQX_AudioTriggerDevice::TQX_AudioTriggerDevice(const std::string& DeviceID, std::unique_ptr<TQX_AudioInput> graph)
    : AudioDetectorBase(DeviceID, std::move(graph))
{
}

TQX_AudioTriggerDevice::~TQX_AudioTriggerDevice()
{
    stopCapture();
}

void TQX_AudioTriggerDevice::resetAnalysis()
{
    WindowSumSquares = 0.0f;
    WindowSampleCount = 0;
    WindowRms = 0.0f;
    WindowPeak = 0.0f;
    WindowPeakPos = 0;
    RmsFloor = kRestFloor;
    PrevWindowRms = kRestFloor;
    m_section1 = Biquad{};
    m_section2 = Biquad{};
    // Start holds the dead time like a stroke: the first windows are compared
    // with the rest floor, not with the room, and would count its noise.
    m_strokeSinceClear = true;
    m_recent.fill(0.0f);
    m_recentPos = 0;
    m_powerOneBack = 0.0;
    m_powerTwoBack = 0.0;
    m_pending = PendingOnset{};

    const BiquadCoefficients k = highPass300Hz(kSampleRate);
    A1 = k.a1;
    A2 = k.a2;
    B0 = k.b0;
    B1 = k.b1;
    B2 = k.b2;
}

std::int32_t TQX_AudioTriggerDevice::analyzeBlock(const unsigned char* bytes, std::int32_t n)
{
    // The per-sample state lives in locals for the block so the compiler can
    // keep it in registers; the atomics and the history are touched only
    // when a value changes or a window ends.
    const double b0 = B0, b1 = B1, b2 = B2, a1 = A1, a2 = A2;
    Biquad s1 = m_section1;
    Biquad s2 = m_section2;
    float floor = RmsFloor;
    float sumSquares = WindowSumSquares;
    std::int32_t windowCount = WindowSampleCount;
    float peak = WindowPeak;
    std::int32_t peakPos = WindowPeakPos;
    std::int64_t gap = GapCounter;
    const std::int64_t firstSample = samplesSinceStart();
    std::int32_t recentPos = m_recentPos;
    std::int32_t analysed = n;

    for (std::int32_t i = 0; i < n; ++i) {
        const std::int16_t raw = sampleAt(bytes, i);
        const float x = static_cast<float>(raw / kSampleScale);

        // Only positive clipping raises the floor; -32768 is a normal full-scale sample.
        if (x > kOverloadLevel)
            floor = kRaisedFloor;
        else if (floor > kRestFloor)
            floor = static_cast<float>(floor - kFloorDecayPerSample);

        const float v = s2.step(s1.step(x, b0, b1, b2, a1, a2), b0, b1, b2, a1, a2);
        // Section 2 keeps the signed output in y1 and the rectified one in y0.
        const float r = std::fabs(v);
        s2.y0 = r;
        m_recent[static_cast<std::size_t>(recentPos)] = r;
        if (++recentPos == kRecentSamples)
            recentPos = 0;

        if (r > Level.load(std::memory_order_relaxed))
            raiseLevel(r);

        sumSquares = static_cast<float>(static_cast<double>(sumSquares) + static_cast<double>(r) * r);
        ++windowCount;
        if (r > peak) {
            peak = r;
            peakPos = windowCount;
        }

        ++gap;
        if (gap > kHistoryTimeoutSamples) {
            // A second without a stroke: the old strokes no longer set the bar.
            ResetHistory();
            gap = 0;
            m_strokeSinceClear = false;
        }

        if (windowCount == kWindowSamples) {
            const double windowPower = static_cast<double>(sumSquares) / kWindowSamples;
            float rms = static_cast<float>(std::sqrt(windowPower));
            sumSquares = 0.0f;
            windowCount = 0;
            if (rms < floor)
                rms = floor;
            // Sample i closes the window, whose first sample is i - 440.
            const std::int64_t last = firstSample + i;
            if (m_pending.open)
                resolveOnset(last + 1);

            double levelSum = 0.0;
            for (const auto& slot : StrokeLevels) {
                const float level = slot.load(std::memory_order_relaxed);
                if (level > 0.0f)
                    levelSum += level;
            }
            // The sum is divided by the full ring of 8, so a short history
            // makes the test easier, not harder.
            const bool levelOk = levelSum == 0.0 || static_cast<double>(rms) / (levelSum / 8.0) > kRelativeLevel;
            const bool deadTimeOver = gap > kDeadTimeSamples || !m_strokeSinceClear;

            if (static_cast<double>(rms) > kRiseFactor * static_cast<double>(PrevWindowRms) && deadTimeOver &&
                levelOk) {
                // The interval runs from the previous stroke's peak sample to this one's.
                const auto interval = static_cast<std::int32_t>(gap + peakPos - kWindowSamples);
                const std::int64_t searchFrom = std::max<std::int64_t>(0, last + 1 - 2 * kWindowSamples);
                m_pending = PendingOnset{true, false, searchFrom, last + 1, m_powerTwoBack, interval, rms};
                if (withinRecordingTime(last)) {
                    RecordStroke(interval, rms);
                    m_pending.counted = true;
                } else if (!withinRecordingTime(searchFrom)) {
                    // Past the end whatever its onset.
                    m_pending.open = false;
                    closeRecording();
                }
                m_strokeSinceClear = true;
                gap = kWindowSamples - peakPos;
            }
            m_powerTwoBack = m_powerOneBack;
            m_powerOneBack = windowPower;
            peak = 0.0f;
            peakPos = 0;
            PrevWindowRms = rms;
            WindowRms = rms;
            // A later detection looks for its onset from this window's first sample on.
            if (!m_pending.open && settledThrough(last - kWindowSamples)) {
                analysed = i + 1;
                break;
            }
        }
    }

    m_section1 = s1;
    m_section2 = s2;
    RmsFloor = floor;
    WindowSumSquares = sumSquares;
    WindowSampleCount = windowCount;
    WindowPeak = peak;
    WindowPeakPos = peakPos;
    GapCounter = gap;
    m_recentPos = recentPos;
    return analysed;
}

void TQX_AudioTriggerDevice::resolveOnset(std::int64_t availableEnd)
{
    const PendingOnset p = m_pending;
    m_pending.open = false;
    // The ring still holds every sample from searchFrom on: it is resolved at
    // the latest when the window after the detection window ends.
    const std::int64_t to = std::min(availableEnd, p.detectEnd + kWindowSamples);
    // The envelope starts from the mean power of the window before the search.
    double envelope = p.background;
    for (std::int64_t k = p.searchFrom; k < to; ++k) {
        const double r = m_recent[static_cast<std::size_t>(k % kRecentSamples)];
        envelope += kEnvelopeCoef * (r * r - envelope);
        m_envelope[static_cast<std::size_t>(k % kRecentSamples)] = envelope;
    }
    const auto at = [this](std::int64_t k) { return m_envelope[static_cast<std::size_t>(k % kRecentSamples)]; };
    std::int64_t onset = locateOnset(at, p.searchFrom, to, p.background);
    // Never later than the window that detected it.
    if (onset < 0 || onset >= p.detectEnd)
        onset = p.detectEnd - 1;
    publishLocatedStroke(onset, p.counted, p.interval, p.level);
}

void TQX_AudioTriggerDevice::finishInput()
{
    stopCapture();
    // Input that ends inside a window (a recording trimmed close behind its
    // last stroke) has that window completed by silence, as a live input's
    // quiet room would complete it: a stroke in its last 10 ms is still judged.
    if (WindowSampleCount > 0) {
        static constexpr std::array<std::int16_t, kWindowSamples> kSilence{};
        AnalyzeSamples(kSilence.data(), 2 * (kWindowSamples - WindowSampleCount));
    }
    if (m_pending.open)
        resolveOnset(samplesSinceStart());
}
