#pragma once
// AuditWriter: keeps an attempt's input losslessly, as mono 16-bit FLAC at
// 44,100 Hz, from a chosen sample (a second before the first stroke) to a
// chosen end (a second after the recording time).
//
// The capture thread only copies blocks into the writer's SampleTap; the
// writer's own thread drains the tap, holds the last few seconds while the
// start is not known yet, and encodes from the start on into memory (a
// minute is under 3 MB). finish() hands back the encoded file, which the
// caller saves atomically, and what was lost on the way: blocks the tap
// refused because this thread fell behind (they are filled with silence so
// every later sample keeps its time) and the capture's own overruns.
//
// Threads: the constructor, keepFrom, keepUntil, capturedThrough and finish
// run on the user-interface thread; the tap's write side on the capture
// thread; everything else on the writer thread, started by the constructor
// and joined by finish or the destructor. Positions are tap positions
// (samples since the first block written through the tap).

#include "trigger/SampleTap.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AuditRecording {
    std::vector<unsigned char> flac; // the encoded file; empty when nothing was kept
    std::int64_t firstSample = 0;    // tap position of the file's first sample
    std::int64_t frames = 0;
    std::uint64_t lostBlocks = 0;    // refused by the tap: filled with silence
    std::string error;               // the encoder's complaint, if any
};

// What a timed attempt keeps: from a second before its first stroke (or
// before "go", when that came first) to a second after its recording time.
struct AuditSpan {
    std::int64_t from = 0;
    std::int64_t until = 0;
};
inline AuditSpan auditSpan(std::int64_t startSample, std::int64_t firstStrokeSample, std::int32_t timeLimitMs)
{
    constexpr std::int64_t kMargin = 44100;
    const std::int64_t start = startSample < firstStrokeSample ? startSample : firstStrokeSample;
    return {start - kMargin, firstStrokeSample + static_cast<std::int64_t>(timeLimitMs) * 441 / 10 + kMargin};
}

class AuditWriter {
public:
    static constexpr std::int32_t kSampleRate = 44100;
    // Held while the start is unknown: the start is a second before a stroke
    // the window learns of some tens of milliseconds late.
    static constexpr std::int64_t kHoldSamples = 4 * kSampleRate;

    AuditWriter();
    ~AuditWriter();
    AuditWriter(const AuditWriter&) = delete;
    AuditWriter& operator=(const AuditWriter&) = delete;

    SampleTap& tap() { return *m_tap; }

    // The file starts at this tap position (or at the oldest sample still
    // held, if that is later); only the first call counts.
    void keepFrom(std::int64_t sample);
    // The file ends before this tap position.
    void keepUntil(std::int64_t sample);
    // Every sample before keepUntil's position has been written through the tap.
    bool capturedThrough() const;
    // Stops the writer thread after it has taken what the tap holds, and
    // returns the recording. Once only.
    AuditRecording finish();

private:
    struct Encoder;
    void run();
    void take(const SampleBlock& block);
    void put(const std::int16_t* samples, std::int64_t first, std::int64_t count);

    std::unique_ptr<SampleTap> m_tap;
    std::atomic<std::int64_t> m_from{-1};
    std::atomic<std::int64_t> m_until{-1};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_stop = false; // guarded by m_wakeMutex

    // Writer thread only.
    std::vector<SampleBlock> m_held; // ring of the newest blocks while the start is unknown
    std::size_t m_heldNext = 0;
    std::int64_t m_expected = 0;     // the position the next block should start at
    std::unique_ptr<Encoder> m_encoder;
    AuditRecording m_result;
    std::thread m_thread;
};
