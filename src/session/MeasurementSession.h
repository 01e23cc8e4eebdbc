#pragma once
// MeasurementSession: one measurement after another on the one trigger
// device. It arms a measurement, builds the device (again every 2 s while it
// does not deliver, saying why on a hint line), follows it on the 30 ms tick
// from ready through running to finished or record, enters the score, arms
// itself anew after 5 s without strokes when AutoReset asks for it, and keeps
// the run in progress for the journal and the report.
//
// It is the only writer of TriggerDevice, the process-wide reference that the
// device dialog's meter reads: the dialog asks for a preview device and hands
// its choice back with a reset. Its state, hint, scores and runs travel by
// signals, emitted synchronously from the call that changed them. The figure
// and the stopwatch, which change on every tick, go straight to a
// MeasurementDisplay: two signals per tick would cost the BPM view's tick a
// fifth of its time.
//
// Threads: user-interface thread only; the window's timer (or a test) drives
// tick(). Units: milliseconds; the rate in strokes per second.

#include "analysis/RunTiming.h"
#include "persistence/QX_Global.h"
#include "session/RunTracker.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

enum TMeasureState : std::uint8_t { msReady, msRunning, msFinished, msRecord, msUndefined };

// Where the tick's figures go (the main window).
class MeasurementDisplay {
public:
    // On every tick of a measurement that has not ended, and once more with
    // the final count (newStroke true) in the count view. strokesPerSecond is
    // the recent pace in the BPM and frequency views, else 0; newStroke says a
    // stroke came since the last tick.
    virtual void showValue(std::int32_t count, float strokesPerSecond, bool newStroke) = 0;
    // The stopwatch's seconds, on every tick while ready or running.
    virtual void showClock(std::int32_t seconds) = 0;

protected:
    ~MeasurementDisplay() = default;
};

class MeasurementSession : public QObject {
    Q_OBJECT

public:
    static constexpr std::int32_t kTickIntervalMs = 30;
    static constexpr std::uint32_t kRunProgressIntervalMs = 100;

    // display: outlives the session (the window that owns it).
    explicit MeasurementSession(MeasurementDisplay& display, QObject* parent = nullptr);
    ~MeasurementSession() override;

    // Says whether the device dialog shows its meter; while it does, the
    // session neither rebuilds the device nor ends a run as lost. Unset: never.
    void setDeviceDialogOpenQuery(std::function<bool()> isOpen);

    // Where the click plays, while it plays: set when the click starts and
    // cleared (an empty function) when it stops, before the click's player
    // goes. While one is set, each tick of a run in progress puts the click's
    // grid on the trigger's clock and keeps it with the run; without one the
    // tick does no click work at all. A click set after a run's first stroke
    // is the next run's.
    using ClickSource = std::function<std::optional<ClickOnOutput>()>;
    void setClickSource(ClickSource source);

    // Arms a new measurement with the settings' recording time: whatever run
    // was going is kept as cut short, and a fresh device listens.
    void reset();
    // The 30 ms tick.
    void tick();
    // The device dialog's meter: the run going ends as cut short, and a device
    // built from `properties` listens without a time limit; its strokes join
    // no run. The dialog's OK or Cancel ends the preview with reset().
    void previewDevice(const TQX_DeviceProperties& properties);
    // The program closes: a run going is kept as cut short, the device goes.
    void close();
    // The program ends without a close (the display went away): the run in
    // progress is kept as cut short, nothing else is done.
    void endRunAtExit() { endRunCutShort(); }
    // Sets the state as the window's start-up and reset sequence asks.
    void SetDisplayState(TMeasureState NewState);

    TMeasureState state() const { return State; }
    std::int64_t idleTimeMs() const { return IdleTime; }
    std::int32_t lastCount() const { return LastCount; }
    const RunTracker& runTracker() const { return m_run; }
    // Why nothing is counted (no device chosen, device unavailable, device
    // lost in the last run); empty while the device delivers.
    const QString& hint() const { return m_hint; }

signals:
    void stateChanged(TMeasureState state);
    void hintChanged(const QString& hint);
    // A finished measurement entered its score in Scores.
    void scoreAdded();
    // A run ended (finished, record, cut short, stopped or device lost) with at least one stroke.
    void runEnded(const RunRecord& run);
    // The run in progress, at most every kRunProgressIntervalMs while strokes
    // come in, and only while someone follows it.
    void runProgress(const RunRecord& run);

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    void RecreateTriggerDevice(std::int32_t TimeLimit);
    void EndMeasurement();
    bool recordingComplete();
    void endRunDeviceLost();
    void RefreshValue();
    // The run notebook: armed with each measurement, fed on each tick, ended
    // exactly once.
    void armRun();
    void collectStrokeEvents();
    void endRunCutShort();
    void reportRun(std::optional<RunRecord> run);
    void watchTriggerDevice();
    void placeRunClick();

    MeasurementDisplay& m_display;
    std::array<float, 33> IntervalRing{};
    std::int32_t IntervalRingIndex = 0;
    TMeasureState State = msFinished;
    std::int64_t IdleTime = 0;
    std::int32_t LastCount = 0;

    // Millisecond tick at which the session last built its trigger device;
    // a device that does not deliver is built again 2 s after that.
    std::uint32_t m_deviceBuiltMs = 0;
    RunTracker m_run;
    std::uint32_t m_lastProgressTick = 0;
    bool m_progressFollowed = false;
    // The clock reached the recording time at m_endWaitSinceMs and the
    // device had not yet closed its recording.
    bool m_endWaitStarted = false;
    std::uint32_t m_endWaitSinceMs = 0;
    // The last run ended because its device stopped delivering; said on the
    // hint line until the next run begins or the user resets.
    bool m_deviceLost = false;
    QString m_hint;
    std::function<bool()> m_deviceDialogOpen;
    ClickSource m_clickSource;
    // The armed run takes the click that plays (false once the click changed
    // after the run's first stroke).
    bool m_runTakesClick = true;
};
