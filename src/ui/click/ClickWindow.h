#pragma once
// ClickWindow: the click's small modeless window. It edits ClickSettings
// (tempo, grid, accent, count-in, silent bars, volume, output device, and
// whether the click starts with each measurement), starts and stops the
// click by hand, and starts it, count-in first, when the main window arms a
// measurement while "Start with each measurement" is on.
//
// Threads: user-interface thread only. The click itself plays on the
// player's own thread; this window owns the player and polls its stream
// position on a 30 ms timer that runs only while the click plays, so the
// program's idle cost is unchanged while no click is on.
//
// Calibrate... measures the output-to-input offset with QX_LatencyProbe on
// the audio trigger's input and the click's output, and stores it as
// ClickSettings.LatencyUs when its spread is within 1 ms. The probe opens
// the input itself: the input handover set by the program frees the
// measurement's device first and gives it back afterwards.
//
// With a MIDI trigger, Calibrate... plays the same 16 clicks for the drummer
// to tap along to on the pad, on a trigger device of its own (made by the
// program's tap device maker, after the same handover), and stores the taps'
// offset and spread (calibrateTaps) as ClickSettings.MidiLatencyUs and
// MidiSpreadUs.

#include "analysis/ClickTrack.h"
#include "analysis/RunTiming.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;
class QX_ClickPlayer;
class QX_LatencyProbe;
class TQX_TriggerDevice;

class ClickWindow : public QWidget {
    Q_OBJECT

public:
    explicit ClickWindow(QWidget* parent = nullptr);
    ~ClickWindow() override;

    // Shows the window with the stored settings and the current output devices.
    void showModeless();

    // The main window armed a measurement (true) or ended one (false).
    void measurementArmed(bool armed);
    // Stops the click if it plays (the speed builder plays its own).
    void stopPlaying();

    bool isPlaying() const;
    // The segment the click plays (or would play) with the current settings.
    ClickSegment segment() const;
    QString statusText() const;
    // The click as it plays, for timing a run against it: empty while it
    // does not play or its output has not yet reported its position.
    std::optional<ClickOnOutput> clickOnOutput() const;
    // Whether the trigger's strokes and a click played on outputId run on
    // one clock: an audio trigger on the same card or sound server (MIDI
    // stamps keep the computer's time, never a card's).
    static bool sharesTriggerClock(const std::string& outputId);

signals:
    // The click began (true) or is about to stop (false, while its player
    // can still be asked where it stands).
    void playingChanged(bool playing);

public:

    // For tests: the output device's PCM name in place of the stored one.
    void setOutputOverride(const QString& pcmName);

    // release frees the audio input before a calibration; restore takes it
    // back when the calibration ends. Unset: nobody holds it.
    void setInputHandover(std::function<void()> release, std::function<void()> restore);
    // Makes the MIDI trigger a tap-along calibration listens to (not
    // started), after the handover freed it. Unset: MIDI cannot calibrate.
    using TapDeviceMaker = std::function<std::unique_ptr<TQX_TriggerDevice>()>;
    void setTapDeviceMaker(TapDeviceMaker make);
    // Starts a calibration, or cancels the one running.
    void calibrate();
    bool isCalibrating() const;
    QString calibrationText() const;

private:
    void fillFromSettings();
    void storeSettings();
    void settingsEdited();
    void startClick();
    void stopClick();
    void toggleClick();
    void showPosition();
    void setStatus(const QString& text);
    std::string outputDevice() const;
    void pollCalibration();
    void endCalibration(const QString& text);
    void startTaps();
    void pollTaps();
    // What the calibration line says while nothing is measured.
    QString storedCalibrationText() const;

    QSpinBox* m_tempo = nullptr;
    QComboBox* m_grid = nullptr;
    QCheckBox* m_accent = nullptr;
    QCheckBox* m_countIn = nullptr;
    QSpinBox* m_barsOn = nullptr;
    QSpinBox* m_barsOff = nullptr;
    QSlider* m_volume = nullptr;
    QComboBox* m_output = nullptr;
    QCheckBox* m_withMeasurement = nullptr;
    QPushButton* m_startStop = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_calibrate = nullptr;
    QLabel* m_calibration = nullptr;
    QTimer* m_calibrationPoll = nullptr;
    std::unique_ptr<QX_LatencyProbe> m_probe;
    TapDeviceMaker m_makeTapDevice;
    std::unique_ptr<TQX_TriggerDevice> m_tapDevice;
    std::unique_ptr<QX_ClickPlayer> m_tapPlayer;
    ClickSegment m_tapSegment;
    std::vector<StrokeEvent> m_taps;
    std::function<void()> m_releaseInput;
    std::function<void()> m_restoreInput;
    QTimer* m_poll = nullptr;
    std::unique_ptr<QX_ClickPlayer> m_player;
    ClickSegment m_playing;
    QString m_outputOverride;
    bool m_filling = false;
};
