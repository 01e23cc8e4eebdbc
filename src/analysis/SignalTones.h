#pragma once
// The competition's signals: a countdown's beeps and an end signal, as
// 16-bit mono samples at 44,100 Hz for the audio output (QX_ClickPlayer
// mixes them over the click). Each tone has ramps so it starts (5 ms, or its
// whole length when it swells) and stops (5 ms, 3 ms after a swell) without
// a click. Standard C++ only; any thread.

#include <cstdint>
#include <vector>

struct Tone {
    std::int32_t startMs = 0;
    std::int32_t lengthMs = 150;
    double hz = 880.0;
    // Swells from -96 dB to full over its length and stops: the beat is its
    // end. Rising that slowly, a microphone's detector never takes it for a
    // stroke, so a countdown heard by the drum's microphone is no false start.
    bool swell = false;
};

std::vector<std::int16_t> toneSignal(const std::vector<Tone>& tones, float gain = 0.5f);
// A countdown: swelling tones that end on each of beats beats, beatMs apart
// from the start, then a higher one that ends on go, a beat later.
std::vector<std::int16_t> countdownSignal(int beats, int beatMs);
