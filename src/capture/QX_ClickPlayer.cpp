// The click's playback stream: QX_ClickPlayer opens one PCM for playback and
// keeps it fed with the click on its own thread.

#include "QX_ClickPlayer.h"

#include "QX_AlsaShared.h"
#include "QX_EventFd.h"
#include "QX_StreamClock.h"
#include "SpscRing.h"

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>
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
    enum class Kind : std::uint8_t { Schedule, Clear };
    Kind kind = Kind::Schedule;
    ClickSegment segment;
};

} // namespace

struct QX_ClickPlayer::Playback {
    AlsaPcm pcm;
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_uframes_t bufferFrames = 0;
    ClickGenerator generator{static_cast<double>(kSampleRate)};
    std::vector<std::int16_t> buffer;
    std::vector<pollfd> fds; // the PCM's descriptors, then the stop event
    int pcmFdCount = 0;
    EventFd stopEvent;
    SpscRing<ClickCommand, 16> commands;  // user interface -> playback
    SpscRing<RenderedClick, 1024> clicks; // playback -> user interface
    // Written by the playback thread, read by any: release on write so a
    // reader that sees a position also sees the clicks pushed before it.
    std::atomic<std::int64_t> written{0};
    std::atomic<std::int32_t> underruns{0};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{false};
    QX_StreamClock clock;
    std::thread thread;

    ~Playback() { stop(); }

    void stop()
    {
        if (!thread.joinable())
            return;
        stopRequested.store(true, std::memory_order_release);
        stopEvent.signal();
        thread.join();
    }

    void takeCommands() noexcept
    {
        ClickCommand c;
        while (commands.pop(c)) {
            if (c.kind == ClickCommand::Kind::Clear)
                generator.clear();
            else
                generator.schedule(c.segment);
        }
    }

    // Waits until a period fits or the stop event; false when the thread should end.
    bool waitForRoom()
    {
        const int ready = poll(fds.data(), fds.size(), kStallCheckMs);
        if (ready < 0)
            return errno == EINTR;
        if (fds.back().revents & POLLIN)
            return false;
        if (ready == 0)
            return snd_pcm_state(pcm.get()) != SND_PCM_STATE_DISCONNECTED;
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(pcm.get(), fds.data(), static_cast<unsigned>(pcmFdCount), &revents);
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

    // The frames heard by now: those written less those still queued.
    void publishPosition(std::int64_t total) noexcept
    {
        snd_pcm_uframes_t room = 0;
        snd_htimestamp_t at{};
        snd_pcm_sframes_t queued = 0;
        if (snd_pcm_htimestamp(pcm.get(), &room, &at) == 0 && snd_pcm_delay(pcm.get(), &queued) == 0)
            clock.publish(static_cast<double>(total - queued), std::int64_t{at.tv_sec} * 1'000'000'000 + at.tv_nsec,
                          kSampleRate);
    }

    // The playback thread: everything it touches was made before it started.
    void loop() noexcept
    {
        int fruitless = 0;
        snd_pcm_uframes_t filled = 0, sent = 0; // of the rendered period in buffer
        while (!stopRequested.load(std::memory_order_acquire)) {
            if (sent == filled) {
                takeCommands();
                generator.render(buffer.data(), static_cast<std::int32_t>(periodFrames),
                                 [this](const RenderedClick& c) { clicks.push(c); });
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
        running.store(false, std::memory_order_release);
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
    if (playback->stopEvent.fd() < 0)
        return false;
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, deviceId.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    playback->pcm = AlsaPcm(raw);
    if (!setStreamFormat(raw, kPeriodFrames, kPeriods, true, playback->periodFrames, playback->bufferFrames))
        return false;
    const int fdCount = snd_pcm_poll_descriptors_count(raw);
    if (fdCount <= 0)
        return false;
    playback->fds.resize(static_cast<std::size_t>(fdCount) + 1);
    if (snd_pcm_poll_descriptors(raw, playback->fds.data(), static_cast<unsigned>(fdCount)) != fdCount)
        return false;
    playback->pcmFdCount = fdCount;
    playback->fds.back() = pollfd{playback->stopEvent.fd(), POLLIN, 0};
    playback->buffer.assign(playback->periodFrames, 0);
    m_playback = std::move(playback);
    return true;
}

bool QX_ClickPlayer::start()
{
    if (!m_playback)
        return false;
    if (m_playback->thread.joinable())
        return m_playback->running.load(std::memory_order_acquire);
    m_playback->running.store(true, std::memory_order_release);
    try {
        m_playback->thread = std::thread(&Playback::loop, m_playback.get());
    } catch (const std::system_error&) {
        m_playback->running.store(false, std::memory_order_release);
        return false;
    }
    return true;
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

bool QX_ClickPlayer::takeClick(RenderedClick& click)
{
    return m_playback && m_playback->clicks.pop(click);
}

bool QX_ClickPlayer::isPlaying() const
{
    return m_playback && m_playback->running.load(std::memory_order_acquire);
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
