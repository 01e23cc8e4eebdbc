#pragma once
// locateOnset: where a detected stroke's attack begins, the one stroke time
// both audio detectors publish. Each detector keeps the last milliseconds of
// its high-passed signal's power envelope (smoothed over 0.5 ms) and, once it
// has decided a stroke, asks here for the onset inside the span it searched:
// the standard detector from the window before its detection window to the
// window after it, the fast one from 5 ms before its candidate's start to
// 10 ms after it.
//
// Method: the envelope is compared with the level before it (smoothed over
// 12 ms, starting from the level the detector measured before the span) and
// with a floor 15 dB under the span's peak; the onset is the sample after the
// envelope last stood at or under both, once it has risen 6 dB over them.
// The floor keeps a sample's faint lead-in and the ring a stroke rises out of
// from setting loud strokes earlier than soft ones of the same drum, and it
// lands every stroke of a roll on the same part of an attack that builds in
// bursts; a threshold on single samples is crossed by a ringing snare's
// ripples, and a lower floor lets a snare's ripples ahead of its attack take
// the onset of some strokes of an even roll and not others.
//
// From the floor's crossing the onset then walks back, up to 3 ms, over the
// samples still 3 dB over the level before (the 12 ms level where the rise
// began): an attack whose first burst stays under the floor (a snare whose
// shell swells 17 dB over its stick's first millisecond), or that builds out
// of the room noise for a millisecond or two, starts where it left that
// level. Only an unbroken run counts, so a ring's ripple or a lead-in's burst
// before a dip never moves the onset. A smaller margin, a longer walk, or a
// level before taken from before the span (which a lead-in lasting
// milliseconds has not yet lifted) each walk some strokes of an even roll
// into a bursting lead-in and stop others short of it, so the roll reads
// uneven.
//
// What this leaves is mostly drums whose lead-in lies 28 to 37 dB under the
// peak for several milliseconds before the attack proper: under room noise
// no detector sees where it begins, and neither the attack's rise time nor
// its level tells how long it was (bench_stroke_times --why and --kits show
// the spread by drum and by the noise under it).
//
// Plain function, no state, no allocation: it runs on the thread that feeds
// samples. Units: sample indices since Start; powers on the 0..1 scale of
// full-scale 16-bit, squared.

#include <algorithm>
#include <cmath>
#include <cstdint>

inline constexpr double kOnsetSampleRate = 44100.0;
inline constexpr double kOnsetEnvelopeSeconds = 0.0005;
inline constexpr double kOnsetLevelBeforeSeconds = 0.012;
inline constexpr double kOnsetRise = 4.0;       // 6 dB
inline constexpr double kOnsetPeakShare = 0.03; // 15 dB under the span's peak
inline constexpr double kOnsetWalkBackMargin = 2.0;        // 3 dB over the level before
inline constexpr std::int64_t kOnsetWalkBackSamples = 132; // 3 ms
// Below -70 dBFS is silence and dither: a rise out of it starts there.
inline constexpr double kOnsetQuietPower = 1e-7;

// The span searched, [from, to), with the envelope at each index in it, and
// the level before the span (the mean power just before it). Returns -1 when
// nothing in the span rises into an attack.
template <class Envelope>
std::int64_t locateOnset(const Envelope& envelope, std::int64_t from, std::int64_t to, double levelBefore)
{
    double peak = levelBefore;
    for (std::int64_t k = from; k < to; ++k)
        peak = std::max(peak, envelope(k));
    const double floor = std::max(kOnsetQuietPower, kOnsetPeakShare * peak);
    const double levelCoef = 1.0 - std::exp(-1.0 / (kOnsetLevelBeforeSeconds * kOnsetSampleRate));
    double slow = levelBefore;
    std::int64_t quiet = from - 1;
    for (std::int64_t k = from; k < to; ++k) {
        const double e = envelope(k);
        const double before = std::max(slow, floor);
        if (e <= before) {
            quiet = k;
        } else if (e > kOnsetRise * before) {
            const double lead = std::max(kOnsetQuietPower, kOnsetWalkBackMargin * slow);
            std::int64_t onset = quiet + 1;
            for (const std::int64_t earliest = std::max(from, onset - kOnsetWalkBackSamples);
                 onset > earliest && envelope(onset - 1) > lead;)
                --onset;
            return onset;
        }
        slow += levelCoef * (e - slow);
    }
    return -1;
}
