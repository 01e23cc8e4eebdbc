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
// GetElapsedTime runs on that tick, for the stopwatch. Which strokes fall
// inside the recording time is judged on the device's own clock instead
// (samples, MIDI stamps): a stroke counts when its own time is at most
// TimeLimit after the first stroke's, however late the capture delivers it.
// Once every stroke that could still fall inside has been judged, the
// device closes its recording (IsTimeOver) and counts nothing more.
//
// Stroke events: besides the count, every counted stroke is published as a
// StrokeEvent (its time in the device's own ticks, its level, its note) into
// a ring that the capture thread fills and the user-interface thread drains
// on its timer. The ring holds about three minutes of strokes at 20 per
// second; when the reader falls that far behind the newest events are
// refused and counted as dropped, while Count goes on counting.

#include "trigger/SampleTap.h"
#include "trigger/SpscRing.h"
#include "trigger/StrokeEvent.h"

#include "trigger/QX_Inputs.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    // True once the recording time is over on the device's own clock and
    // every stroke inside it is counted and published; any thread.
    bool IsTimeOver() const;
    std::int32_t GetElapsedTime() const;
    void RecordStroke(std::int32_t Interval, float StrokeLevel);
    // How long the window may wait, after GetElapsedTime has reached the
    // limit, for IsTimeOver: the capture's delivery delay plus the time the
    // detector looks ahead. 0 for a device judged on the window's own tick.
    virtual std::int32_t endWaitMs() const { return 0; }
    // User-interface thread, when a run ends early or the capture has gone:
    // stops the capture (joining its thread) and publishes a counted stroke
    // whose event still waits for input that will not come.
    virtual void finishInput() {}
    // Whether strokes can arrive at all; user-interface thread, cheap enough
    // for every tick. A device without a capture back-end is always Working.
    virtual CaptureHealth captureHealth() const { return CaptureHealth::Working; }
    // Audio devices: copies every captured block into tap; user-interface
    // thread. nullptr detaches and returns once the capture has left the old
    // tap, which may then be freed. False for devices without samples.
    virtual bool attachSampleTap(SampleTap* /*tap*/) { return false; }
    // Input the capture lost since the device opened (overruns); user-interface thread.
    virtual std::uint32_t captureDropouts() const { return 0; }
    // Where the stroke ticks stand against the monotonic clock: ticks minus
    // monotonic seconds times ticksPerSecond(), so a click played on another
    // stream can be put on the strokes' own clock. Empty until the capture
    // (or the MIDI port) has reported its position; any thread, one atomic load.
    virtual std::optional<double> clockOffsetTicks() const { return std::nullopt; }
    // The same clock's fitted line (ticks against monotonic seconds, at its
    // measured rate), so a click on another device's clock stays on the
    // strokes' clock however far the two drift apart. Any thread.
    virtual std::optional<StreamLine> clockLine() const { return std::nullopt; }
    // Audio devices: the capture's input line and its level (0..1); true
    // when the back-end accepted them. False for devices without a line.
    virtual bool SetInputLine(const std::string& /*LineName*/, float /*InputLevel*/) { return false; }

    static constexpr std::size_t kStrokeEventCapacity = 4096;
    // Ticks per second of StrokeEvent::tick: samples for the audio devices,
    // 100 ns units for MIDI. Any thread; constant for the device's life.
    virtual std::int64_t ticksPerSecond() const { return kAudioTicksPerSecond; }
    // User-interface thread only: hands each waiting event to f in stroke
    // order and returns how many there were.
    template <class F>
    std::size_t drainStrokeEvents(F&& f)
    {
        return m_strokeEvents.drain(std::forward<F>(f));
    }
    // User-interface thread only: appends the waiting events to out.
    std::size_t drainStrokeEvents(std::vector<StrokeEvent>& out);
    // Any thread: counted strokes since Start whose event the ring refused.
    std::uint64_t droppedStrokeEvents() const;
    // A number no other device of this process has had: tells a device apart
    // from its successor even when the successor reuses its memory.
    std::uint64_t serial() const { return m_serial; }
    // A recent stroke's interval (device ticks: samples for audio, 100 ns
    // for MIDI) and level: back = 0 is the most recent, up to 7 before it.
    // For a caller that reports strokes one by one; read it on the thread
    // that feeds the device, right after the call in which GetCount() went up.
    struct StrokeRecord {
        std::int32_t intervalTicks = EmptyInterval;
        float level = 0.0f;
    };
    StrokeRecord lastStroke(std::int32_t back = 0) const;
    // The last tick inside a recording time of timeLimitMs (>= 0) that began
    // with a stroke at firstTick; the rule every count of a timed run keeps.
    static std::int64_t lastTickInside(std::int64_t firstTick, std::int32_t timeLimitMs, std::int64_t ticksPerSecond)
    {
        return firstTick + (static_cast<std::int64_t>(timeLimitMs) - 1) * ticksPerSecond / 1000 - 1;
    }

protected:
    // Capture thread, right after RecordStroke: publishes the stroke's event.
    // Never blocks or allocates; a full ring only counts the event as dropped.
    void publishStroke(std::int64_t tick, float level, std::int32_t note = -1);
    // User-interface thread, from Start: forgets the events of the previous
    // run that nobody drained and starts the dropped count afresh, and opens
    // the recording time again (no first stroke yet).
    void clearStrokeEvents();

    // Capture thread: whether a stroke whose own time is tick (device ticks)
    // falls inside the recording time: less than TimeLimit less 1 ms after
    // the first stroke's. True while no stroke has been published: the first
    // one starts the time.
    bool withinRecordingTime(std::int64_t tick) const { return !m_hasEnd || tick <= m_endTick; }
    // Capture thread: every stroke whose time is at most tick has been judged.
    // Closes the recording once that reaches its end; true when it is closed.
    bool settledThrough(std::int64_t tick)
    {
        if (m_hasEnd && tick >= m_endTick)
            closeRecording();
        return m_closed;
    }
    // Capture thread: nothing more is counted in this run.
    void closeRecording();
    // Capture thread: publishes a stroke whose onset was located after its
    // decision. One counted at the decision (its latest onset already inside
    // the recording time) is published; any other is judged on its onset
    // first, counted, or closes the recording.
    void publishLocatedStroke(std::int64_t onset, bool counted, std::int32_t interval, float level)
    {
        if (!counted) {
            if (!withinRecordingTime(onset)) {
                closeRecording();
                return;
            }
            RecordStroke(interval, level);
        }
        publishStroke(onset, level);
    }

    // Raises Level to v unless it already is higher; capture thread only.
    void raiseLevel(float v);
    // Mean of the filled history intervals in seconds, NoInterval when none.
    float meanIntervalSeconds(std::int32_t ticksPerSecond) const;

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

private:
    SpscRing<StrokeEvent, kStrokeEventCapacity> m_strokeEvents;
    // The ring's dropped count when the run started; the ring's own count
    // never goes back, so the run's losses are the difference.
    std::atomic<std::uint64_t> m_droppedAtStart{0};
    const std::uint64_t m_serial;
    // The last tick inside the recording time, once the first stroke is
    // published (never when endless): the time runs from the first stroke's
    // tick for TimeLimit, that tick included and the end's last millisecond
    // excluded, so an even roll at 12 strokes a second counts 120 in 10 s.
    // Capture thread only once Start has run.
    bool m_hasEnd = false;
    std::int64_t m_endTick = 0;
    bool m_closed = false;
    // m_closed for other threads: stored with release after the last event
    // is pushed, so a reader that sees it drains every stroke of the run.
    std::atomic<bool> m_closedShared{false};
};

// The one active trigger device, or none. Replaced and freed on the
// user-interface thread only.
extern std::unique_ptr<TQX_TriggerDevice> TriggerDevice;
