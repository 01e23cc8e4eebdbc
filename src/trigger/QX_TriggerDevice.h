#pragma once
// TQX_TriggerDevice: the common part of the audio and MIDI trigger devices.
// It counts strokes, keeps a flag for "a stroke since the last look", the
// peak input level, the last MIDI note, a ring of the last eight strokes
// (interval in device ticks and level) and the recording time, which starts
// at the first counted stroke.
//
// Threads: the capture thread (ALSA reader or MIDI reader) is the only writer
// of Count, Level (raising), LastNote, the history, HistoryIndex, GapCounter
// and StartTick once Start has run. The user-interface thread reads them and
// clears NewStroke (FetchNewStroke) and Level (ResetLevel). Start runs on the
// user-interface thread before capture begins; creating the capture thread
// orders everything Start wrote before the thread's first access.
//
// Memory order: each shared field is its own atomic of at most 32 bits. The
// capture thread writes a stroke's history slot first and then publishes it
// with release stores of Count and NewStroke; the user-interface thread reads
// those with acquire, so after FetchNewStroke returns true GetMeanInterval sees
// the slot of that stroke. Nothing else depends on the order between fields,
// so the remaining accesses are relaxed (plain loads and stores on x86).
//
// Time: TimeLimit and elapsed times in milliseconds (-1 = endless); the
// millisecond tick is tickCountMs() and differences are taken modulo 2^32.

#include "QX_Inputs.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

class TQX_TriggerDevice {
public:
    static constexpr std::int32_t EmptyInterval = 2147483647;
    static constexpr float NoInterval = 2147483648.0f;

    TQX_TriggerDevice();
    virtual ~TQX_TriggerDevice();
    TQX_TriggerDevice(const TQX_TriggerDevice&) = delete;
    TQX_TriggerDevice& operator=(const TQX_TriggerDevice&) = delete;

    virtual void Start(std::int32_t TimeLimit) = 0;
    virtual float GetMeanInterval() = 0;

    std::int32_t GetCount() const;
    float GetLevel() const;
    void ResetLevel();
    std::int32_t GetLastNote() const;
    bool FetchNewStroke();
    void ResetHistory();
    bool IsTimeOver() const;
    std::int32_t GetElapsedTime() const;
    void RecordStroke(std::int32_t Interval, float StrokeLevel);
    // Whether strokes can arrive at all; user-interface thread, cheap enough
    // for every tick. A device without a capture back-end is always Working.
    virtual CaptureHealth captureHealth() const { return CaptureHealth::Working; }

protected:
    // Raises Level to v unless it already is higher; capture thread only.
    void RaiseLevel(float v);
    // Mean of the filled history intervals in seconds, NoInterval when none.
    float MeanIntervalSeconds(std::int32_t ticksPerSecond) const;

    std::atomic<std::int32_t> Count{0};
    std::atomic<float> Level{0.0f};
    std::atomic<std::int32_t> LastNote{-1};
    std::atomic<bool> NewStroke{true};
    std::array<std::atomic<float>, 8> StrokeLevels{};
    std::int32_t HistoryIndex = 0;
    std::int64_t GapCounter = 0;
    std::array<std::atomic<std::int32_t>, 8> StrokeIntervals{};
    std::atomic<std::int32_t> TimeLimit{0};
    std::atomic<std::uint32_t> StartTick{0};
};

// The one active trigger device, or none. Replaced and freed on the
// user-interface thread only.
extern std::unique_ptr<TQX_TriggerDevice> TriggerDevice;
