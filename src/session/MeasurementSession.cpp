#include "session/MeasurementSession.h"

#include "session/QX_TriggerFactory.h"
#include "trigger/QX_Clock.h"
#include "trigger/QX_TriggerDevice.h"

#include <QDateTime>
#include <QMetaMethod>

#include <cstdlib>

namespace {
constexpr std::int64_t kAutoResetIdleMs = 5000;
// A device that failed or went away is tried again at this pace: a sound
// server that restarts comes back within seconds, and an attempt costs only
// a failed open.
constexpr std::uint32_t kDeviceRetryMs = 2000;
} // namespace

MeasurementSession::MeasurementSession(MeasurementDisplay& display, QObject* parent)
    : QObject(parent)
    , m_display(display)
    , m_run([] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

MeasurementSession::~MeasurementSession() = default;

void MeasurementSession::setClickSource(ClickSource source)
{
    // The run in progress keeps the click's last placement when it stops,
    // and a click started after its first stroke (a fresh count-in, other
    // settings) belongs to the next run: one run, one grid.
    placeRunClick();
    m_clickSource = std::move(source);
    if (m_run.inProgress())
        m_runTakesClick = false;
}

// Both clocks' lines (and offsets) settle over the first second and then
// sharpen as reports come in; placing the click again on each tick keeps
// the best estimate, the whole run's at its end, and costs a few atomic loads.
void MeasurementSession::placeRunClick()
{
    if (!m_clickSource || !m_runTakesClick || !TriggerDevice || !m_run.armed())
        return;
    const std::optional<ClickOnOutput> click = m_clickSource();
    const std::optional<double> deviceOffset = TriggerDevice->clockOffsetTicks();
    if (click && deviceOffset)
        m_run.setClick(placeClick(*click, StrokeClock{*deviceOffset, TriggerDevice->clockLine(),
                                                      TriggerDevice->ticksPerSecond()}));
}

void MeasurementSession::setDeviceDialogOpenQuery(std::function<bool()> isOpen)
{
    m_deviceDialogOpen = std::move(isOpen);
}

// Nobody following the run spares the tick a clock read.
void MeasurementSession::connectNotify(const QMetaMethod& signal)
{
    if (signal == QMetaMethod::fromSignal(&MeasurementSession::runProgress))
        m_progressFollowed = true;
}

void MeasurementSession::disconnectNotify(const QMetaMethod& signal)
{
    if (signal == QMetaMethod::fromSignal(&MeasurementSession::runProgress))
        m_progressFollowed = isSignalConnected(signal);
}

void MeasurementSession::SetDisplayState(TMeasureState NewState)
{
    if (NewState == State)
        return;
    State = NewState;
    emit stateChanged(NewState);
}

void MeasurementSession::RecreateTriggerDevice(std::int32_t TimeLimit)
{
    TriggerDevice.reset();
    TriggerDevice = CreateTriggerDevice(DeviceProperties);
    if (TriggerDevice)
        TriggerDevice->Start(TimeLimit);
    m_deviceBuiltMs = tickCountMs();
}

void MeasurementSession::previewDevice(const TQX_DeviceProperties& properties)
{
    // What was played so far ends here; strokes that test the meter belong
    // to no run.
    endRunCutShort();
    m_run.disarm();
    // The old device goes first: it may hold the very device or port that the
    // new one is about to open.
    TriggerDevice.reset();
    TriggerDevice = CreateTriggerDevice(properties);
    if (TriggerDevice)
        TriggerDevice->Start(kTimeLimitEndless);
}

void MeasurementSession::close()
{
    endRunCutShort();
    TriggerDevice.reset();
}

// While the session waits for the first stroke and its device cannot deliver
// (not opened, or its server or device went away), the device is built anew
// every kDeviceRetryMs, and one line says why nothing is counted. A device
// that delivers is never touched. A device that stops delivering during a
// run ends the run as lost, without a score, and the retry takes over.
void MeasurementSession::watchTriggerDevice()
{
    QString hint;
    const bool dialogOpen = m_deviceDialogOpen && m_deviceDialogOpen();
    const std::int32_t type = DeviceProperties.TriggerDeviceType;
    auto delivering = [] { return TriggerDevice && TriggerDevice->captureHealth() == CaptureHealth::Working; };
    if (State == msRunning && m_run.inProgress() && !dialogOpen && TriggerDevice && !delivering() &&
        !TriggerDevice->IsTimeOver())
        endRunDeviceLost();
    if (m_deviceLost && TriggerDevice && TriggerDevice->GetCount() > 0)
        m_deviceLost = false; // the next run has begun
    // An endless measurement nobody has played yet waits like a timed one.
    const bool waiting = State == msReady || (State == msRunning && ProgramSettings.TimeLimit < 0 && !m_run.inProgress());
    if (waiting && !dialogOpen) {
        const bool chosen = (type == kTriggerDeviceAudio && !DeviceProperties.AudioDevice.ID.empty()) ||
                            (type == kTriggerDeviceMidi && !DeviceProperties.MidiDevice.ID.empty());
        if (chosen && !delivering() &&
            static_cast<std::uint32_t>(tickCountMs() - m_deviceBuiltMs) >= kDeviceRetryMs) {
            RecreateTriggerDevice(ProgramSettings.TimeLimit);
            armRun();
        }
        if (m_deviceLost)
            hint = type == kTriggerDeviceAudio
                       ? QStringLiteral("Audio device stopped during the run: no score kept, retrying")
                       : QStringLiteral("MIDI device stopped during the run: no score kept, retrying");
        else if (!delivering())
            hint = !chosen    ? QStringLiteral("No trigger device: Options > Select Trigger Device")
                   : type == kTriggerDeviceAudio ? QStringLiteral("Audio device unavailable, retrying")
                               : QStringLiteral("MIDI device unavailable, retrying");
    }
    if (hint == m_hint)
        return;
    m_hint = hint;
    emit hintChanged(m_hint);
}

void MeasurementSession::reset()
{
    SetDisplayState(msUndefined);
    SetDisplayState(msReady);
    m_deviceLost = false;
    endRunCutShort();
    RecreateTriggerDevice(ProgramSettings.TimeLimit);
    armRun();
}

void MeasurementSession::tick()
{
    watchTriggerDevice();
    if (!TriggerDevice)
        return;
    const std::int32_t timeLimit = ProgramSettings.TimeLimit;
    collectStrokeEvents();
    if (m_clickSource && m_run.inProgress())
        placeRunClick();

    std::int32_t elapsed = -1;
    if (State == msReady || State == msRunning) {
        elapsed = TriggerDevice->GetElapsedTime();
        m_display.showClock(elapsed / 1000);
    }

    if (elapsed == timeLimit) {
        if (State == msRunning && recordingComplete())
            EndMeasurement();
    } else if (State == msReady && (timeLimit < 0 || elapsed > 0)) {
        SetDisplayState(msRunning);
    }

    if (State == msFinished || State == msRecord) {
        if (TriggerDevice->FetchNewStroke())
            IdleTime = 0;
        IdleTime += kTickIntervalMs;
        if (ProgramSettings.AutoReset && IdleTime > kAutoResetIdleMs) {
            SetDisplayState(msReady);
            RecreateTriggerDevice(ProgramSettings.TimeLimit);
            armRun();
            IdleTime = 0;
        }
    } else {
        RefreshValue();
    }
}

// The clock says the recording time is over, but the device judges its last
// strokes on its own clock and may still need the capture's last blocks: the
// end waits for it, at most the device's endWaitMs, tick by tick.
bool MeasurementSession::recordingComplete()
{
    if (TriggerDevice->IsTimeOver())
        return true;
    const std::uint32_t now = tickCountMs();
    if (!m_endWaitStarted) {
        m_endWaitStarted = true;
        m_endWaitSinceMs = now;
    }
    return static_cast<std::int64_t>(static_cast<std::uint32_t>(now - m_endWaitSinceMs)) >=
           TriggerDevice->endWaitMs();
}

void MeasurementSession::EndMeasurement()
{
    // Every stroke of the run is in: the score, the figure, the journal's
    // count and its strokes are the same number.
    if (!TriggerDevice->IsTimeOver())
        TriggerDevice->finishInput();
    collectStrokeEvents();
    // The finished state stops a click that started with the measurement.
    placeRunClick();
    LastCount = TriggerDevice->GetCount();
    if (ProgramSettings.DisplayMode == kDisplayModeCount)
        m_display.showValue(LastCount, 0.0f, true);
    const std::int32_t seconds = ProgramSettings.TimeLimit / 1000;
    // The best is taken before the new score joins the table: a count equal to
    // it is no record.
    const std::int32_t best = GetBestScore(seconds);
    AddScore(TQX_Score{LastCount, seconds, nowAsDate()});
    emit scoreAdded();
    SetDisplayState(best < LastCount ? msRecord : msFinished);
    reportRun(m_run.finish(LastCount, State == msRecord));
    // The fresh device keeps reporting strokes, which holds off the auto reset
    // while the drummer keeps playing; its count is never shown.
    RecreateTriggerDevice(kTimeLimitEndless);
    IdleTime = 0;
}

void MeasurementSession::endRunDeviceLost()
{
    // The capture thread has ended; a stroke whose onset waited for it is published now.
    TriggerDevice->finishInput();
    collectStrokeEvents();
    LastCount = TriggerDevice->GetCount();
    reportRun(m_run.deviceLost(LastCount));
    SetDisplayState(msReady);
    m_deviceLost = true;
    RecreateTriggerDevice(ProgramSettings.TimeLimit);
    armRun();
}

void MeasurementSession::armRun()
{
    if (!TriggerDevice) {
        m_run.disarm();
        return;
    }
    m_run.arm(ProgramSettings.TimeLimit, runDeviceFromSettings(DeviceProperties), TriggerDevice->ticksPerSecond());
    m_runTakesClick = true;
    m_endWaitStarted = false;
    m_lastProgressTick = tickCountMs();
}

void MeasurementSession::collectStrokeEvents()
{
    if (!TriggerDevice)
        return;
    // The device that listens after a finished run is drained too, so its
    // ring never fills; its strokes belong to no run.
    const std::size_t added = TriggerDevice->drainStrokeEvents([this](const StrokeEvent& e) { m_run.addStroke(e); });
    if (added == 0 || !m_run.armed())
        return;
    // Events are refused only while the ring is full, so a drain that found
    // none has no new losses to count.
    m_run.setDroppedEvents(TriggerDevice->droppedStrokeEvents());
    if (!m_progressFollowed)
        return;
    const std::uint32_t now = tickCountMs();
    if (now - m_lastProgressTick >= kRunProgressIntervalMs) {
        m_lastProgressTick = now;
        emit runProgress(m_run.current());
    }
}

void MeasurementSession::endRunCutShort()
{
    if (!m_run.armed())
        return;
    collectStrokeEvents();
    if (!m_run.armed())
        return;
    placeRunClick();
    // The device goes next; its last stroke's event must not go with it.
    if (TriggerDevice) {
        TriggerDevice->finishInput();
        collectStrokeEvents();
    }
    reportRun(m_run.cutShort(TriggerDevice ? TriggerDevice->GetCount() : 0));
}

void MeasurementSession::reportRun(std::optional<RunRecord> run)
{
    if (run)
        emit runEnded(*run);
}

void MeasurementSession::RefreshValue()
{
    const std::int32_t mode = ProgramSettings.DisplayMode;
    float strokeRate = 0.0f;
    if (mode == kDisplayModeBpm || mode == kDisplayModeFrequency) {
        const float sample = TriggerDevice->FetchNewStroke() ? TriggerDevice->GetMeanInterval() : 0.0f;
        IntervalRing[static_cast<std::size_t>(IntervalRingIndex)] = sample;
        IntervalRingIndex = (IntervalRingIndex + 1) % static_cast<std::int32_t>(IntervalRing.size());
        float sum = 0.0f;
        std::int32_t n = 0;
        for (const float slot : IntervalRing) {
            if (slot > 0.0f) {
                sum += slot;
                ++n;
            }
        }
        strokeRate = sum > 0.0f ? static_cast<float>(n) / sum : 0.0f;
    }
    LastCount = TriggerDevice->GetCount();
    const bool newStroke = mode == kDisplayModeCount && TriggerDevice->FetchNewStroke();
    m_display.showValue(LastCount, strokeRate, newStroke);
}

#include "moc_MeasurementSession.cpp"
