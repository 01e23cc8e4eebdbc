#pragma once
// QX_SignalPlayer: plays short signals (a countdown's beeps, an end signal)
// on the system's default ALSA output, one at a time, on a thread of its own
// so the window never waits for the sound card. A new signal cuts off the
// one still playing. Without an output (no sound server, no card) signals
// are silently dropped: a competition still runs with the judge's voice.
//
// Threads: play() and the destructor on the user-interface thread; the
// destructor stops and joins the playing thread.
//
// toneSignal() renders the beeps: 16-bit mono at 44,100 Hz, each tone with
// ramps so it starts (5 ms, or its whole length when it swells) and stops
// (5 ms, 3 ms after a swell) without a click.

#include <cstdint>
#include <memory>
#include <vector>

struct Tone {
    std::int32_t startMs = 0;
    std::int32_t lengthMs = 150;
    double hz = 880.0;
    // Swells from -60 dB to full over its length and stops: the beat is its
    // end. Rising that slowly, a microphone's detector never takes it for a
    // stroke, so a countdown heard by the drum's microphone is no false start.
    bool swell = false;
};

std::vector<std::int16_t> toneSignal(const std::vector<Tone>& tones, float gain = 0.5f);
// A countdown: swelling tones that end on each of beats beats, beatMs apart
// from the start, then a higher one that ends on go, a beat later.
std::vector<std::int16_t> countdownSignal(int beats, int beatMs);

class QX_SignalPlayer {
public:
    QX_SignalPlayer();
    ~QX_SignalPlayer();
    QX_SignalPlayer(const QX_SignalPlayer&) = delete;
    QX_SignalPlayer& operator=(const QX_SignalPlayer&) = delete;

    void play(std::vector<std::int16_t> signal);

private:
    struct Worker;
    std::unique_ptr<Worker> m_worker;
};
