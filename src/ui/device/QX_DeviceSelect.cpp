#include "ui/device/QX_DeviceSelect.h"

#include "capture/QX_AlsaAudio.h"
#include "capture/QX_MidiPort.h"
#include "session/MeasurementSession.h"
#include "session/QX_TriggerFactory.h"
#include "trigger/QX_TriggerDevice.h"
#include "ui/common/LevelSliderStyle.h"
#include "ui/common/MeterScale.h"
#include "ui/common/QX_Barometer.h"
#include "ui/common/TextContrast.h"
#include "ui/device/DeviceSelectControls.h"
#include "ui/device/TriggerCheckDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

const QColor kDialogColor(171, 184, 204);
const QColor kNoteOtherPad(128, 128, 128);

TDeviceSelect::DeviceSource& deviceSource()
{
    static TDeviceSelect::DeviceSource source;
    return source;
}

HRESULT listAudioDevices(QX_DeviceList& list)
{
    const auto& source = deviceSource();
    return source.EnumAudioDevices ? source.EnumAudioDevices(list) : EnumAudioDevices(list);
}

HRESULT listInputLines(const std::string& deviceID, QX_DeviceList& list)
{
    const auto& source = deviceSource();
    return source.EnumInputLines ? source.EnumInputLines(deviceID, list) : EnumInputLines(deviceID, list);
}

void listMidiPorts(QX_DeviceList& list)
{
    const auto& source = deviceSource();
    if (source.EnumMidiPorts) {
        source.EnumMidiPorts(list);
        return;
    }
    // A port object only for the listing; it is never opened.
    QX_MidiPort port;
    port.EnumPorts(list);
}

// Fills a list box with the entries' names and selects the last entry for
// which matches() holds, or none.
template <class Match>
void fillList(QComboBox* box, const QX_DeviceList& list, Match matches)
{
    box->clear();
    int selected = -1;
    for (int i = 0; i < static_cast<int>(list.size()); ++i) {
        box->addItem(QString::fromStdString(list[i].Name));
        if (matches(list[i]))
            selected = i;
    }
    box->setCurrentIndex(selected);
}

} // namespace


void TDeviceSelect::SetDeviceSource(DeviceSource source)
{
    deviceSource() = std::move(source);
}

TDeviceSelect::TDeviceSelect(MeasurementSession& session, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_session(session)
{
    setObjectName(QStringLiteral("DeviceSelect"));
    setWindowTitle(QStringLiteral("Select Trigger Device"));
    setWindowIcon(QIcon(QStringLiteral(":/DEVICE_ICON")));
    setModal(false);
    // Liberation Sans stands in for a missing MS Sans Serif: its widths are
    // close enough for the designed label and button sizes.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(466, 333);
    move(154, 173);

    RBAudio = DeviceControls::radio(this, "RBAudio", QStringLiteral("Audio"), QRect(24, 22, 57, 17));
    Label1 = DeviceControls::label(this, "Label1", QStringLiteral("Device"), 96, 24);
    CBAudio = DeviceControls::listBox(this, "CBAudio", 43, 16);
    Label2 = DeviceControls::label(this, "Label2", QStringLiteral("Channel"), 96, 72);
    CBAudioChannel = DeviceControls::listBox(this, "CBAudioChannel", 91, 16);
    // The detector choice sits in the free column under "Audio", level with
    // the channel row and the OK button's left edge, so the designed layout
    // around it stays as it was.
    LabelDetection = DeviceControls::label(this, "LabelDetection", QStringLiteral("Detection"), 16, 72);
    CBDetection = new QComboBox(this);
    CBDetection->setObjectName(QStringLiteral("CBDetection"));
    CBDetection->setEditable(false);
    CBDetection->addItems({QStringLiteral("Standard"), QStringLiteral("Fast")});
    CBDetection->setGeometry(16, 91, 74, 21);
    RBMidi = DeviceControls::radio(this, "RBMidi", QStringLiteral("MIDI"), QRect(24, 138, 57, 17));
    Label3 = DeviceControls::label(this, "Label3", QStringLiteral("Device"), 96, 140);
    CBMidi = DeviceControls::listBox(this, "CBMidi", 159, 16);
    Label4 = DeviceControls::label(this, "Label4", QStringLiteral("Channel"), 96, 188);
    cbMidiChannel = DeviceControls::listBox(this, "cbMidiChannel", 207, 17);

    GroupPanel = new QWidget(this);
    GroupPanel->setObjectName(QStringLiteral("GroupPanel"));
    GroupPanel->setGeometry(96, 236, 233, 41);
    Label6 = DeviceControls::label(GroupPanel, "Label6", QStringLiteral("Note Number"), 0, 0);
    RBAll = DeviceControls::radio(GroupPanel, "RBAll", QStringLiteral("All"), QRect(4, 19, 45, 17));
    rbSingle = DeviceControls::radio(GroupPanel, "rbSingle", QStringLiteral("Single"), QRect(94, 19, 53, 17));
    labelNote = DeviceControls::label(GroupPanel, "labelNote", QStringLiteral("127"), 156, 21);
    btnSet = DeviceControls::button(GroupPanel, "btnSet", QStringLiteral("Set"), QRect(184, 17, 49, 20));

    Label5 = DeviceControls::label(this, "Label5", QStringLiteral("Volume"), 356, 24);
    PanelVolume = new QFrame(this);
    PanelVolume->setObjectName(QStringLiteral("PanelVolume"));
    PanelVolume->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PanelVolume->setLineWidth(1);
    PanelVolume->setGeometry(363, 42, 21, 188);

    ImageMark = new QLabel(this);
    ImageMark->setObjectName(QStringLiteral("ImageMark"));
    ImageMark->setPixmap(DeviceControls::markPicture());
    ImageMark->setGeometry(356, 132, 5, 10);

    // Position 0 is the top of the bar, as on the original track bar, so both
    // the look and the keys (Up moves the thumb up) are inverted against
    // QSlider's bottom-up default.
    TBVolume = new QSlider(Qt::Vertical, this);
    TBVolume->setObjectName(QStringLiteral("TBVolume"));
    TBVolume->setGeometry(395, 35, 46, 203);
    TBVolume->setRange(0, 1000);
    TBVolume->setValue(1000);
    TBVolume->setSingleStep(1);
    TBVolume->setPageStep(50);
    TBVolume->setTickPosition(QSlider::TicksBothSides);
    TBVolume->setTickInterval(100);
    TBVolume->setInvertedAppearance(true);
    TBVolume->setInvertedControls(true);
    auto* sliderStyle = new LevelSliderStyle;
    sliderStyle->setParent(TBVolume);
    TBVolume->setStyle(sliderStyle);

    btnOK = DeviceControls::button(this, "btnOK", QStringLiteral("OK"), QRect(16, 296, 75, 25));
    btnCancel = DeviceControls::button(this, "btnCancel", QStringLiteral("Cancel"), QRect(96, 296, 75, 25));
    btnHelp = DeviceControls::button(this, "btnHelp", QStringLiteral("Help"), QRect(376, 296, 75, 25));
    btnCheck = DeviceControls::button(this, "btnCheck", QStringLiteral("Check Trigger..."), QRect(345, 250, 106, 25));

    QWidget::setTabOrder(RBAudio, RBMidi);
    QWidget::setTabOrder(RBMidi, CBAudio);
    QWidget::setTabOrder(CBAudio, CBAudioChannel);
    QWidget::setTabOrder(CBAudioChannel, CBMidi);
    QWidget::setTabOrder(CBMidi, cbMidiChannel);
    QWidget::setTabOrder(cbMidiChannel, TBVolume);
    QWidget::setTabOrder(TBVolume, btnOK);
    QWidget::setTabOrder(btnOK, btnCancel);
    QWidget::setTabOrder(btnCancel, RBAll);
    QWidget::setTabOrder(RBAll, rbSingle);
    QWidget::setTabOrder(rbSingle, btnSet);
    QWidget::setTabOrder(btnSet, btnHelp);
    QWidget::setTabOrder(CBAudioChannel, CBDetection);

    // A radio button runs its handler when it becomes checked, by a click or
    // from code, and not when an already checked button is clicked again.
    connect(RBAudio, &QRadioButton::toggled, this, [this](bool on) { if (on) RBAudioClick(); });
    connect(RBMidi, &QRadioButton::toggled, this, [this](bool on) { if (on) RBMidiClick(); });
    connect(RBAll, &QRadioButton::toggled, this, [this](bool on) { if (on) RBAllClick(); });
    connect(rbSingle, &QRadioButton::toggled, this, [this](bool on) { if (on) rbSingleClick(); });
    connect(CBAudio, &QComboBox::activated, this, &TDeviceSelect::CBAudioSelect);
    connect(CBAudioChannel, &QComboBox::activated, this, &TDeviceSelect::CBAudioChannelSelect);
    connect(CBDetection, &QComboBox::activated, this, &TDeviceSelect::CBDetectionSelect);
    connect(CBMidi, &QComboBox::activated, this, &TDeviceSelect::CBMidiSelect);
    connect(cbMidiChannel, &QComboBox::activated, this, &TDeviceSelect::cbMidiChannelSelect);
    // valueChanged comes only when the position really changes, also when it
    // is set from code, which re-derives the input level from the bar.
    connect(TBVolume, &QSlider::valueChanged, this, &TDeviceSelect::TBVolumeChange);
    connect(btnSet, &QPushButton::clicked, this, &TDeviceSelect::btnSetClick);
    connect(btnOK, &QPushButton::clicked, this, &TDeviceSelect::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TDeviceSelect::btnCancelClick);
    connect(btnHelp, &QPushButton::clicked, this, &TDeviceSelect::btnHelpClick);
    connect(btnCheck, &QPushButton::clicked, this, &TDeviceSelect::btnCheckClick);
    CBAudio->installEventFilter(this);

    TimerVolume = new QTimer(this);
    TimerVolume->setInterval(100);
    connect(TimerVolume, &QTimer::timeout, this, &TDeviceSelect::TimerVolumeTimer);
    TimerVolume->start();

    FormCreate();
}

TDeviceSelect::~TDeviceSelect()
{
    TimerVolume->stop();
    QCoreApplication::processEvents();
    delete Barometer;
    Barometer = nullptr;
}

void TDeviceSelect::FormCreate()
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kDialogColor);
    // The style's pale grey for disabled text all but vanishes on this blue
    // grey; the classic mid grey keeps the idle half of the dialog readable.
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        pal.setColor(QPalette::Disabled, role, kReadableGreyText);
    setPalette(pal);
    MeterLevel = 0.0f;
    LearnedNote = 0;

    Barometer = new TQX_Barometer(PanelVolume);
    Barometer->setGeometry(1, 1, PanelVolume->width() - 2, PanelVolume->height() - 2);

    Properties = DeviceProperties;
}

void TDeviceSelect::showModeless()
{
    show();
    raise();
    activateWindow();
    // The window system activates the dialog later, from the event loop; the
    // activation handler runs now, as showing a window makes it the active one
    // at once. The main window re-arms its measurement right after this call,
    // and the device the handler may build must not replace that one.
    if (!m_activeInProgram) {
        m_activeInProgram = true;
        FormActivate();
    }
}

bool TDeviceSelect::event(QEvent* e)
{
    switch (e->type()) {
    case QEvent::WindowActivate:
        if (!m_activeInProgram) {
            m_activeInProgram = true;
            FormActivate();
        }
        break;
    case QEvent::WindowDeactivate: {
        // Losing the focus to another program keeps this the program's active
        // window; only another window of the program takes that over.
        const QWidget* active = QApplication::activeWindow();
        if (active && active != this)
            m_activeInProgram = false;
        break;
    }
    default:
        break;
    }
    return QDialog::event(e);
}

void TDeviceSelect::hideEvent(QHideEvent* e)
{
    m_activeInProgram = false;
    QDialog::hideEvent(e);
}

void TDeviceSelect::FormActivate()
{
    QCoreApplication::processEvents();

    // Start from empty lists: an enumeration that finds nothing leaves its
    // list as it was, which would still offer a device unplugged since the
    // last activation.
    AudioDevices.clear();
    listAudioDevices(AudioDevices);
    fillList(CBAudio, AudioDevices, [this](const QX_Device& d) { return d.ID == Properties.AudioDevice.ID; });

    MidiDevices.clear();
    listMidiPorts(MidiDevices);
    fillList(CBMidi, MidiDevices, [this](const QX_Device& d) { return d.ID == Properties.MidiDevice.ID; });

    LearnedNote = Properties.MidiNoteNr;
    FillChannelLists();
    UpdateControls();
}

void TDeviceSelect::FillChannelLists()
{
    switch (Properties.TriggerDeviceType) {
    case kTriggerDeviceAudio:
        listInputLines(Properties.AudioDevice.ID, AudioChannels);
        fillList(CBAudioChannel, AudioChannels,
                 [this](const QX_Device& d) { return d.Name == Properties.AudioChannel.Name; });
        break;
    case kTriggerDeviceMidi: {
        cbMidiChannel->clear();
        cbMidiChannel->addItem(QStringLiteral("All"));
        for (int channel = 1; channel <= 16; ++channel)
            cbMidiChannel->addItem(QString::number(channel));
        int selected = -1;
        if (!Properties.MidiChannel.ID.empty()) {
            selected = MidiChannelNumber(Properties.MidiChannel.ID);
            if (selected > 16)
                selected = -1;
        }
        cbMidiChannel->setCurrentIndex(selected < 0 ? -1 : selected);
        break;
    }
    default:
        break;
    }
}

void TDeviceSelect::check(QRadioButton* button)
{
    button->setChecked(true);
}

void TDeviceSelect::UpdateControls()
{
    const std::int32_t type = Properties.TriggerDeviceType;
    if (type != kTriggerDeviceAudio && type != kTriggerDeviceMidi)
        return;
    const bool audio = type == kTriggerDeviceAudio;

    for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                       static_cast<QWidget*>(CBAudio), static_cast<QWidget*>(CBAudioChannel)})
        w->setEnabled(audio);
    LabelDetection->setEnabled(audio);
    CBDetection->setEnabled(audio);
    CBDetection->setCurrentIndex(Properties.AudioDetector == kAudioDetectorFast ? 1 : 0);
    for (QWidget* w : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                       static_cast<QWidget*>(CBMidi), static_cast<QWidget*>(cbMidiChannel)})
        w->setEnabled(!audio);
    check(audio ? RBAudio : RBMidi);

    if (audio) {
        TBVolume->setEnabled(true);
        // Half to even, as everywhere in this dialog; -1.0 (a line without a
        // level) lands beyond the bottom and is held there by the range.
        const double position =
            1000.0 - std::nearbyint(static_cast<double>(Properties.AudioChannel.Level) * 1000.0);
        TBVolume->setValue(std::isnan(position) ? 1000 : static_cast<int>(std::clamp(position, 0.0, 1000.0)));
    } else {
        TBVolume->setEnabled(false);
    }
    ImageMark->setVisible(audio);

    Label6->setEnabled(!audio);
    RBAll->setEnabled(!audio);
    rbSingle->setEnabled(!audio);
    if (audio) {
        btnSet->setEnabled(false);
        labelNote->setEnabled(false);
    } else if (Properties.MidiNoteNr == -1) {
        check(RBAll);
        btnSet->setEnabled(false);
        labelNote->setEnabled(false);
        labelNote->setText(QStringLiteral("0"));
        labelNote->adjustSize();
    } else {
        check(rbSingle);
        btnSet->setEnabled(true);
        labelNote->setEnabled(true);
    }
}

bool TDeviceSelect::CreateTriggerDevice()
{
    m_session.previewDevice(Properties);
    return TriggerDevice != nullptr;
}

void TDeviceSelect::RBAudioClick()
{
    Properties.TriggerDeviceType = kTriggerDeviceAudio;
    CreateTriggerDevice();
    FillChannelLists();
    UpdateControls();
}

void TDeviceSelect::RBMidiClick()
{
    Properties.TriggerDeviceType = kTriggerDeviceMidi;
    CreateTriggerDevice();
    FillChannelLists();
    UpdateControls();
}

void TDeviceSelect::CBAudioSelect()
{
    const int index = CBAudio->currentIndex();
    if (index < 0 || index >= static_cast<int>(AudioDevices.size()))
        return;
    Properties.AudioDevice = AudioDevices[index];
    CreateTriggerDevice();
    FillChannelLists();
}

void TDeviceSelect::CBAudioChannelSelect()
{
    const int index = CBAudioChannel->currentIndex();
    if (index < 0 || index >= static_cast<int>(AudioChannels.size()))
        return;
    // The whole entry, so the working level becomes the line's own level; the
    // bar follows at the next UpdateControls.
    Properties.AudioChannel = AudioChannels[index];
    CreateTriggerDevice();
}

void TDeviceSelect::CBDetectionSelect()
{
    // The live device is rebuilt with the other detector, so the meter keeps
    // showing the input while the choice changes.
    Properties.AudioDetector = CBDetection->currentIndex() == 1 ? kAudioDetectorFast : kAudioDetectorStandard;
    CreateTriggerDevice();
}

void TDeviceSelect::CBMidiSelect()
{
    const int index = CBMidi->currentIndex();
    if (index < 0 || index >= static_cast<int>(MidiDevices.size()))
        return;
    Properties.MidiDevice = MidiDevices[index];
    CreateTriggerDevice();
    FillChannelLists();
}

void TDeviceSelect::cbMidiChannelSelect()
{
    const int index = cbMidiChannel->currentIndex();
    if (index < 0)
        return;
    Properties.MidiChannel.ID = std::to_string(index);
    CreateTriggerDevice();
}

void TDeviceSelect::TBVolumeChange()
{
    Properties.AudioChannel.Level = static_cast<float>(1.0 - TBVolume->value() / 1000.0);
    if (TriggerDevice && Properties.TriggerDeviceType == kTriggerDeviceAudio)
        TriggerDevice->SetInputLine(Properties.AudioChannel.ID, Properties.AudioChannel.Level);
}

void TDeviceSelect::RBAllClick()
{
    Properties.MidiNoteNr = -1;
    UpdateControls();
}

void TDeviceSelect::rbSingleClick()
{
    Properties.MidiNoteNr = LearnedNote == -1 ? 0 : LearnedNote;
    UpdateControls();
}

void TDeviceSelect::btnSetClick()
{
    Properties.MidiNoteNr = LearnedNote;
}

void TDeviceSelect::btnOKClick()
{
    DeviceProperties = Properties;
    hide();
    if (OnResetMeasurement)
        OnResetMeasurement();
}

void TDeviceSelect::btnCancelClick()
{
    Properties = DeviceProperties;
    hide();
    if (OnResetMeasurement)
        OnResetMeasurement();
}

void TDeviceSelect::btnHelpClick()
{
    if (OnShowHelp)
        OnShowHelp();
}

void TDeviceSelect::btnCheckClick()
{
    // The recommended change in dB moves the level bar, which sets the input level.
    TriggerCheckDialog::openFor(Properties.TriggerDeviceType == kTriggerDeviceAudio, [this](double changeDb) {
        const double level = std::clamp(Properties.AudioChannel.Level * std::pow(10.0, changeDb / 20.0), 0.0, 1.0);
        TBVolume->setValue(static_cast<int>(std::lround(1000.0 * (1.0 - level))));
    }, this);
}

void TDeviceSelect::TimerVolumeTimer()
{
    if (!TriggerDevice || !Barometer)
        return;
    float v = TriggerDevice->GetLevel();
    TriggerDevice->ResetLevel();

    if (Properties.TriggerDeviceType == kTriggerDeviceMidi && rbSingle->isChecked()) {
        LearnedNote = TriggerDevice->GetLastNote();
        if (LearnedNote == -1)
            LearnedNote = Properties.MidiNoteNr;
        QFont noteFont = labelNote->font();
        if (LearnedNote == Properties.MidiNoteNr) {
            noteFont.setBold(true);
            DeviceControls::setTextColor(labelNote, Qt::black);
        } else {
            // Another pad: show which one, but keep the meter still so only
            // the chosen pad moves it.
            noteFont.setBold(false);
            DeviceControls::setTextColor(labelNote, kNoteOtherPad);
            v = 0.0f;
        }
        labelNote->setFont(noteFont);
        labelNote->setText(QString::number(LearnedNote));
        labelNote->adjustSize();
    }

    if (Properties.TriggerDeviceType == kTriggerDeviceAudio) {
        DeviceControls::setTextColor(Label5, meterClips(v) ? QColor(255, 0, 0) : QColor(0, 0, 0));
        v = audioMeterPosition(v);
    }

    const float old = MeterLevel;
    MeterLevel = meterPeakHold(MeterLevel, v);
    if (MeterLevel != old) {
        Barometer->SetLevel(MeterLevel);
        Barometer->repaint();
    }
}

bool TDeviceSelect::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == CBAudio && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_F1) {
        btnHelpClick();
        return true;
    }
    return QDialog::eventFilter(watched, e);
}

void TDeviceSelect::keyPressEvent(QKeyEvent* e)
{
    // No button of this dialog is its default or cancel button: Escape does
    // nothing, and Enter presses the focused button, if any.
    switch (e->key()) {
    case Qt::Key_Escape:
        e->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()))
            focused->click();
        e->accept();
        return;
    default:
        QDialog::keyPressEvent(e);
    }
}

#include "moc_QX_DeviceSelect.cpp"
