// The ALSA capture stream: QX_AudioFilterGraph opens one PCM, reads it on its
// own capture thread and hands every period to the sample handler. The input
// lines and the device list live in their own files.

#include "capture/QX_AlsaAudio.h"

#include "capture/QX_StreamClock.h"
#include "capture/private/QX_AlsaShared.h"
#include "capture/private/QX_AudioThread.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace {

using namespace alsa;

constexpr snd_pcm_uframes_t kPeriodFrames = 1764; // 40 ms
constexpr unsigned kPeriods = 10;

// With no data for this long the stream is asked whether it is still alive.
constexpr int kStallCheckMs = 500;
// Wake-ups without data in a row before the loop starts pausing between tries.
constexpr int kSpuriousWakeLimit = 64;
constexpr int kSpuriousPauseMs = 10;
// Recoveries in a row that bring no frame before the next error. PipeWire's
// plugin "recovers" a stream whose server has died, and the very next read
// fails again; a real overrun delivers data after its recovery.
constexpr int kFruitlessRecoveryLimit = 8;

} // namespace

bool alsa::setStreamFormat(snd_pcm_t* pcm, snd_pcm_uframes_t periodWish, unsigned periodsWish, bool startWhenFull,
                           snd_pcm_uframes_t& period, snd_pcm_uframes_t& buffer)
{
    snd_pcm_hw_params_t* rawHw = nullptr;
    if (snd_pcm_hw_params_malloc(&rawHw) < 0)
        return false;
    AlsaHwParams hw(rawHw);
    if (snd_pcm_hw_params_any(pcm, rawHw) < 0 ||
        snd_pcm_hw_params_set_access(pcm, rawHw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, rawHw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, rawHw, 1) < 0)
        return false;
    snd_pcm_hw_params_set_rate_resample(pcm, rawHw, 1);
    if (snd_pcm_hw_params_set_rate(pcm, rawHw, kSampleRate, 0) < 0)
        return false;
    period = periodWish;
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(pcm, rawHw, &period, &dir);
    unsigned periods = periodsWish;
    dir = 0;
    if (snd_pcm_hw_params_set_periods_near(pcm, rawHw, &periods, &dir) < 0) {
        snd_pcm_uframes_t bufferFrames = period * periodsWish;
        snd_pcm_hw_params_set_buffer_size_near(pcm, rawHw, &bufferFrames);
    }
    if (snd_pcm_hw_params(pcm, rawHw) < 0)
        return false;
    dir = 0;
    if (snd_pcm_hw_params_get_period_size(rawHw, &period, &dir) < 0 || period == 0 ||
        snd_pcm_hw_params_get_buffer_size(rawHw, &buffer) < 0 || buffer < period)
        return false;

    // Wake the thread once a whole period is there (or has room).
    snd_pcm_sw_params_t* rawSw = nullptr;
    if (snd_pcm_sw_params_malloc(&rawSw) < 0)
        return false;
    AlsaSwParams sw(rawSw);
    // Stream time stamps on the monotonic clock put the input and the click's
    // output on one time line (QX_StreamClock).
    return snd_pcm_sw_params_current(pcm, rawSw) >= 0 && snd_pcm_sw_params_set_avail_min(pcm, rawSw, period) >= 0 &&
           snd_pcm_sw_params_set_tstamp_mode(pcm, rawSw, SND_PCM_TSTAMP_ENABLE) >= 0 &&
           snd_pcm_sw_params_set_tstamp_type(pcm, rawSw, SND_PCM_TSTAMP_TYPE_MONOTONIC) >= 0 &&
           (!startWhenFull || snd_pcm_sw_params_set_start_threshold(pcm, rawSw, buffer) >= 0) &&
           snd_pcm_sw_params(pcm, rawSw) >= 0;
}

struct QX_AudioFilterGraph::Capture {
    AlsaPcm pcm;
    std::string mixerName;
    QX_SampleHandler onSamples;
    snd_pcm_uframes_t periodFrames = 0;
    std::vector<std::int16_t> buffer;
    std::int64_t framesRead = 0; // capture thread only
    QX_StreamClock clock;
    // Overruns and failed waits: periods the card filled that nobody read.
    std::atomic<std::uint32_t> overruns{0};
    AudioThread thread; // last, so it is stopped before anything above goes

    ~Capture() { thread.stop(); }

    // Waits for data or the stop event; false when the thread should end.
    bool waitForData(int& spuriousWakes)
    {
        // The PCM keeps saying "ready" without data: pause instead of spinning.
        if (spuriousWakes > kSpuriousWakeLimit && !thread.pause(kSpuriousPauseMs))
            return false;
        switch (thread.wait(kStallCheckMs)) {
        case AudioThread::Wake::Stop:
            return false;
        case AudioThread::Wake::Interrupted:
            return true;
        case AudioThread::Wake::Timeout: {
            // No data for a while: a stream whose server or card went away
            // reports it here; one that cannot be recovered ends the capture.
            const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm.get());
            if (avail < 0)
                overruns.fetch_add(1, std::memory_order_relaxed);
            if (avail < 0 && snd_pcm_recover(pcm.get(), static_cast<int>(avail), 1) < 0)
                return false;
            return snd_pcm_state(pcm.get()) != SND_PCM_STATE_DISCONNECTED;
        }
        case AudioThread::Wake::Ready:
            break;
        }
        ++spuriousWakes;
        return true;
    }

    // The capture thread: everything it touches was made before it started.
    void loop() noexcept
    {
        snd_pcm_start(pcm.get());
        snd_pcm_uframes_t filled = 0;
        int spuriousWakes = 0;
        int fruitlessRecoveries = 0;
        while (!thread.stopRequested()) {
            const snd_pcm_sframes_t got = snd_pcm_readi(pcm.get(), buffer.data() + filled, periodFrames - filled);
            if (got > 0) {
                spuriousWakes = 0;
                fruitlessRecoveries = 0;
                filled += static_cast<snd_pcm_uframes_t>(got);
                framesRead += got;
                if (filled == periodFrames) {
                    snd_pcm_uframes_t waiting = 0;
                    snd_htimestamp_t at{};
                    if (snd_pcm_htimestamp(pcm.get(), &waiting, &at) == 0)
                        clock.publish(static_cast<double>(framesRead + static_cast<std::int64_t>(waiting)),
                                      std::int64_t{at.tv_sec} * 1'000'000'000 + at.tv_nsec, kSampleRate);
                    if (onSamples)
                        onSamples(buffer.data(), static_cast<std::int32_t>(filled * sizeof(std::int16_t)));
                    filled = 0;
                }
                continue;
            }
            if (got == 0 || got == -EAGAIN) {
                if (!waitForData(spuriousWakes))
                    break;
                continue;
            }
            // An overrun or a suspend is recovered and capture goes on; any
            // other error (the device is gone), or a recovery that never
            // brings data, ends the thread quietly.
            overruns.fetch_add(1, std::memory_order_relaxed);
            if (++fruitlessRecoveries > kFruitlessRecoveryLimit || snd_pcm_recover(pcm.get(), static_cast<int>(got), 1) < 0)
                break;
        }
    }
};

QX_AudioFilterGraph::QX_AudioFilterGraph() = default;

QX_AudioFilterGraph::~QX_AudioFilterGraph()
{
    if (m_capture)
        m_capture->thread.stop();
}

HRESULT QX_AudioFilterGraph::BuildGraph(const std::string& DeviceID, QX_SampleHandler OnSamples)
{
    quietAlsa();
    m_capture.reset();
    auto capture = std::make_unique<Capture>();
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, DeviceID.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0)
        return E_FAIL;
    capture->pcm = AlsaPcm(raw);
    snd_pcm_uframes_t period = 0, buffer = 0;
    if (!setStreamFormat(raw, kPeriodFrames, kPeriods, false, period, buffer))
        return E_FAIL;

    if (!capture->thread.attach(raw))
        return E_FAIL;
    capture->periodFrames = period;
    capture->buffer.assign(period, 0);
    capture->onSamples = OnSamples;
    capture->mixerName = mixerNameOf(raw, DeviceID);
    m_capture = std::move(capture);
    return S_OK;
}

HRESULT QX_AudioFilterGraph::Run()
{
    if (!m_capture)
        return E_FAIL;
    Capture* capture = m_capture.get();
    return capture->thread.start([capture] { capture->loop(); }) ? S_OK : E_FAIL;
}

HRESULT QX_AudioFilterGraph::SetInputLine(const std::string& LineName, float Level)
{
    if (!m_capture)
        return E_FAIL;
    selectInputLine(m_capture->mixerName, LineName, std::clamp(static_cast<double>(Level), 0.0, 1.0));
    return S_OK;
}

std::optional<double> QX_AudioFilterGraph::streamOffsetFrames() const
{
    return m_capture ? m_capture->clock.offsetFrames() : std::nullopt;
}

std::optional<StreamLine> QX_AudioFilterGraph::streamLine() const
{
    return m_capture ? m_capture->clock.line() : std::nullopt;
}

bool QX_AudioFilterGraph::isCapturing() const
{
    return m_capture && m_capture->thread.isRunning();
}

std::uint32_t QX_AudioFilterGraph::overrunCount() const
{
    return m_capture ? m_capture->overruns.load(std::memory_order_relaxed) : 0;
}

std::unique_ptr<TQX_AudioTriggerDevice> CreateAudioTriggerDevice(const std::string& DeviceID)
{
    return std::make_unique<TQX_AudioTriggerDevice>(DeviceID, std::make_unique<QX_AudioFilterGraph>());
}

std::unique_ptr<TQX_FastAudioTriggerDevice> CreateFastAudioTriggerDevice(const std::string& DeviceID)
{
    return std::make_unique<TQX_FastAudioTriggerDevice>(DeviceID, std::make_unique<QX_AudioFilterGraph>());
}
