#pragma once
// TDeviceSelect: the window in which the user picks the trigger device,
// audio (a capture device, one of its input lines and the input level) or
// MIDI (a port, a channel and optionally one note). It edits a working copy
// of the device settings and applies every change at once to a fresh trigger
// device, the measurement session's preview, so the level meter shows what
// the chosen input receives. The session stays the device's only owner.
// "OK" makes the copy the program's settings, "Cancel" drops it; both then
// re-arm the main window through OnResetMeasurement.
//
// Created once at start-up, after the main window has loaded the settings;
// shown modeless and only hidden when closed. Its 100 ms meter timer runs
// for the dialog's whole life, shown or not.
//
// Threads: user-interface thread only. The capture threads write the level
// and last note that TimerVolumeTimer reads through the trigger device.
//
// Controls and handlers are public, like a form's published fields, so that
// the main window and the tests reach them by name.

#include "persistence/QX_Global.h"
#include "trigger/QX_Status.h"
#include "trigger/QX_Tuning.h"

#include <QDialog>

#include <cstdint>
#include <functional>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;
class QWidget;
class MeasurementSession;
class TQX_Barometer;

class TDeviceSelect : public QDialog {
    Q_OBJECT
public:
    // session: outlives the dialog; it builds the preview device.
    explicit TDeviceSelect(MeasurementSession& session, QWidget* parent = nullptr);
    ~TDeviceSelect() override;

    // Called after OK and Cancel so the main window rebuilds its device.
    std::function<void()> OnResetMeasurement;
    // Shows the help window (Help button, F1 in the audio device list).
    std::function<void()> OnShowHelp;

    // The lists the dialog offers. They default to the ALSA devices and the
    // MIDI ports of a short-lived port object; tests put fixed lists here.
    struct DeviceSource {
        std::function<HRESULT(QX_DeviceList&)> EnumAudioDevices;
        std::function<HRESULT(const std::string&, QX_DeviceList&)> EnumInputLines;
        std::function<void(QX_DeviceList&)> EnumMidiPorts;
    };
    static void SetDeviceSource(DeviceSource source); // empty members: the real lists

    // Shows the dialog without waiting, or brings it to the front.
    void showModeless();

    TQX_DeviceProperties Properties;
    QX_DeviceList AudioDevices;
    QX_DeviceList AudioChannels;
    QX_DeviceList MidiDevices;
    TQX_Barometer* Barometer = nullptr;
    float MeterLevel = 0.0f;
    std::int32_t LearnedNote = 0;

    QRadioButton* RBAudio = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* CBAudio = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* CBAudioChannel = nullptr;
    QLabel* LabelDetection = nullptr;
    QComboBox* CBDetection = nullptr; // Standard, Fast: the audio detector
    QRadioButton* RBMidi = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* CBMidi = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* cbMidiChannel = nullptr;
    QWidget* GroupPanel = nullptr;
    QLabel* Label6 = nullptr;
    QRadioButton* RBAll = nullptr;
    QRadioButton* rbSingle = nullptr;
    QLabel* labelNote = nullptr;
    QPushButton* btnSet = nullptr;
    QLabel* Label5 = nullptr;
    QFrame* PanelVolume = nullptr;
    QLabel* ImageMark = nullptr;
    QSlider* TBVolume = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnHelp = nullptr;
    QPushButton* btnCheck = nullptr; // "Check Trigger...", under the meter
    QTimer* TimerVolume = nullptr;

public slots:
    void FormActivate();
    void UpdateControls();
    void FillChannelLists();
    bool CreateTriggerDevice();

    void RBAudioClick();
    void RBMidiClick();
    void CBAudioSelect();
    void CBAudioChannelSelect();
    void CBDetectionSelect();
    void CBMidiSelect();
    void cbMidiChannelSelect();
    void TBVolumeChange();
    void RBAllClick();
    void rbSingleClick();
    void btnSetClick();
    void btnOKClick();
    void btnCancelClick();
    void btnHelpClick();
    void btnCheckClick();
    void TimerVolumeTimer();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void FormCreate();
    // Checks a radio button; its handler runs when it was not checked yet,
    // just as a click would run it.
    static void check(QRadioButton* button);

    MeasurementSession& m_session;

    // Whether this dialog is still the active window of the program: the
    // activation handler runs when it becomes active among the program's
    // windows, not each time the program as a whole regains the focus.
    bool m_activeInProgram = false;
};
