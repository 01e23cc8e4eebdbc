// The device dialog on fixed device lists and trigger devices without
// hardware: what activation selects, the enable rules, the handlers that
// checking a radio button or moving the bar runs, the meter's mapping, peak
// hold and decay, the single-note display, and OK, Cancel and closing.
// The meter timer is driven by calling TimerVolumeTimer; its own QTimer is
// stopped so nothing ticks behind the test's back.

#include "PreviewSession.h"
#include "QtTestPrograms.h"
#include "persistence/QX_Global.h"
#include "session/QX_TriggerFactory.h"
#include "test_device_select_support.h"
#include "trigger/AudioDetectorBase.h"
#include "trigger/QX_Inputs.h"
#include "trigger/QX_MidiTriggerDevice.h"
#include "trigger/QX_TriggerDevice.h"
#include "ui/common/QX_Barometer.h"
#include "ui/device/QX_DeviceSelect.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

struct LineCall {
    std::string line;
    float level;
};

// What the dialog asked of the trigger devices it had built.
struct DeviceLog {
    std::vector<TQX_DeviceProperties> built;
    std::vector<std::int32_t> startedWith;
    std::vector<LineCall> lineCalls;
};
DeviceLog g_log;

class RecordingGraph : public TQX_AudioInput {
public:
    HRESULT BuildGraph(const std::string&, QX_SampleHandler) override { return S_OK; }
    HRESULT Run() override { return S_OK; }
    HRESULT SetInputLine(const std::string& LineName, float Level) override
    {
        g_log.lineCalls.push_back({LineName, Level});
        return S_OK;
    }
};

// An audio device whose level the test sets; the graph never delivers, so
// it analyses nothing.
class TestAudioDevice : public AudioDetectorBase {
public:
    explicit TestAudioDevice(const std::string& id) : AudioDetectorBase(id, std::make_unique<RecordingGraph>()) {}
    void Start(std::int32_t TimeLimit) override
    {
        g_log.startedWith.push_back(TimeLimit);
        AudioDetectorBase::Start(TimeLimit);
    }
    void setLevel(float v) { Level.store(v); }

private:
    void resetAnalysis() override {}
    std::int32_t analyzeBlock(const unsigned char*, std::int32_t n) override { return n; }
};

class TestMidiDevice : public TQX_MidiTriggerDevice {
public:
    TestMidiDevice() : TQX_MidiTriggerDevice("", nullptr, &DeviceProperties.MidiNoteNr) {}
    void Start(std::int32_t TimeLimit) override
    {
        g_log.startedWith.push_back(TimeLimit);
        TQX_MidiTriggerDevice::Start(TimeLimit);
    }
};

std::unique_ptr<TQX_TriggerDevice> buildTestDevice(const TQX_DeviceProperties& p)
{
    g_log.built.push_back(p);
    if (p.TriggerDeviceType == 1) {
        auto device = std::make_unique<TestAudioDevice>(p.AudioDevice.ID);
        device->SetInputLine(p.AudioChannel.ID, p.AudioChannel.Level);
        return device;
    }
    if (p.TriggerDeviceType == 2)
        return std::make_unique<TestMidiDevice>();
    return nullptr;
}

QX_DeviceList g_audioDevices;
QX_DeviceList g_lines;
QX_DeviceList g_ports;
int g_audioListings = 0;

TestAudioDevice* audioDevice()
{
    return dynamic_cast<TestAudioDevice*>(TriggerDevice.get());
}

TestMidiDevice* midiDevice()
{
    return dynamic_cast<TestMidiDevice*>(TriggerDevice.get());
}

} // namespace

class TestDeviceSelect : public QObject {
    Q_OBJECT

    PreviewSession m_preview;

    std::unique_ptr<TDeviceSelect> makeDialog()
    {
        auto dialog = std::make_unique<TDeviceSelect>(m_preview.session);
        dialog->TimerVolume->stop();
        return dialog;
    }
    // Shown and activated, as the main window opens it.
    std::unique_ptr<TDeviceSelect> shownDialog()
    {
        auto dialog = makeDialog();
        dialog->show();
        dialog->FormActivate();
        return dialog;
    }

private slots:
    void init()
    {
        g_log = {};
        g_audioListings = 0;
        g_audioDevices = {{"Default device", "default", 0.0f},
                          {"PulseAudio", "pulse", 0.0f},
                          {"Pulse (upper case)", "Pulse", 0.0f}};
        g_lines = {{"Mic", "Mic", 0.4f}, {"Capture", "Capture", 0.7f}, {"No level", "No level", -1.0f}};
        g_ports = {{"Pad A", "{00000000-0000-0000-0000-00000000000A}", 0.0f},
                   {"Pad B", "{00000000-0000-0000-0000-00000000000B}", 0.0f}};
        TDeviceSelect::SetDeviceSource({
            [](QX_DeviceList& list) {
                ++g_audioListings;
                if (g_audioDevices.empty())
                    return E_FAIL; // like the real lists: nothing found, list untouched
                list = g_audioDevices;
                return S_OK;
            },
            [](const std::string& id, QX_DeviceList& list) {
                list.clear();
                for (const auto& d : g_audioDevices)
                    if (d.ID == id) {
                        list = g_lines;
                        return S_OK;
                    }
                return E_FAIL;
            },
            [](QX_DeviceList& list) {
                if (!g_ports.empty())
                    list = g_ports;
            },
        });
        SetTriggerDeviceFactory(&buildTestDevice);
        TriggerDevice.reset();
        DeviceProperties = TQX_DeviceProperties();
        DeviceProperties.TriggerDeviceType = 1;
        DeviceProperties.AudioDevice.ID = "pulse";
        DeviceProperties.AudioChannel = {"Capture", "Capture", 0.25f};
        DeviceProperties.MidiDevice.ID = "{00000000-0000-0000-0000-00000000000B}";
        DeviceProperties.MidiChannel.ID = "10";
        DeviceProperties.MidiNoteNr = -1;
    }

    void cleanup()
    {
        TriggerDevice.reset();
        SetTriggerDeviceFactory({});
        TDeviceSelect::SetDeviceSource({});
    }

    void activationSelectsStoredEntriesByExactId()
    {
        g_audioDevices.push_back({"PulseAudio again", "pulse", 0.0f}); // the last of two matches wins
        auto dialog = makeDialog();
        dialog->FormActivate();
        QCOMPARE(dialog->CBAudio->count(), 4);
        QCOMPARE(dialog->CBAudio->currentIndex(), 3);
        QCOMPARE(dialog->CBAudio->itemText(1), QStringLiteral("PulseAudio"));
        QCOMPARE(dialog->CBMidi->currentIndex(), 1);
        QCOMPARE(dialog->CBAudioChannel->currentIndex(), 1);
        QCOMPARE(dialog->CBAudioChannel->count(), 3);

        // Lists are rebuilt at the next activation; an ID that matches nothing
        // (compared case-sensitively) selects nothing.
        dialog->Properties.AudioDevice.ID = "PULSE";
        g_ports.push_back({"Pad C", "{00000000-0000-0000-0000-00000000000C}", 0.0f});
        dialog->FormActivate();
        QCOMPARE(dialog->CBAudio->currentIndex(), -1);
        QCOMPARE(dialog->CBMidi->count(), 3);
    }

    void firstActivationRunsTheRadioHandlerAndTheEnableRules()
    {
        auto dialog = makeDialog();
        QVERIFY(!dialog->RBAudio->isChecked() && !dialog->RBMidi->isChecked());
        dialog->FormActivate();
        // Checking RBAudio ran RBAudioClick, which built and started a device.
        QVERIFY(dialog->RBAudio->isChecked());
        QCOMPARE(g_log.built.size(), size_t(1));
        QCOMPARE(g_log.built[0].AudioDevice.ID, std::string("pulse"));
        QCOMPARE(g_log.startedWith, std::vector<std::int32_t>{-1});
        QVERIFY(audioDevice());
        QVERIFY(dialog->CBAudio->isEnabled() && dialog->TBVolume->isEnabled());
        QVERIFY(!dialog->CBMidi->isEnabled() && !dialog->cbMidiChannel->isEnabled());
        QVERIFY(!dialog->RBAll->isEnabled() && !dialog->btnSet->isEnabled());
        QVERIFY(!dialog->ImageMark->isHidden());
        QCOMPARE(dialog->TBVolume->value(), 750);

        QTest::mouseClick(dialog->RBMidi, Qt::LeftButton);
        QCOMPARE(dialog->Properties.TriggerDeviceType, 2);
        QCOMPARE(g_log.built.size(), size_t(2));
        QVERIFY(midiDevice());
        QVERIFY(!dialog->CBAudio->isEnabled() && !dialog->TBVolume->isEnabled());
        QVERIFY(dialog->CBMidi->isEnabled() && dialog->cbMidiChannel->isEnabled());
        QVERIFY(dialog->ImageMark->isHidden());
        QCOMPARE(dialog->TBVolume->value(), 750);
        QCOMPARE(dialog->cbMidiChannel->count(), 17);
        QCOMPARE(dialog->cbMidiChannel->currentIndex(), 10);
        QVERIFY(dialog->RBAll->isChecked());
        QVERIFY(!dialog->btnSet->isEnabled() && !dialog->labelNote->isEnabled());
        QCOMPARE(dialog->labelNote->text(), QStringLiteral("0"));

        // A click on the radio button that is already checked changes nothing.
        QTest::mouseClick(dialog->RBMidi, Qt::LeftButton);
        QCOMPARE(g_log.built.size(), size_t(2));
    }

    void midiChannelTextSelectsItsListEntry_data()
    {
        QTest::addColumn<QString>("channelID");
        QTest::addColumn<int>("selected");
        QTest::newRow("16") << "16" << 16;
        QTest::newRow("not a number") << "ten" << 0;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("out of range") << "17" << -1;
    }

    void midiChannelTextSelectsItsListEntry()
    {
        QFETCH(QString, channelID);
        QFETCH(int, selected);
        DeviceProperties.TriggerDeviceType = 2;
        DeviceProperties.MidiChannel.ID = channelID.toStdString();
        auto dialog = makeDialog();
        dialog->FormActivate();
        QCOMPARE(dialog->cbMidiChannel->currentIndex(), selected);
    }

    void selectionHandlersEditTheWorkingCopyAndRebuildTheDevice()
    {
        auto dialog = shownDialog();
        const size_t before = g_log.built.size();

        chooseListEntry(dialog->CBAudio, 0);
        QCOMPARE(dialog->Properties.AudioDevice.ID, std::string("default"));
        QCOMPARE(g_log.built.size(), before + 1);
        // The old line name stays and is applied to the new device.
        QCOMPARE(g_log.built.back().AudioChannel.ID, std::string("Capture"));
        QCOMPARE(dialog->CBAudioChannel->currentIndex(), 1);

        chooseListEntry(dialog->CBAudioChannel, 0);
        QCOMPARE(dialog->Properties.AudioChannel.ID, std::string("Mic"));
        QCOMPARE(dialog->Properties.AudioChannel.Level, 0.4f);
        QCOMPARE(g_log.lineCalls.back().line, std::string("Mic"));
        QCOMPARE(g_log.lineCalls.back().level, 0.4f);

        QTest::mouseClick(dialog->RBMidi, Qt::LeftButton);
        chooseListEntry(dialog->CBMidi, 0);
        QCOMPARE(dialog->Properties.MidiDevice.ID, std::string("{00000000-0000-0000-0000-00000000000A}"));
        chooseListEntry(dialog->cbMidiChannel, 0);
        QCOMPARE(dialog->Properties.MidiChannel.ID, std::string("0"));
        chooseListEntry(dialog->cbMidiChannel, 16);
        QCOMPARE(dialog->Properties.MidiChannel.ID, std::string("16"));
        QCOMPARE(g_log.built.back().MidiChannel.ID, std::string("16"));
        // The global settings are untouched until OK.
        QCOMPARE(DeviceProperties.MidiChannel.ID, std::string("10"));
    }

    void trackBarSetsTheLevelOnTheRunningDevice()
    {
        auto dialog = shownDialog();
        const size_t built = g_log.built.size();
        dialog->TBVolume->setFocus();
        QTest::keyClick(dialog->TBVolume, Qt::Key_Home);
        QCOMPARE(dialog->TBVolume->value(), 0);
        QCOMPARE(dialog->Properties.AudioChannel.Level, 1.0f);
        QTest::keyClick(dialog->TBVolume, Qt::Key_End);
        QCOMPARE(dialog->Properties.AudioChannel.Level, 0.0f);
        // Up moves the thumb up, towards a higher level.
        QTest::keyClick(dialog->TBVolume, Qt::Key_Up);
        QCOMPARE(dialog->TBVolume->value(), 999);
        QCOMPARE(dialog->Properties.AudioChannel.Level, 0.001f);
        QTest::keyClick(dialog->TBVolume, Qt::Key_PageUp);
        QCOMPARE(dialog->TBVolume->value(), 949);
        QCOMPARE(g_log.lineCalls.back().line, std::string("Capture"));
        QCOMPARE(g_log.lineCalls.back().level, static_cast<float>(1.0 - 949 / 1000.0));
        QCOMPARE(g_log.built.size(), built); // applied, not rebuilt
    }

    void trackBarFillRisesFromTheBottomWithTheLevel()
    {
        auto dialog = shownDialog();
        // Coloured groove pixels down the bar's middle, in its upper and lower half.
        const auto filled = [&](int position) {
            dialog->TBVolume->setValue(position);
            const QImage image = dialog->TBVolume->grab().toImage();
            int upper = 0, lower = 0;
            for (int y = 0; y < image.height(); ++y) {
                const QRgb c = image.pixel(image.width() / 2, y);
                if (qBlue(c) - qRed(c) > 50)
                    ++(y < image.height() / 2 ? upper : lower);
            }
            return std::pair{upper, lower};
        };
        const auto [quietUpper, quietLower] = filled(800); // level 0.2
        QCOMPARE(quietUpper, 0);
        QVERIFY(quietLower > 0);
        const auto [loudUpper, loudLower] = filled(200); // level 0.8
        QVERIFY(loudUpper > 0);
        QVERIFY(loudLower >= quietLower);
    }

    void volumeThumbIsDrawnAndGrabbedOver26Pixels()
    {
        auto dialog = shownDialog();
        QSlider* bar = dialog->TBVolume;
        const auto handleAt = [&](int position) {
            bar->setValue(position);
            QStyleOptionSlider opt;
            opt.initFrom(bar);
            opt.orientation = bar->orientation();
            opt.minimum = bar->minimum();
            opt.maximum = bar->maximum();
            opt.sliderPosition = opt.sliderValue = bar->value();
            opt.upsideDown = !bar->invertedAppearance(); // vertical bars count from the bottom
            opt.tickPosition = bar->tickPosition();
            opt.tickInterval = bar->tickInterval();
            return bar->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, bar);
        };
        QCOMPARE(bar->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, bar), 26);
        const QRect handle = handleAt(500);
        QCOMPARE(handle.height(), 26);

        // Drawn: down a column inside the thumb but beside the groove, the
        // rows that change when the thumb moves away are the thumb's.
        const QImage here = bar->grab().toImage();
        handleAt(0);
        const QImage away = bar->grab().toImage();
        const int x = handle.left() + 2;
        int top = -1, bottom = -1;
        for (int y = 0; y < here.height(); ++y) {
            if (here.pixel(x, y) != away.pixel(x, y) && y > bar->height() / 4) {
                if (top < 0)
                    top = y;
                bottom = y;
            }
        }
        QVERIFY2(std::abs(top - handle.top()) <= 1 && std::abs(bottom - handle.bottom()) <= 1,
                 qPrintable(QStringLiteral("drawn %1..%2, hit-tested %3..%4")
                                .arg(top).arg(bottom).arg(handle.top()).arg(handle.bottom())));

        // Both ends of the drawn thumb take hold of it.
        for (const int y : {handle.top() + 1, handle.bottom() - 1}) {
            handleAt(500);
            QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(handle.center().x(), y));
            QVERIFY(bar->isSliderDown());
            QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(handle.center().x(), y));
            QCOMPARE(bar->value(), 500);
        }
    }

    void lineWithoutLevelPutsTheBarAtTheBottom()
    {
        auto dialog = shownDialog();
        QCOMPARE(dialog->TBVolume->value(), 750);
        chooseListEntry(dialog->CBAudioChannel, 2);
        QCOMPARE(dialog->Properties.AudioChannel.Level, -1.0f);
        QCOMPARE(dialog->TBVolume->value(), 750); // the bar waits for UpdateControls
        dialog->UpdateControls();
        QCOMPARE(dialog->TBVolume->value(), 1000);
        QCOMPARE(dialog->Properties.AudioChannel.Level, 0.0f);
        QCOMPARE(g_log.lineCalls.back().line, std::string("No level"));
        QCOMPARE(g_log.lineCalls.back().level, 0.0f);
    }

    void noAudioDeviceListsNothingAndOkKeepsTheStoredIds()
    {
        g_audioDevices.clear();
        auto dialog = makeDialog();
        int resets = 0;
        dialog->OnResetMeasurement = [&] { ++resets; };
        dialog->show();
        dialog->FormActivate();
        QCOMPARE(dialog->CBAudio->count(), 0);
        QCOMPARE(dialog->CBAudio->currentIndex(), -1);
        QCOMPARE(dialog->CBAudioChannel->count(), 0);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        QCOMPARE(resets, 1);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(DeviceProperties.AudioDevice.ID, std::string("pulse"));
        QCOMPARE(DeviceProperties.AudioChannel.ID, std::string("Capture"));
    }

    void aDeviceUnpluggedSinceTheLastActivationIsNoLongerListed()
    {
        auto dialog = makeDialog();
        dialog->FormActivate();
        QCOMPARE(dialog->CBAudio->count(), 3);
        g_audioDevices.clear();
        g_ports.clear();
        dialog->FormActivate();
        QCOMPARE(dialog->CBAudio->count(), 0);
        QCOMPARE(dialog->CBMidi->count(), 0);
        QVERIFY(dialog->AudioDevices.empty() && dialog->MidiDevices.empty());
    }

    void audioMeterMapsDecibelsHoldsPeaksAndDecays()
    {
        auto dialog = shownDialog();
        PaintCounter paints;
        dialog->Barometer->installEventFilter(&paints);

        audioDevice()->setLevel(1.0f);
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->MeterLevel, static_cast<float>((1.0 - 0.4685) * 1.881));
        QCOMPARE(audioDevice()->GetLevel(), 0.0f); // read and reset
        QCOMPARE(dialog->Label5->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(paints.count, 1); // painted at once, not deferred
        QCOMPARE(dialog->Barometer->GetLevel(), dialog->MeterLevel);

        // A weaker level does not pull the held peak down; it decays by 10 %.
        audioDevice()->setLevel(0.5f);
        const float peak = dialog->MeterLevel;
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->MeterLevel, decayed(peak));
        QCOMPARE(dialog->Label5->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        float level = dialog->MeterLevel;
        for (int tick = 0; tick < 5; ++tick) {
            dialog->TimerVolumeTimer();
            QCOMPARE(dialog->MeterLevel, decayed(level));
            level = dialog->MeterLevel;
        }
        QCOMPARE(paints.count, 7);

        // -6 dB lies above the decayed peak: 20 log10(0.5) / 90.309 + 1, then
        // stretched from 0.4685 up.
        audioDevice()->setLevel(0.5f);
        dialog->TimerVolumeTimer();
        const float minus6dB = static_cast<float>(20.0 * std::log10(0.5) / 90.309 + 1.0);
        QCOMPARE(dialog->MeterLevel, static_cast<float>((static_cast<double>(minus6dB) - 0.4685) * 1.881));

        // The caption's threshold: the float nearest 0.999 lies above 0.999,
        // the next one down does not.
        audioDevice()->setLevel(0.999f);
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->Label5->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        audioDevice()->setLevel(std::nextafter(0.999f, 0.0f));
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->Label5->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    }

    void quietInputLeavesTheMeterAlone()
    {
        auto dialog = shownDialog();
        PaintCounter paints;
        dialog->Barometer->installEventFilter(&paints);
        // 0.003 lies below -48 dB: nothing shows and nothing is repainted.
        audioDevice()->setLevel(0.003f);
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->MeterLevel, 0.0f);
        dialog->TimerVolumeTimer();
        QCOMPARE(paints.count, 0);
        // Without a device the timer does nothing at all.
        TriggerDevice.reset();
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->MeterLevel, 0.0f);
    }

    void singleNoteModeLearnsAndShowsTheNote()
    {
        DeviceProperties.TriggerDeviceType = 2;
        auto dialog = shownDialog();
        QVERIFY(dialog->RBAll->isChecked());
        QCOMPARE(dialog->LearnedNote, -1);

        // All -> Single right after activation: nothing learned yet, note 0.
        QTest::mouseClick(dialog->rbSingle, Qt::LeftButton);
        QCOMPARE(dialog->Properties.MidiNoteNr, 0);
        QVERIFY(dialog->btnSet->isEnabled() && dialog->labelNote->isEnabled());
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->labelNote->text(), QStringLiteral("0"));
        QVERIFY(dialog->labelNote->font().bold());

        // Another pad: its note in grey, the meter still.
        midiDevice()->HandleNote(42, 127, 10000000);
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->labelNote->text(), QStringLiteral("42"));
        QVERIFY(!dialog->labelNote->font().bold());
        QCOMPARE(dialog->labelNote->palette().color(QPalette::WindowText), QColor(128, 128, 128));
        QCOMPARE(dialog->MeterLevel, 0.0f);

        // Set adopts the shown note, which then shows black and bold and
        // moves the meter by the velocity.
        QTest::mouseClick(dialog->btnSet, Qt::LeftButton);
        QCOMPARE(dialog->Properties.MidiNoteNr, 42);
        midiDevice()->HandleNote(42, 100, 20000000);
        dialog->TimerVolumeTimer();
        QVERIFY(dialog->labelNote->font().bold());
        QCOMPARE(dialog->labelNote->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        QCOMPARE(dialog->MeterLevel, 100.0f / 127.0f);

        // Back to All: the label shows 0 and the ticks leave it alone.
        QTest::mouseClick(dialog->RBAll, Qt::LeftButton);
        QCOMPARE(dialog->Properties.MidiNoteNr, -1);
        midiDevice()->HandleNote(50, 100, 30000000);
        dialog->TimerVolumeTimer();
        QCOMPARE(dialog->labelNote->text(), QStringLiteral("0"));
        // Disabled, it looks disabled, whatever colour the last tick gave it.
        QCOMPARE(dialog->labelNote->palette().color(QPalette::Disabled, QPalette::WindowText),
                 dialog->palette().color(QPalette::Disabled, QPalette::WindowText));
    }

    void okStoresCancelRevertsAndClosingKeepsTheCopy()
    {
        auto dialog = makeDialog();
        int resets = 0;
        dialog->OnResetMeasurement = [&] { ++resets; };
        dialog->show();
        dialog->FormActivate();
        QTest::mouseClick(dialog->RBMidi, Qt::LeftButton);
        QTest::mouseClick(dialog->rbSingle, Qt::LeftButton);
        dialog->LearnedNote = 38;
        QTest::mouseClick(dialog->btnSet, Qt::LeftButton);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        QCOMPARE(resets, 1);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(DeviceProperties.TriggerDeviceType, 2);
        QCOMPARE(DeviceProperties.loadMidiNoteNr(), 38);

        dialog->show();
        dialog->FormActivate();
        QTest::mouseClick(dialog->RBAudio, Qt::LeftButton);
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
        QCOMPARE(resets, 2);
        QCOMPARE(dialog->Properties.TriggerDeviceType, 2);
        QCOMPARE(DeviceProperties.TriggerDeviceType, 2);

        // Closing by the frame runs neither: the copy keeps its change and the
        // main window is not re-armed.
        dialog->show();
        dialog->FormActivate();
        QTest::mouseClick(dialog->RBAudio, Qt::LeftButton);
        dialog->close();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(resets, 2);
        QCOMPARE(dialog->Properties.TriggerDeviceType, 1);
        QCOMPARE(DeviceProperties.TriggerDeviceType, 2);
        QVERIFY(audioDevice()); // the dialog's device keeps running
    }

    void helpButtonAndF1InTheAudioListShowHelp()
    {
        auto dialog = makeDialog();
        int helps = 0;
        dialog->OnShowHelp = [&] { ++helps; };
        dialog->show();
        dialog->FormActivate();
        QTest::mouseClick(dialog->btnHelp, Qt::LeftButton);
        QCOMPARE(helps, 1);
        dialog->CBAudio->setFocus();
        QTest::keyClick(dialog->CBAudio, Qt::Key_F1);
        QCOMPARE(helps, 2);
        QTest::mouseClick(dialog->RBMidi, Qt::LeftButton);
        dialog->CBMidi->setFocus();
        QTest::keyClick(dialog->CBMidi, Qt::Key_F1);
        QCOMPARE(helps, 2);
        // Neither Escape nor Enter in a list closes the dialog; Enter on a
        // focused button presses it.
        QTest::keyClick(dialog->CBMidi, Qt::Key_Escape);
        QTest::keyClick(dialog->CBMidi, Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        dialog->btnHelp->setFocus();
        QTest::keyClick(dialog->btnHelp, Qt::Key_Return);
        QCOMPARE(helps, 3);
    }

    void activationComesWithShowingAndTheTimerRunsHidden()
    {
        auto dialog = std::make_unique<TDeviceSelect>(m_preview.session);
        QVERIFY(dialog->TimerVolume->isActive());
        QCOMPARE(dialog->TimerVolume->interval(), 100);
        dialog->showModeless();
        // The activation handler has run when showModeless returns: the main
        // window re-arms its measurement right after it, and the device it
        // builds then must outlast the window system's activation.
        QCOMPARE(dialog->CBAudio->count(), 3);
        QVERIFY(dialog->RBAudio->isChecked());
        QCOMPARE(g_log.startedWith, std::vector<std::int32_t>{-1});
        TriggerDevice = buildTestDevice(DeviceProperties);
        TriggerDevice->Start(60000);
        const TQX_TriggerDevice* rearmed = TriggerDevice.get();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QCoreApplication::processEvents();
        QCOMPARE(TriggerDevice.get(), rearmed);
        QCOMPARE(g_audioListings, 1);

        // Another window of the program takes over; coming back rebuilds the
        // lists, once.
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        dialog->showModeless();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QCoreApplication::processEvents();
        QCOMPARE(g_audioListings, 2);
        dialog->hide();
        QVERIFY(dialog->TimerVolume->isActive());
        audioDevice()->setLevel(1.0f);
        dialog->TimerVolumeTimer();
        QVERIFY(dialog->MeterLevel > 0.9f);
    }
};

TEMPOVARO_QTEST(TestDeviceSelect)
#include "test_device_select.moc"
