#pragma once
// The click played into a sound server and recorded back from its loopback:
// every click is heard a constant number of samples after its scheduled
// position, and bit for bit. Shared by the tests of each sound server; the
// caller starts the server and names the ALSA device that reaches it.

#include "Takes.h"
#include "WaitUntil.h"
#include "analysis/LatencyCalibration.h"
#include "capture/QX_AlsaAudio.h"
#include "capture/QX_ClickPlayer.h"
#include "capture/QX_LatencyProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace loopback {

// Keeps the first kCapacity captured samples.
struct Recorder {
    static constexpr std::size_t kCapacity = 44100 * 20;
    std::vector<std::int16_t> samples = std::vector<std::int16_t>(kCapacity);
    std::atomic<std::int64_t> count{0};

    void onSamples(const void* data, std::int32_t byteCount)
    {
        const auto* s = static_cast<const std::int16_t*>(data);
        std::int64_t at = count.load(std::memory_order_relaxed);
        for (std::int32_t i = 0; i < byteCount / 2 && at < static_cast<std::int64_t>(kCapacity); ++i)
            samples[static_cast<std::size_t>(at++)] = s[i];
        count.store(at, std::memory_order_release);
    }
};

// Where each click begins in a recording: the first sample above a quarter
// of full scale after at least 10 ms below it.
inline std::vector<std::int64_t> onsets(const std::vector<std::int16_t>& samples, std::int64_t count)
{
    std::vector<std::int64_t> found;
    std::int64_t quiet = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        if (std::abs(samples[static_cast<std::size_t>(i)]) > 8192) {
            if (quiet >= 441)
                found.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

// Plays 16 clicks to device, the first leadSamples into the output stream,
// and records them from it; offset receives the constant distance in
// samples, capturedAtStart the capture's position when the player started.
//
// A sound server that works in quanta of its graph (PipeWire) may, under
// load, drop or repeat a whole quantum of one stream without telling either
// ALSA stream: every later click then lands a quantum away. With
// quantumFrames set, an offset that differs from the first by whole quanta
// passes and is counted in quantumJumps; every click still lands to the
// sample within its stretch and bit for bit.
//
// A take in which a stream ran dry or lost input, or clicks went missing
// (the machine starved the server), says nothing about scheduling:
// disturbed is set and nothing is checked.
inline void playClicksOnce(const std::string& device, std::int64_t& offset, std::int64_t& capturedAtStart,
                           std::int64_t leadSamples, std::int64_t quantumFrames, int* quantumJumps, bool& disturbed)
{
    Recorder recorder;
    QX_AudioFilterGraph capture;
    ASSERT_EQ(capture.BuildGraph(device, QX_SampleHandler::Bind<Recorder, &Recorder::onSamples>(&recorder)), S_OK);
    ASSERT_EQ(capture.SetInputLine("Capture", 1.0f), S_OK);
    ASSERT_EQ(capture.Run(), S_OK);

    QX_ClickPlayer player;
    ASSERT_TRUE(player.open(device));
    ClickSegment seg;
    seg.pattern.tempoBpm = 240.0;
    seg.pattern.countIn = false;
    seg.pattern.volume = 1.0f;
    seg.startSample = leadSamples;
    seg.bars = 4; // 16 clicks, 11025 samples apart
    ASSERT_TRUE(player.schedule(seg));
    // Let the capture run for a while first, so the two streams' positions differ.
    ASSERT_TRUE(waitUntil([&] { return recorder.count.load(std::memory_order_acquire) >= 10 * 1764; }));
    capturedAtStart = recorder.count.load(std::memory_order_acquire);
    ASSERT_TRUE(player.start());

    std::vector<std::int64_t> scheduled;
    ASSERT_TRUE(waitUntil([&] {
        RenderedClick c;
        while (player.takeClick(c))
            scheduled.push_back(c.sample);
        return scheduled.size() == 16 && player.framesWritten() > scheduled.back() + 44100;
    }, 20000));
    const std::int64_t until = recorder.count.load() + 44100;
    ASSERT_TRUE(waitUntil([&] { return recorder.count.load(std::memory_order_acquire) >= until; }, 20000));
    const auto heard = onsets(recorder.samples, recorder.count.load(std::memory_order_acquire));
    disturbed = player.underruns() > 0 || capture.overrunCount() > 0 || heard.size() != scheduled.size();
    if (disturbed)
        return;

    // Each click is heard the same number of samples after its scheduled
    // position, to the sample, and bit for bit: both streams run on the
    // sink's one clock, and the sink passes 16-bit mono at 44.1 kHz and full
    // volume through unchanged. The constant is where the output stream
    // began in the capture; the null sink adds no latency, so it is the
    // capture's position when the player started (on a sound card it also
    // holds the converters' and the room's delay, which calibration measures).
    offset = heard[0] - scheduled[0];
    const ClickGenerator reference;
    const auto& accent = reference.waveform(ClickKind::Accent);
    for (std::size_t k = 0; k < heard.size(); ++k) {
        const std::int64_t off = heard[k] - scheduled[k];
        if (quantumFrames > 0 && off != offset && (off - offset) % quantumFrames == 0) {
            if (quantumJumps && k > 0 && off != heard[k - 1] - scheduled[k - 1])
                ++*quantumJumps;
        } else {
            EXPECT_EQ(off, offset) << "click " << k;
        }
        const auto kind = k % 4 == 0 ? ClickKind::Accent : ClickKind::Beat;
        for (std::size_t i = 0; i < accent.size(); ++i)
            ASSERT_EQ(recorder.samples[static_cast<std::size_t>(heard[k]) + i],
                      std::lround(reference.waveform(kind)[i] * 32767.0f))
                << "click " << k << " sample " << i;
    }
}

// Takes disturbed by the machine are played again; the checks hold on the
// first undisturbed take, and three disturbed takes in a row fail.
inline void checkClicksArriveAsScheduled(const std::string& device, std::int64_t& offset, std::int64_t& capturedAtStart,
                                         std::int64_t leadSamples = 22050, std::int64_t quantumFrames = 0,
                                         int* quantumJumps = nullptr)
{
    const bool heard = takes([&] {
        if (quantumJumps)
            *quantumJumps = 0;
        bool disturbed = true;
        playClicksOnce(device, offset, capturedAtStart, leadSamples, quantumFrames, quantumJumps, disturbed);
        return ::testing::Test::HasFatalFailure() || !disturbed;
    });
    EXPECT_TRUE(heard) << "three takes in a row were disturbed";
}

// One latency calibration through device, as the click window makes it:
// the capture and the click started afresh by QX_LatencyProbe. A take that
// did not hear every click (a stream lost samples, or the server dropped
// one) is played again.
inline CalibrationResult calibrateOnce(const std::string& device)
{
    CalibrationResult last;
    takes([&] {
        QX_LatencyProbe probe;
        if (probe.start(device, "Capture", 1.0f, device, 0.8f)) {
            last = {};
            return true;
        }
        std::optional<CalibrationResult> result;
        waitUntil([&] { return (result = probe.poll()).has_value(); }, 30000);
        last = result.value_or(CalibrationResult{});
        return last.heard == kCalibrationClicks;
    });
    return last;
}

} // namespace loopback
