#include "QX_SignalPlayer.h"

#include "QX_AlsaShared.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

constexpr unsigned kRate = 44100;
constexpr snd_pcm_uframes_t kChunkFrames = 441; // 10 ms: a newer signal cuts in quickly

} // namespace

std::vector<std::int16_t> toneSignal(const std::vector<Tone>& tones, float gain)
{
    std::int64_t endMs = 0;
    for (const Tone& t : tones)
        endMs = std::max<std::int64_t>(endMs, t.startMs + t.lengthMs);
    std::vector<float> mix(static_cast<std::size_t>(endMs * kRate / 1000), 0.0f);
    const double ramp = 0.005 * kRate;
    for (const Tone& t : tones) {
        const auto first = static_cast<std::size_t>(static_cast<std::int64_t>(t.startMs) * kRate / 1000);
        const auto length = static_cast<std::size_t>(static_cast<std::int64_t>(t.lengthMs) * kRate / 1000);
        const double fall = t.swell ? 0.003 * kRate : ramp;
        for (std::size_t i = 0; i < length && first + i < mix.size(); ++i) {
            const double x = static_cast<double>(i);
            const double rise = t.swell ? std::pow(10.0, -4.8 * (1.0 - x / static_cast<double>(length))) : x / ramp;
            const double edge = std::min({1.0, rise, static_cast<double>(length - i) / fall});
            mix[first + i] += static_cast<float>(edge * std::sin(2.0 * M_PI * t.hz * i / kRate));
        }
    }
    std::vector<std::int16_t> out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i)
        out[i] = static_cast<std::int16_t>(std::lround(std::clamp(mix[i] * gain, -1.0f, 1.0f) * 32767.0f));
    return out;
}

std::vector<std::int16_t> countdownSignal(int beats, int beatMs)
{
    // 900 ms from -96 dB: 1.1 dB per 10 ms, slower than either detector's
    // idea of an attack, from below the 16-bit floor so no step shows.
    constexpr std::int32_t kSwellMs = 900;
    std::vector<Tone> tones;
    for (int beat = 1; beat <= beats + 1; ++beat)
        tones.push_back(Tone{beat * beatMs - kSwellMs, kSwellMs, beat > beats ? 1760.0 : 880.0, true});
    return toneSignal(tones);
}

struct QX_SignalPlayer::Worker {
    std::thread thread;
    std::atomic<bool> stop{false};

    void finish()
    {
        stop.store(true, std::memory_order_release);
        if (thread.joinable())
            thread.join();
        stop.store(false, std::memory_order_relaxed);
    }

    void run(std::vector<std::int16_t> signal)
    {
        alsa::quietAlsa();
        snd_pcm_t* raw = nullptr;
        if (snd_pcm_open(&raw, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0)
            return;
        AlsaPcm pcm(raw);
        // 100 ms of latency: beeps need no more precision than a judge's ear.
        if (snd_pcm_set_params(raw, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kRate, 1, 100000) < 0)
            return;
        snd_pcm_uframes_t at = 0;
        while (at < signal.size() && !stop.load(std::memory_order_acquire)) {
            const snd_pcm_uframes_t n = std::min<snd_pcm_uframes_t>(kChunkFrames, signal.size() - at);
            const snd_pcm_sframes_t put = snd_pcm_writei(raw, signal.data() + at, n);
            if (put < 0) {
                if (snd_pcm_recover(raw, static_cast<int>(put), 1) < 0)
                    return;
                continue;
            }
            at += static_cast<snd_pcm_uframes_t>(put);
        }
        if (stop.load(std::memory_order_acquire))
            snd_pcm_drop(raw);
        else
            snd_pcm_drain(raw);
    }
};

QX_SignalPlayer::QX_SignalPlayer() : m_worker(std::make_unique<Worker>()) {}

QX_SignalPlayer::~QX_SignalPlayer()
{
    m_worker->finish();
}

void QX_SignalPlayer::play(std::vector<std::int16_t> signal)
{
    m_worker->finish();
    m_worker->thread = std::thread([w = m_worker.get(), s = std::move(signal)]() mutable { w->run(std::move(s)); });
}
