#pragma once
// Shared pieces of the main window tests: a trigger device the test feeds by
// hand, a factory seam that hands it to the window, a fresh process state
// (globals zeroed, no store file, no score file) for each start, and the
// window on a fake clock.

#include "FakeClock.h"
#include "main/QX_Main.h"
#include "persistence/QX_Defaults.h"
#include "persistence/QX_Global.h"
#include "session/QX_TriggerFactory.h"
#include "trigger/QX_Clock.h"
#include "trigger/QX_TriggerDevice.h"

#include <QAction>
#include <QDir>
#include <QFile>

#include <cstring>
#include <memory>
#include <optional>

// Counts what the test records; intervals are in milliseconds (1000 ticks a second).
class ManualTriggerDevice : public TQX_TriggerDevice {
public:
    static constexpr std::int32_t kTicksPerSecond = 1000;

    void Start(std::int32_t limitMs) override
    {
        TimeLimit.store(limitMs);
        started = true;
    }
    float GetMeanInterval() override { return meanIntervalSeconds(kTicksPerSecond); }

    // One stroke at atMs on the device's millisecond ticks (by default the
    // millisecond tick now), unless that is past the recording time from the
    // first one (as the real devices judge).
    void Stroke(std::int32_t intervalMs = EmptyInterval, std::int64_t atMs = -1)
    {
        if (atMs < 0)
            atMs = tickCountMs();
        if (IsTimeOver())
            return;
        if (!withinRecordingTime(atMs)) {
            closeRecording();
            return;
        }
        RecordStroke(intervalMs, 0.5f);
        publishStroke(atMs, 0.5f);
    }
    // The device's own clock has passed the end of the recording time.
    void closeTime() { closeRecording(); }
    std::int32_t endWaitMs() const override { return waitMs; }
    std::int64_t ticksPerSecond() const override { return kTicksPerSecond; }
    std::int32_t limitMs() const { return TimeLimit.load(); }
    CaptureHealth captureHealth() const override { return health; }
    std::optional<double> clockOffsetTicks() const override { return clockOffset; }

    bool started = false;
    std::optional<double> clockOffset; // empty: the device has not reported its clock
    CaptureHealth health = CaptureHealth::Working;
    std::int32_t waitMs = 0; // 0: the window's own clock ends the run
};

// Installs the factory seam for its lifetime; `current` is the device the
// window holds right now (the latest one built).
class DeviceFactoryGuard {
public:
    DeviceFactoryGuard()
    {
        SetTriggerDeviceFactory([this](const TQX_DeviceProperties&) {
            auto device = std::make_unique<ManualTriggerDevice>();
            device->health = nextHealth;
            current = device.get();
            ++built;
            return std::unique_ptr<TQX_TriggerDevice>(std::move(device));
        });
    }
    ~DeviceFactoryGuard()
    {
        SetTriggerDeviceFactory(nullptr);
        TriggerDevice.reset();
    }
    DeviceFactoryGuard(const DeviceFactoryGuard&) = delete;
    DeviceFactoryGuard& operator=(const DeviceFactoryGuard&) = delete;

    ManualTriggerDevice* current = nullptr;
    int built = 0;
    CaptureHealth nextHealth = CaptureHealth::Working; // of every device built from now on
};

// What a new process starts with: zeroed globals. Files stay unless asked.
inline void resetGlobals()
{
    TriggerDevice.reset();
    std::memset(&ProgramSettings, 0, sizeof ProgramSettings);
    DeviceProperties = TQX_DeviceProperties{};
    std::memset(Scores.data(), 0, sizeof(TQX_Score) * Scores.size());
}

inline void removeStoredState()
{
    QFile::remove(settingsFilePath());
    QFile::remove(QStringLiteral("Tempovaro.qxs"));
}

// The window under test, the fake clock it reads and, where the test installs
// it, the factory seam. A test's cleanup() calls releaseForm().
class MainFormFixture {
protected:
    // A new process's window as main() builds it: fresh globals first.
    void newForm()
    {
        m_form.reset();
        resetGlobals();
        m_form = std::make_unique<TMainForm>(nullptr, true);
    }
    void releaseForm()
    {
        m_form.reset();
        m_devices.reset();
        m_clock.reset();
    }
    // n ticks of the window's 30 ms timer on the fake clock.
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            m_clock->advance(30);
            m_form->GUITimerTimer();
        }
    }
    ManualTriggerDevice* device() const { return m_devices->current; }
    QAction* action(const char* name) const { return m_form->findChild<QAction*>(QLatin1String(name)); }

    std::unique_ptr<DeviceFactoryGuard> m_devices;
    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<TMainForm> m_form;
};
