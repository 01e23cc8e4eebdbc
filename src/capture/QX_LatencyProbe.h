#pragma once
// One latency calibration on the sound hardware: the click's output plays
// the 16 calibration clicks (calibrationSegment) while a capture of the
// audio input records them, and calibrateLatency finds them in the
// recording. Both streams' clocks (QX_StreamClock) put each click's output
// sample on the capture's sample clock, so the offset found is what lies
// outside the two buffers: converters, cable or air, and what a sound server
// holds after the buffers.
//
// The probe opens the input itself: whoever holds that device (the
// measurement session) gives it up first, and takes it back after finish().
//
// Threads: user-interface thread; the capture thread writes only into the
// recording, made before it starts. start() returns at once; poll() on a
// timer says when the result is there. A probe measures once.

#include "analysis/LatencyCalibration.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Whether two PCMs run on one clock (one card, or both on the sound server).
bool onOneClock(const std::string& inputId, const std::string& outputId);

class QX_AudioFilterGraph;
class QX_ClickPlayer;

class QX_LatencyProbe {
public:
    QX_LatencyProbe();
    ~QX_LatencyProbe();
    QX_LatencyProbe(const QX_LatencyProbe&) = delete;
    QX_LatencyProbe& operator=(const QX_LatencyProbe&) = delete;

    // Opens and starts the input (with its input line at level, when one is
    // named) and the output; the reason in words when either fails.
    std::optional<std::string> start(const std::string& inputId, const std::string& line, float level,
                                     const std::string& outputId, float volume);
    // Empty while the clicks are still playing or ringing out; then the
    // calibration's result (not accepted, with its reason, when a stream
    // stopped or lost data). The streams are closed once it is there.
    std::optional<CalibrationResult> poll();
    // Closes both streams; the result of a poll before stays valid.
    void finish();

    // The clicks sounding so far, 0..16 (for a progress line).
    std::int32_t clicksPlayed() const;

private:
    struct Recorder {
        std::vector<std::int16_t> samples;
        std::atomic<std::int64_t> count{0};
        void onSamples(const void* data, std::int32_t byteCount);
    };

    CalibrationResult failed(const std::string& why);

    Recorder m_recorder;
    ClickSegment m_segment;
    std::unique_ptr<QX_AudioFilterGraph> m_capture;
    std::unique_ptr<QX_ClickPlayer> m_player;
    bool m_oneClock = true;
    std::int64_t m_waitUntilCaptured = -1; // set once the last click has been played
};
