#pragma once
// TQX_FastAudioTriggerDevice: the "Fast" audio detector, for players beyond
// the 30 strokes per second the standard detector's windows allow. Same input
// (16-bit mono 44,100 Hz blocks through AnalyzeSamples), same counters,
// history, time limit and Level as TQX_AudioTriggerDevice.
//
// Method, per sample:
//   1. The standard detector's 300 Hz high-pass, bit for bit; its rectified
//      peak is Level, so the dialog's meter reads the same with either detector.
//   2. A 2.5 kHz high-pass on that: the stick's attack lives up there, while a
//      ringing shell, the kick and the hum sit lower, so strokes stand out of
//      the previous strokes' ring.
//   3. The band's power smoothed over 0.5 ms: an envelope fast enough to see
//      two strokes 12 ms apart.
//   4. A rise test against the envelope's recent minimum (which may creep up
//      by 6 dB per 4 ms): a new attack is at least 9 dB above the lowest level
//      of the last few milliseconds, where comparing with the previous window
//      fails once a ringing drum's strokes overlap.
//   5. A noise gate: 12 dB above a slow minimum (rising 6 dB per 250 ms), so
//      steady hiss and hum never count.
//   6. 1.5 ms after the rise, the attack's peak must reach a quarter of the
//      recent strokes' mean peak: ghost notes pass, a loud stroke's echo and
//      rattles do not.
//   7. 10 ms refractory time from the onset, extended while the input clips,
//      since the clipped stroke's distorted ring would fake attacks.
// The onset is the last sample before the rise at which the envelope was
// within 3 dB of the recent minimum, so it falls on the attack's first
// samples; the stroke is counted 1.5 ms after the rise.
//
// Figures that chose it (bench_fast_detector on the hydrogen-drumkits corpus
// of tests/support/DrumCorpus, README table): F = 1.00 on a choked pad at 4
// to 40 strokes per second, 1.00 on a ringing snare by microphone at 20/s,
// none in 20 s of room noise; 1 kHz let the snare's ring through at 30/s,
// a 6 dB rise counted the wires' rattle, 15 ms refractory lost the 12 ms pairs.
//
// Threads: AnalyzeSamples runs on the capture thread (or the caller's thread
// without a back-end): no allocation, lock or system call, one pass per
// block, state in the object. Start, SetInputLine and the destructor run on
// the user-interface thread; the destructor frees the back-end first, which
// joins its thread. RecentOnset is read on the thread that feeds samples.
//
// Units: sample indices count samples since Start (64-bit); levels are on the
// 0..1 scale of full-scale 16-bit; the history's intervals are in samples.
// Ownership: the device owns its capture back-end (none in tests and tools).

#include "QX_Inputs.h"
#include "QX_TriggerDevice.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class TQX_FastAudioTriggerDevice : public TQX_TriggerDevice {
public:
    explicit TQX_FastAudioTriggerDevice(const std::string& DeviceID, std::unique_ptr<TQX_AudioInput> Graph = nullptr);
    ~TQX_FastAudioTriggerDevice() override;

    void Start(std::int32_t TimeLimit) override;
    float GetMeanInterval() override;
    // True when the capture back-end accepted the line (false without one).
    bool SetInputLine(const std::string& LineName, float InputLevel);
    // One block of signed 16-bit little-endian mono samples; an odd last byte is ignored.
    void AnalyzeSamples(const void* Data, std::int32_t ByteCount);

    // A recent counted stroke: back = 0 the latest, up to 7 before it.
    // onsetSample is -1 for a slot not yet filled since Start.
    struct Onset {
        std::int64_t onsetSample = -1;
        std::int32_t intervalSamples = EmptyInterval; // from the previous onset
        float peakLevel = 0.0f;                       // attack peak of the high band
    };
    Onset RecentOnset(std::int32_t back = 0) const;
    // Samples analysed since Start.
    std::int64_t SamplesSinceStart() const { return m_sampleIndex; }

private:
    struct Biquad {
        float x0 = 0, x1 = 0, x2 = 0;
        float y0 = 0, y1 = 0, y2 = 0;
    };
    enum class Phase : std::uint8_t { Idle, Candidate, Refractory };

    float meanRecentPeak() const;
    void decideCandidate(std::int64_t index);

    std::unique_ptr<TQX_AudioInput> m_graph;

    // The standard detector's meter filter.
    Biquad m_meter1;
    Biquad m_meter2;
    float m_a1 = 0, m_a2 = 0, m_b0 = 0, m_b1 = 0, m_b2 = 0;

    // Power of the filtered signal (full scale = 1): envelope, the level it
    // is compared with, and the noise floor.
    double m_fast = 0;
    double m_slow = 0;
    double m_noiseFloor = 0;

    Phase m_phase = Phase::Idle;
    std::int64_t m_sampleIndex = 0;
    std::int64_t m_quietSample = -1;     // last sample at or below the slow level
    std::int64_t m_candidateOnset = 0;
    std::int64_t m_decideAt = 0;         // end of the attack's measurement
    std::int64_t m_refractoryEnd = 0;
    std::int64_t m_lastOnset = -1;
    double m_candidatePeak = 0;
    double m_levelBefore = 0;
    double m_attackSum = 0;
    std::int64_t m_attackSamples = 0;

    std::array<Onset, 8> m_onsets{};
    std::int32_t m_onsetIndex = 0;
};
