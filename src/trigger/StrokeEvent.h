#pragma once
// StrokeEvent: one counted stroke as a trigger device publishes it to the
// user-interface thread. Plain data, copied through an SpscRing.
//
// Time is in the device's own ticks so nothing is rounded on the capture
// thread: the audio devices count samples since Start at 44,100 per second
// (the stroke's peak or onset sample), the MIDI device gives the message's
// 100 ns time stamp (10,000,000 per second). Readers turn ticks into seconds
// with the device's tick rate and measure from the run's first stroke.

#include <cstdint>

struct StrokeEvent {
    std::int64_t tick = 0;
    float level = 0.0f;     // the stroke's level as the device measured it (0..1 audio, velocity/127 MIDI)
    std::int32_t note = -1; // MIDI note number, -1 for audio strokes
};

inline constexpr std::int64_t kAudioTicksPerSecond = 44100;
inline constexpr std::int64_t kMidiTicksPerSecond = 10000000;
