#pragma once
// StrikeFlux: how strongly a new strike rises out of what a drum already
// sounds, millisecond by millisecond, in decibels. The Fast detector asks it
// whether a candidate was struck; it sees a ghost note through the ring of
// the accent before it where the one-band envelope cannot.
//
// Method: the high-passed signal is split into six octave bands (centred on
// 500 Hz to 16 kHz: a snare's wires and a stick's click lie above its body's
// partials)
// and each band's power is smoothed over 1 ms. Every millisecond (44
// samples) each band's level in dB is compared with its own maximum over the
// 2 to 8 ms before; the rises, each capped at 12 dB, are summed over the
// bands. A ring only decays and its partials beat within that maximum, so it
// adds almost nothing; a stick's attack rises in every band at once, most in
// the treble, where the ring of the strokes before has died away first. Each
// band's level has a floor 70 dB under full scale per band (dither), so a
// rise out of digital silence does not count as sixty decibels.
//
// The sum is in dB, so it hardly depends on how loud the stroke is: a ghost
// note 20 dB under an accent rises out of the room nearly as far as the
// accent (60 against 72 dB in the test).
// How loud a stroke must be stays the detector's business.
//
// Plain value, no allocation: it runs on the thread that feeds samples.

#include <array>
#include <cstdint>

class StrikeFlux {
public:
    static constexpr int kBands = 6;
    static constexpr int kHopSamples = 44;     // 1 ms at 44,100 Hz
    static constexpr int kHistoryFrames = 8;   // the maximum spans frames t-8..t-2

    void reset(int sampleRate);
    // One high-passed sample; true when it closed a frame, whose flux() is then current.
    bool push(float x);
    // The last closed frame's summed rise, dB.
    float flux() const { return m_flux; }

private:
    // The bands' band-pass sections side by side (transposed direct form,
    // two lanes left idle), so one sample steps all of them in a few vector
    // instructions: 300 times real time is the budget of the whole detector.
    static constexpr int kLanes = 8;
    alignas(32) std::array<float, kLanes> m_b0{}, m_a1{}, m_a2{};
    alignas(32) std::array<float, kLanes> m_s1{}, m_s2{}, m_power{};
    // Each band's level (dB) at the last kHistoryFrames frames, a ring by frame.
    std::array<std::array<float, kHistoryFrames>, kBands> m_levels{};
    float m_smooth = 0;
    std::int64_t m_frame = 0;
    int m_inHop = 0;
    float m_flux = 0;
};
