// The click's playback stream: QX_ClickPlayer opens one PCM for playback and
// keeps it fed with the click on its own thread.

#include "capture/QX_ClickPlayer.h"

#include "capture/QX_StreamClock.h"
#include "capture/private/QX_AlsaShared.h"
#include "capture/private/QX_AudioThread.h"
#include "trigger/SpscRing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <vector>

namespace {

using namespace alsa;

// Periods of 1024 frames (23 ms), 8 of them: the click is decided 186 ms
// before it is heard, within the speed builder's lead for its next count-in,
// and long enough that a busy desktop does not starve the stream. 1024 is
// PipeWire's usual quantum: through pipewire-alsa, 10 ms periods lost
// 256-frame pieces of the stream now and then, which moves every later click.
constexpr snd_pcm_uframes_t kPeriodFrames = 1024;
constexpr unsigned kPeriods = 8;
constexpr int kStallCheckMs = 500;
constexpr int kFruitlessRecoveryLimit = 8;

struct ClickCommand {
    enum class Kind : std::uint8_t { Schedule, Clear, Signal };
    Kind kind = Kind::Schedule;
    ClickSegment segment;
    const std::int16_t* signal = nullptr; // Signal: samples the user interface keeps
    std::int64_t signalFrames = 0;
};

} // namespace

struct QX_ClickPlayer::Playback {
    AlsaPcm pcm;
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_uframes_t bufferFrames = 0;
    ClickGenerator generator{static_cast<double>(kSampleRate)};
    std::vector<std::int16_t> buffer;
    SpscRing<ClickCommand, 16> commands;  // user interface -> playback
    SpscRing<RenderedClick, 1024> clicks; // playback -> user interface
    // Signals handed to the thread, oldest first (user-interface thread
    // only): a deque keeps each one's samples in place while others come
    // and go. The thread counts the signals it has taken; all but the last
    // of those are done with and may go.
    std::deque<std::vector<std::int16_t>> played;
    std::int64_t signalsFreed = 0;            // user-interface thread only
    std::atomic<std::int64_t> signalsTaken{0};
    const std::int16_t* signal = nullptr;     // playback thread only: what sounds
    std::int64_t signalLeft = 0;
    // Written by the playback thread, read by any: release on write so a
    // reader that sees a position also sees the clicks pushed before it.
    std::atomic<std::int64_t> written{0};
    std::atomic<std::int32_t> underruns{0};
    QX_StreamClock clock;
    AudioThread thread; // last, so it is stopped before anything above goes

    ~Playback() { thread.stop(); }

    void takeCommands() noexcept
    {
        ClickCommand c;
        while (commands.pop(c)) {
            switch (c.kind) {
            case ClickCommand::Kind::Clear:
                generator.clear();
                break;
            case ClickCommand::Kind::Schedule:
                generator.schedule(c.segment);
                break;
            case ClickCommand::Kind::Signal:
                signal = c.signal;
                signalLeft = c.signalFrames;
                // Release: the user interface frees the ones before only once it sees this.
                signalsTaken.fetch_add(1, std::memory_order_release);
                break;
            }
        }
    }

    // Adds what is left of the signal over the click just rendered.
    void mixSignal(snd_pcm_uframes_t frames) noexcept
    {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(signalLeft, static_cast<std::int64_t>(frames)));
        for (std::size_t i = 0; i < n; ++i)
            buffer[i] = static_cast<std::int16_t>(std::clamp(buffer[i] + signal[i], -32768, 32767));
        signal += n;
        signalLeft -= static_cast<std::int64_t>(n);
    }

    // Waits until a period fits or the stop event; false when the thread should end.
    bool waitForRoom()
    {
        switch (thread.wait(kStallCheckMs)) {
        case AudioThread::Wake::Stop:
            return false;
        case AudioThread::Wake::Timeout:
            return snd_pcm_state(pcm.get()) != SND_PCM_STATE_DISCONNECTED;
        case AudioThread::Wake::Interrupted:
        case AudioThread::Wake::Ready:
            break;
        }
        return true;
    }

    // An underrun or suspend is recovered and counted; false when the device is gone.
    bool recover(int error, int& fruitless)
    {
        if (++fruitless > kFruitlessRecoveryLimit || snd_pcm_recover(pcm.get(), error, 1) < 0)
            return false;
        if (error == -EPIPE)
            underruns.fetch_add(1, std::memory_order_relaxed);
        return true;
    }

    // The frames the device has taken by the stream's time stamp: those
    // written less those still waiting in the buffer. Not snd_pcm_delay():
    // through a sound server that is the server's estimate of its own
    // latency, which wanders in a sawtooth by up to 100 frames for the
    // first ten seconds of a stream and moved ten calibrations in a row
    // 0.6 ms apart (standard deviation); the room in the buffer is counted,
    // not estimated. The delay after the buffer (the server's or the
    // converter's) is constant for a device, and calibration measures it.
    void publishPosition(std::int64_t total) noexcept
    {
        snd_pcm_uframes_t room = 0;
        snd_htimestamp_t at{};
        if (snd_pcm_htimestamp(pcm.get(), &room, &at) == 0 && room <= bufferFrames)
            clock.publish(static_cast<double>(total - static_cast<std::int64_t>(bufferFrames - room)),
                          std::int64_t{at.tv_sec} * 1'000'000'000 + at.tv_nsec, kSampleRate);
    }

    // The playback thread: everything it touches was made before it started.
    void loop() noexcept
    {
        int fruitless = 0;
        snd_pcm_uframes_t filled = 0, sent = 0; // of the rendered period in buffer
        while (!thread.stopRequested()) {
            if (sent == filled) {
                takeCommands();
                generator.render(buffer.data(), static_cast<std::int32_t>(periodFrames),
                                 [this](const RenderedClick& c) { clicks.push(c); });
                if (signalLeft > 0)
                    mixSignal(periodFrames);
                filled = periodFrames;
                sent = 0;
            }
            const snd_pcm_sframes_t n = snd_pcm_writei(pcm.get(), buffer.data() + sent, filled - sent);
            if (n > 0) {
                fruitless = 0;
                sent += static_cast<snd_pcm_uframes_t>(n);
                const std::int64_t total = written.fetch_add(n, std::memory_order_release) + n;
                publishPosition(total);
                continue;
            }
            if (n == 0 || n == -EAGAIN) {
                if (!waitForRoom())
                    break;
                continue;
            }
            if (!recover(static_cast<int>(n), fruitless))
                break;
        }
    }
};

QX_ClickPlayer::QX_ClickPlayer() = default;

QX_ClickPlayer::~QX_ClickPlayer()
{
    stop();
}

bool QX_ClickPlayer::open(const std::string& deviceId)
{
    quietAlsa();
    stop();
    auto playback = std::make_unique<Playback>();
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, deviceId.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    playback->pcm = AlsaPcm(raw);
    if (!setStreamFormat(raw, kPeriodFrames, kPeriods, true, playback->periodFrames, playback->bufferFrames))
        return false;
    if (!playback->thread.attach(raw))
        return false;
    playback->buffer.assign(playback->periodFrames, 0);
    m_playback = std::move(playback);
    return true;
}

bool QX_ClickPlayer::start()
{
    if (!m_playback)
        return false;
    Playback* playback = m_playback.get();
    return playback->thread.start([playback] { playback->loop(); });
}

void QX_ClickPlayer::stop()
{
    m_playback.reset();
}

bool QX_ClickPlayer::schedule(const ClickSegment& segment)
{
    return m_playback && m_playback->commands.push({ClickCommand::Kind::Schedule, segment});
}

bool QX_ClickPlayer::clearClicks()
{
    return m_playback && m_playback->commands.push({ClickCommand::Kind::Clear, {}});
}

bool QX_ClickPlayer::playSignal(std::vector<std::int16_t> samples)
{
    if (!m_playback)
        return false;
    Playback& p = *m_playback;
    const std::int64_t taken = p.signalsTaken.load(std::memory_order_acquire);
    while (p.signalsFreed + 1 < taken) {
        p.played.pop_front();
        ++p.signalsFreed;
    }
    p.played.push_back(std::move(samples));
    const std::vector<std::int16_t>& kept = p.played.back();
    ClickCommand c;
    c.kind = ClickCommand::Kind::Signal;
    c.signal = kept.data();
    c.signalFrames = static_cast<std::int64_t>(kept.size());
    if (p.commands.push(c))
        return true;
    p.played.pop_back();
    return false;
}

bool QX_ClickPlayer::takeClick(RenderedClick& click)
{
    return m_playback && m_playback->clicks.pop(click);
}

bool QX_ClickPlayer::isPlaying() const
{
    return m_playback && m_playback->thread.isRunning();
}

std::int64_t QX_ClickPlayer::framesWritten() const
{
    return m_playback ? m_playback->written.load(std::memory_order_acquire) : 0;
}

std::int32_t QX_ClickPlayer::underruns() const
{
    return m_playback ? m_playback->underruns.load(std::memory_order_relaxed) : 0;
}

std::optional<double> QX_ClickPlayer::streamOffsetFrames() const
{
    return m_playback ? m_playback->clock.offsetFrames() : std::nullopt;
}

std::int32_t QX_ClickPlayer::bufferFrames() const
{
    return m_playback ? static_cast<std::int32_t>(m_playback->bufferFrames) : 0;
}

std::optional<StreamLine> QX_ClickPlayer::streamLine() const
{
    return m_playback ? m_playback->clock.line() : std::nullopt;
}
