#pragma once
// The thread that serves one ALSA stream, and how it waits and is stopped:
// the capture stream and the click's playback both poll their PCM's
// descriptors together with an eventfd, so a stop request wakes the thread
// at once whatever the device does. Nothing outside src/capture includes
// this header.
//
// Threads: attach, start, stop and the destructor on the owner's thread
// (the user-interface thread); wait, pause and stopRequested on the audio
// thread, which they never make allocate, lock or throw; isRunning on any.
// stop() requests, wakes and joins, so the owner frees what the loop uses
// only after it; the destructor stops.

#include "capture/private/QX_AlsaHandles.h"
#include "capture/private/QX_EventFd.h"

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

class AudioThread {
public:
    enum class Wake {
        Ready,       // the PCM has data or room (its revents are taken)
        Timeout,     // nothing within the wait: the caller asks the PCM why
        Interrupted, // a signal cut the wait short: wait again
        Stop,        // asked to stop, or the wait itself failed: end the loop
    };

    AudioThread() = default;
    ~AudioThread() { stop(); }
    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;

    // Takes pcm's poll descriptors, the stop event after them; false when
    // the PCM has none or the eventfd could not be made.
    bool attach(snd_pcm_t* pcm)
    {
        if (m_stopEvent.fd() < 0)
            return false;
        const int count = snd_pcm_poll_descriptors_count(pcm);
        if (count <= 0)
            return false;
        m_fds.resize(static_cast<std::size_t>(count) + 1);
        if (snd_pcm_poll_descriptors(pcm, m_fds.data(), static_cast<unsigned>(count)) != count)
            return false;
        m_pcm = pcm;
        m_pcmFdCount = count;
        m_fds.back() = pollfd{m_stopEvent.fd(), POLLIN, 0};
        return true;
    }

    // Runs loop() on a new thread; isRunning() holds until it returns.
    // Again on a started thread: whether it still runs. False when no
    // thread could be made.
    template <class Loop>
    bool start(Loop loop)
    {
        if (m_thread.joinable())
            return isRunning();
        // Release: the thread that sees the flag sees everything set up before it.
        m_running.store(true, std::memory_order_release);
        try {
            m_thread = std::thread([this, loop = std::move(loop)]() mutable {
                loop();
                m_running.store(false, std::memory_order_release);
            });
        } catch (const std::system_error&) {
            m_running.store(false, std::memory_order_release);
            return false;
        }
        return true;
    }

    void stop()
    {
        if (!m_thread.joinable())
            return;
        m_stopRequested.store(true, std::memory_order_release);
        m_stopEvent.signal();
        m_thread.join();
    }

    bool stopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }
    bool isRunning() const { return m_running.load(std::memory_order_acquire); }

    // Waits up to timeoutMs for the PCM or the stop event.
    Wake wait(int timeoutMs)
    {
        const int ready = poll(m_fds.data(), m_fds.size(), timeoutMs);
        if (ready < 0)
            return errno == EINTR ? Wake::Interrupted : Wake::Stop;
        if (m_fds.back().revents & POLLIN)
            return Wake::Stop;
        if (ready == 0)
            return Wake::Timeout;
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(m_pcm, m_fds.data(), static_cast<unsigned>(m_pcmFdCount), &revents);
        return Wake::Ready;
    }

    // Sleeps ms unless told to stop first; false when told to stop.
    bool pause(int ms)
    {
        poll(&m_fds.back(), 1, ms);
        return !(m_fds.back().revents & POLLIN);
    }

private:
    snd_pcm_t* m_pcm = nullptr;
    std::vector<pollfd> m_fds; // the PCM's descriptors, then the stop event
    int m_pcmFdCount = 0;
    EventFd m_stopEvent;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
