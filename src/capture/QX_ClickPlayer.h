#pragma once
// The program's one audio output: one ALSA PCM opened for playback (16-bit
// little-endian mono at 44,100 Hz, 23 ms periods) and a playback thread that
// renders the click into it period by period, with any signal (a
// competition's countdown, its end) mixed over it.
//
// The output stream's sample position is the click's clock: sample 0 is the
// first sample written, and a click scheduled at sample S is written at
// exactly that position of the stream. The thread reports every click it
// writes (its sample, grid point and kind) through a lock-free ring the user
// interface drains. An underrun breaks the link between stream positions and
// time; the thread recovers, counts it, and goes on.
//
// Threads: open, start, stop, schedule, clearClicks, takeClick and the
// destructor run on the user-interface thread. The playback thread never
// allocates, locks, logs or throws: the generator, its buffer and both rings
// are made before it starts; segments reach it through a ring. The
// destructor stops and joins it before anything it uses goes.

#include "analysis/ClickTrack.h"
#include "analysis/StreamDrift.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QX_ClickPlayer {
public:
    static constexpr std::int32_t kSampleRate = 44100;

    QX_ClickPlayer();
    ~QX_ClickPlayer();
    QX_ClickPlayer(const QX_ClickPlayer&) = delete;
    QX_ClickPlayer& operator=(const QX_ClickPlayer&) = delete;

    // Opens deviceId (an ALSA PCM name) for playback; false when it does not
    // exist or cannot play the format. Closes what was open before.
    bool open(const std::string& deviceId);
    // Starts the playback thread (the stream starts once its buffer is
    // full); false without an open device. Again on a started player: true.
    bool start();
    // Stops and joins the thread and closes the device.
    void stop();

    // Hands a segment to the playback thread; false when too many are
    // waiting. A segment whose start has passed sounds from the stream's
    // position on.
    bool schedule(const ClickSegment& segment);
    // Silences everything scheduled.
    bool clearClicks();
    // Plays samples (16-bit mono at kSampleRate) over the click from the next
    // period rendered, cutting off a signal still sounding; before start()
    // they are the stream's first samples, heard as soon as it starts. The
    // player keeps the samples until the thread is done with them. False
    // without an open device or when too many commands are waiting.
    bool playSignal(std::vector<std::int16_t> samples);
    // The next click the thread has written, oldest first; false when none.
    bool takeClick(RenderedClick& click);

    // Any thread.
    bool isPlaying() const;
    std::int64_t framesWritten() const;
    std::int32_t underruns() const;
    // Where the output stands against the monotonic clock (QX_StreamClock):
    // a click at output sample P is captured at P - this + the capture's
    // streamOffsetFrames(), plus the latency a calibration measures.
    std::optional<double> streamOffsetFrames() const;
    // The output's fitted position against the monotonic clock, for an input
    // on another device (inputFrameOf in StreamDrift.h).
    std::optional<StreamLine> streamLine() const;
    // Frames written ahead of what is heard (the device's buffer).
    std::int32_t bufferFrames() const;

    struct Playback;

private:
    std::unique_ptr<Playback> m_playback;
};
