#include "ui/click/ClickWindow.h"

#include "capture/QX_AlsaAudio.h"
#include "capture/QX_ClickPlayer.h"
#include "capture/QX_LatencyProbe.h"
#include "persistence/QX_Global.h"
#include "trigger/QX_TriggerDevice.h"
#include "ui/click/GridChoices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

constexpr int kPollMs = 30;
// Tap-along: half a second of click stream before the first click, and the
// taps taken until half a second after the last (a late tap, the port's delay).
constexpr std::int64_t kTapLeadSamples = 22050;
constexpr std::int64_t kTapTailSamples = 22050;

QString millis(std::int32_t us)
{
    return QString::number(us / 1000.0, 'f', 2);
}

QString gridName(int subdivision)
{
    for (const auto& g : kGridChoices)
        if (g.subdivision == subdivision)
            return QString::fromLatin1(g.name).toLower();
    return {};
}

} // namespace

ClickWindow::ClickWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ClickWindow"));
    setWindowTitle(QStringLiteral("Click"));

    m_tempo = new QSpinBox(this);
    m_tempo->setObjectName(QStringLiteral("Tempo"));
    m_tempo->setRange(30, 300);
    m_tempo->setSuffix(QStringLiteral(" BPM"));
    m_grid = new QComboBox(this);
    m_grid->setObjectName(QStringLiteral("Grid"));
    for (const auto& g : kGridChoices)
        m_grid->addItem(QString::fromLatin1(g.name), g.subdivision);
    m_accent = new QCheckBox(QStringLiteral("&Accent on the first beat"), this);
    m_countIn = new QCheckBox(QStringLiteral("One-bar &count-in"), this);
    m_barsOn = new QSpinBox(this);
    m_barsOn->setObjectName(QStringLiteral("BarsOn"));
    m_barsOn->setRange(1, 64);
    m_barsOff = new QSpinBox(this);
    m_barsOff->setObjectName(QStringLiteral("BarsOff"));
    m_barsOff->setRange(0, 64);
    m_barsOff->setSpecialValueText(QStringLiteral("none"));
    m_volume = new QSlider(Qt::Horizontal, this);
    m_volume->setObjectName(QStringLiteral("Volume"));
    m_volume->setRange(0, 100);
    m_output = new QComboBox(this);
    m_output->setObjectName(QStringLiteral("Output"));
    m_output->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_output->setMinimumContentsLength(24);
    m_withMeasurement = new QCheckBox(QStringLiteral("Start with each &measurement"), this);
    m_startStop = new QPushButton(QStringLiteral("&Start"), this);
    m_startStop->setObjectName(QStringLiteral("StartStop"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Status"));
    m_status->setMinimumWidth(m_status->fontMetrics().horizontalAdvance(QStringLiteral("Count-in: beat 4 of 4, 300 BPM")));

    auto* silent = new QHBoxLayout;
    silent->addWidget(new QLabel(QStringLiteral("play"), this));
    silent->addWidget(m_barsOn);
    silent->addWidget(new QLabel(QStringLiteral("bars, then"), this));
    silent->addWidget(m_barsOff);
    silent->addWidget(new QLabel(QStringLiteral("silent"), this));
    silent->addStretch();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Tempo:"), m_tempo);
    form->addRow(QStringLiteral("&Grid:"), m_grid);
    form->addRow(QString(), m_accent);
    form->addRow(QString(), m_countIn);
    form->addRow(QStringLiteral("Silent bars:"), silent);
    form->addRow(QStringLiteral("&Volume:"), m_volume);
    form->addRow(QStringLiteral("&Output:"), m_output);
    form->addRow(QString(), m_withMeasurement);

    m_calibrate = new QPushButton(QStringLiteral("Ca&librate..."), this);
    m_calibrate->setObjectName(QStringLiteral("Calibrate"));
    m_calibration = new QLabel(this);
    m_calibration->setObjectName(QStringLiteral("Calibration"));
    m_calibration->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_calibrate);
    buttons->addWidget(m_startStop);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_calibration);

    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, &ClickWindow::showPosition);
    connect(m_startStop, &QPushButton::clicked, this, &ClickWindow::toggleClick);
    m_calibrationPoll = new QTimer(this);
    m_calibrationPoll->setInterval(kPollMs);
    connect(m_calibrationPoll, &QTimer::timeout, this, &ClickWindow::pollCalibration);
    connect(m_calibrate, &QPushButton::clicked, this, &ClickWindow::calibrate);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    const auto edited = [this] { settingsEdited(); };
    connect(m_tempo, &QSpinBox::valueChanged, this, edited);
    connect(m_grid, &QComboBox::currentIndexChanged, this, edited);
    connect(m_accent, &QCheckBox::toggled, this, edited);
    connect(m_countIn, &QCheckBox::toggled, this, edited);
    connect(m_barsOn, &QSpinBox::valueChanged, this, edited);
    connect(m_barsOff, &QSpinBox::valueChanged, this, edited);
    connect(m_volume, &QSlider::valueChanged, this, edited);
    connect(m_output, &QComboBox::currentIndexChanged, this, edited);
    connect(m_withMeasurement, &QCheckBox::toggled, this, edited);
}

// The program may be closing: the input is not handed back.
ClickWindow::~ClickWindow() = default;

void ClickWindow::showModeless()
{
    fillFromSettings();
    show();
    raise();
    activateWindow();
}

void ClickWindow::fillFromSettings()
{
    m_filling = true;
    const TQX_ClickSettings& c = ClickSettings;
    m_tempo->setValue(c.TempoBpm);
    m_grid->setCurrentIndex(std::max(0, m_grid->findData(c.Subdivision)));
    m_accent->setChecked(c.Accent);
    m_countIn->setChecked(c.CountIn);
    m_barsOn->setValue(c.BarsOn);
    m_barsOff->setValue(c.BarsOff);
    m_volume->setValue(c.VolumePercent);
    m_withMeasurement->setChecked(c.WithMeasurement);
    if (!isCalibrating())
        m_calibration->setText(storedCalibrationText());

    // The devices that play now, the system default first; a stored device
    // that is not there now stays chosen, so a card plugged in later is used.
    m_output->clear();
    QX_DeviceList devices;
    if (EnumPlaybackDevices(devices) != S_OK || devices.empty())
        devices.push_back(QX_Device{"Default", "default", 0.0f});
    for (const auto& d : devices)
        m_output->addItem(QString::fromStdString(d.Name), QString::fromStdString(d.ID));
    const QString stored = QString::fromStdString(c.DeviceID.empty() ? std::string("default") : c.DeviceID);
    if (m_output->findData(stored) < 0)
        m_output->addItem(stored + QStringLiteral(" (not found)"), stored);
    m_output->setCurrentIndex(m_output->findData(stored));
    m_filling = false;
    if (!isPlaying())
        setStatus(QStringLiteral("Stopped: %1 BPM, %2").arg(c.TempoBpm).arg(gridName(c.Subdivision)));
}

void ClickWindow::storeSettings()
{
    TQX_ClickSettings& c = ClickSettings;
    c.TempoBpm = m_tempo->value();
    c.Subdivision = m_grid->currentData().toInt();
    c.Accent = m_accent->isChecked();
    c.CountIn = m_countIn->isChecked();
    c.BarsOn = m_barsOn->value();
    c.BarsOff = m_barsOff->value();
    c.VolumePercent = m_volume->value();
    c.WithMeasurement = m_withMeasurement->isChecked();
    const QString device = m_output->currentData().toString();
    c.DeviceID = device == QLatin1String("default") ? std::string() : device.toStdString();
}

void ClickWindow::settingsEdited()
{
    if (m_filling)
        return;
    storeSettings();
    // A click that plays takes the change at once, with a fresh count-in.
    if (isPlaying())
        startClick();
    else
        setStatus(QStringLiteral("Stopped: %1 BPM, %2").arg(ClickSettings.TempoBpm).arg(gridName(ClickSettings.Subdivision)));
}

ClickSegment ClickWindow::segment() const
{
    const TQX_ClickSettings& c = ClickSettings;
    ClickSegment seg;
    seg.pattern.tempoBpm = c.TempoBpm;
    seg.pattern.subdivision = c.Subdivision;
    seg.pattern.accent = c.Accent;
    seg.pattern.countIn = c.CountIn;
    seg.pattern.silent = {c.BarsOn, c.BarsOff};
    seg.pattern.volume = static_cast<float>(c.VolumePercent) / 100.0f;
    seg.startSample = 0;
    seg.bars = 0;
    return seg;
}

void ClickWindow::setOutputOverride(const QString& pcmName)
{
    m_outputOverride = pcmName;
}

bool ClickWindow::isPlaying() const
{
    return m_player && m_player->isPlaying();
}

std::string ClickWindow::outputDevice() const
{
    if (!m_outputOverride.isEmpty())
        return m_outputOverride.toStdString();
    return ClickSettings.DeviceID.empty() ? std::string("default") : ClickSettings.DeviceID;
}

void ClickWindow::startClick()
{
    if (m_probe)
        return;
    stopClick();
    const std::string device = outputDevice();
    auto player = std::make_unique<QX_ClickPlayer>();
    if (!player->open(device)) {
        setStatus(QStringLiteral("Cannot play on \"%1\"").arg(QString::fromStdString(device)));
        return;
    }
    m_playing = segment();
    if (!player->schedule(m_playing) || !player->start()) {
        setStatus(QStringLiteral("Cannot play on \"%1\"").arg(QString::fromStdString(device)));
        return;
    }
    m_player = std::move(player);
    m_startStop->setText(QStringLiteral("&Stop"));
    m_poll->start();
    showPosition();
    emit playingChanged(true);
}

void ClickWindow::stopClick()
{
    m_poll->stop();
    if (m_player)
        emit playingChanged(false);
    m_player.reset();
    m_startStop->setText(QStringLiteral("&Start"));
    setStatus(QStringLiteral("Stopped: %1 BPM, %2").arg(ClickSettings.TempoBpm).arg(gridName(ClickSettings.Subdivision)));
}

void ClickWindow::toggleClick()
{
    if (isPlaying())
        stopClick();
    else
        startClick();
}

void ClickWindow::stopPlaying()
{
    if (m_player)
        stopClick();
}

void ClickWindow::measurementArmed(bool armed)
{
    if (!ClickSettings.WithMeasurement)
        return;
    if (armed)
        startClick();
    else
        stopClick();
}

void ClickWindow::showPosition()
{
    if (!m_player)
        return;
    RenderedClick drained;
    while (m_player->takeClick(drained)) {
    }
    if (!m_player->isPlaying()) {
        stopClick();
        setStatus(QStringLiteral("The output device stopped playing"));
        return;
    }
    // What is heard now: the written samples less those still in the device's buffer.
    const std::int64_t heard = m_player->framesWritten() - m_player->bufferFrames();
    const double rate = QX_ClickPlayer::kSampleRate;
    const ClickPattern& p = m_playing.pattern;
    const QString tempo = QStringLiteral("%1 BPM").arg(p.tempoBpm);
    if (heard < m_playing.startSample) {
        setStatus(QStringLiteral("Starting, %1").arg(tempo));
        return;
    }
    const auto point = static_cast<std::int64_t>(std::floor(static_cast<double>(heard - m_playing.startSample) /
                                                            m_playing.samplesPerPoint(rate))) -
                       m_playing.countInPoints();
    const std::int64_t perBar = std::int64_t{p.subdivision} * p.beatsPerBar;
    if (point < 0) {
        setStatus(QStringLiteral("Count-in: beat %1 of %2, %3")
                      .arg((point + perBar) / p.subdivision + 1)
                      .arg(p.beatsPerBar)
                      .arg(tempo));
        return;
    }
    const TimingGrid grid = m_playing.grid(rate);
    setStatus(QStringLiteral("Bar %1%2, beat %3, %4")
                  .arg(point / perBar + 1)
                  .arg(grid.isSilent(point) ? QStringLiteral(" (silent)") : QString())
                  .arg(point % perBar / p.subdivision + 1)
                  .arg(tempo));
}

std::optional<ClickOnOutput> ClickWindow::clickOnOutput() const
{
    if (!m_player)
        return std::nullopt;
    const std::optional<double> offset = m_player->streamOffsetFrames();
    if (!offset)
        return std::nullopt;
    return ClickOnOutput{m_playing,
                         static_cast<double>(QX_ClickPlayer::kSampleRate),
                         *offset,
                         ClickSettings.latencyUsFor(DeviceProperties.TriggerDeviceType),
                         m_player->streamLine(),
                         sharesTriggerClock(outputDevice())};
}

bool ClickWindow::sharesTriggerClock(const std::string& outputId)
{
    const TQX_DeviceProperties& d = DeviceProperties;
    return d.TriggerDeviceType == kTriggerDeviceAudio && onOneClock(d.AudioDevice.ID, outputId);
}

void ClickWindow::setStatus(const QString& text)
{
    m_status->setText(text);
}

QString ClickWindow::statusText() const
{
    return m_status->text();
}

void ClickWindow::setInputHandover(std::function<void()> release, std::function<void()> restore)
{
    m_releaseInput = std::move(release);
    m_restoreInput = std::move(restore);
}

void ClickWindow::setTapDeviceMaker(TapDeviceMaker make)
{
    m_makeTapDevice = std::move(make);
}

bool ClickWindow::isCalibrating() const
{
    return m_probe != nullptr || m_tapPlayer != nullptr;
}

QString ClickWindow::storedCalibrationText() const
{
    const TQX_ClickSettings& c = ClickSettings;
    if (DeviceProperties.TriggerDeviceType != kTriggerDeviceMidi)
        return QString();
    const QString stored = c.MidiSpreadUs > 0 ? QStringLiteral("Stored: offset %1 ms, spread %2 ms.")
                                                    .arg(millis(c.MidiLatencyUs), millis(c.MidiSpreadUs))
                                              : QStringLiteral("Not calibrated yet.");
    return QStringLiteral("MIDI trigger: Calibrate... plays 16 clicks to tap along to on the pad. Tapping is far "
                          "less precise than an audio loopback: the offset takes in how you meet the click. ") +
           stored;
}

QString ClickWindow::calibrationText() const
{
    return m_calibration->text();
}

void ClickWindow::calibrate()
{
    if (isCalibrating()) {
        endCalibration(QStringLiteral("Calibration cancelled; the offset is unchanged."));
        return;
    }
    const TQX_DeviceProperties& d = DeviceProperties;
    if (d.TriggerDeviceType == kTriggerDeviceMidi && !d.MidiDevice.ID.empty() && m_makeTapDevice) {
        startTaps();
        return;
    }
    if (d.TriggerDeviceType == kTriggerDeviceMidi || d.AudioDevice.ID.empty()) {
        m_calibration->setText(QStringLiteral(
            "Calibration listens to the click through an audio input: choose the audio trigger (a microphone "
            "near the speaker, or a cable from the output to the input) in Options > Select Trigger Device, then calibrate."));
        return;
    }
    stopClick();
    if (m_releaseInput)
        m_releaseInput();
    m_probe = std::make_unique<QX_LatencyProbe>();
    const auto failure = m_probe->start(d.AudioDevice.ID, d.AudioChannel.ID, d.AudioChannel.Level, outputDevice(),
                                        static_cast<float>(ClickSettings.VolumePercent) / 100.0f);
    if (failure) {
        endCalibration(QString::fromStdString(*failure));
        return;
    }
    m_calibrate->setText(QStringLiteral("Cance&l"));
    m_startStop->setEnabled(false);
    m_calibration->setText(QStringLiteral("Calibrating: listening for 16 clicks. Keep quiet and still."));
    m_calibrationPoll->start();
}

void ClickWindow::pollCalibration()
{
    if (m_tapPlayer) {
        pollTaps();
        return;
    }
    if (!m_probe)
        return;
    const std::optional<CalibrationResult> result = m_probe->poll();
    if (!result) {
        m_calibration->setText(QStringLiteral("Calibrating: click %1 of %2. Keep quiet and still.")
                                   .arg(m_probe->clicksPlayed())
                                   .arg(kCalibrationClicks));
        return;
    }
    QString text = QString::fromStdString(result->message);
    if (result->accepted) {
        ClickSettings.LatencyUs = static_cast<std::int32_t>(std::lround(*result->offsetMs * 1000.0));
        text += QStringLiteral(" Stored: strokes are now timed against the click as heard.");
    } else {
        text += QStringLiteral(" The offset stays at %1 ms.").arg(ClickSettings.LatencyUs / 1000.0, 0, 'f', 2);
    }
    endCalibration(text);
}

void ClickWindow::startTaps()
{
    stopClick();
    if (m_releaseInput)
        m_releaseInput();
    m_taps.clear();
    m_tapDevice = m_makeTapDevice();
    auto player = std::make_unique<QX_ClickPlayer>();
    m_tapSegment = calibrationSegment(kTapLeadSamples, static_cast<float>(ClickSettings.VolumePercent) / 100.0f);
    if (m_tapDevice)
        m_tapDevice->Start(kTimeLimitEndless);
    if (!m_tapDevice || m_tapDevice->captureHealth() == CaptureHealth::OpenFailed) {
        endCalibration(QStringLiteral("The MIDI trigger does not open. Check Options > Select Trigger Device."));
        return;
    }
    if (!player->open(outputDevice()) || !player->schedule(m_tapSegment) || !player->start()) {
        endCalibration(QStringLiteral("Cannot play on \"%1\".").arg(QString::fromStdString(outputDevice())));
        return;
    }
    m_tapPlayer = std::move(player);
    m_calibrate->setText(QStringLiteral("Cance&l"));
    m_startStop->setEnabled(false);
    m_calibrationPoll->start();
    pollTaps();
}

void ClickWindow::pollTaps()
{
    m_tapDevice->drainStrokeEvents(m_taps);
    if (!m_tapPlayer->isPlaying() || m_tapPlayer->underruns() != 0) {
        endCalibration(QStringLiteral("The click stopped or stuttered during the calibration. Try again."));
        return;
    }
    constexpr double rate = QX_ClickPlayer::kSampleRate;
    const std::int64_t heard = m_tapPlayer->framesWritten() - m_tapPlayer->bufferFrames();
    if (heard < m_tapSegment.sampleOf(kCalibrationClicks - 1, rate) + kTapTailSamples) {
        std::int32_t played = 0;
        while (played < kCalibrationClicks && m_tapSegment.sampleOf(played, rate) < heard)
            ++played;
        m_calibration->setText(
            QStringLiteral("Tap along on the pad: click %1 of %2, %3 taps. The first bar is for locking in. Tapping "
                           "is far less precise than an audio loopback.")
                .arg(played)
                .arg(kCalibrationClicks)
                .arg(m_taps.size()));
        return;
    }
    // The clicks put on the MIDI stamps' clock as a run's click is, through
    // both clocks' lines (the stamps keep the computer's time).
    const std::optional<double> outOffset = m_tapPlayer->streamOffsetFrames();
    const std::optional<double> tapOffset = m_tapDevice->clockOffsetTicks();
    if (!outOffset || !tapOffset || m_taps.empty()) {
        endCalibration(QStringLiteral("No taps came from the MIDI trigger: tap the pad on every click, and check its "
                                      "channel and note in Options > Select Trigger Device. The offset is unchanged."));
        return;
    }
    const std::int64_t tps = m_tapDevice->ticksPerSecond();
    const RunClick click = placeClick(ClickOnOutput{m_tapSegment, rate, *outOffset, 0, m_tapPlayer->streamLine(), false},
                                      StrokeClock{*tapOffset, m_tapDevice->clockLine(), tps});
    const TimingGrid grid = runGrid(click, tps);
    std::vector<double> clicks, taps;
    for (std::int64_t k = 0; k < kCalibrationClicks; ++k)
        clicks.push_back(grid.timeOf(k));
    for (const StrokeEvent& tap : m_taps)
        taps.push_back(gridSeconds(tap.tick, click, tps));
    const CalibrationResult result = calibrateTaps(taps, clicks);
    QString text = QString::fromStdString(result.message);
    if (result.accepted) {
        ClickSettings.MidiLatencyUs = static_cast<std::int32_t>(std::lround(*result.offsetMs * 1000.0));
        ClickSettings.MidiSpreadUs = std::max(1, static_cast<std::int32_t>(std::lround(*result.spreadMs * 1000.0)));
        text += QStringLiteral(" Stored for the MIDI trigger; it is far less precise than an audio loopback.");
    } else {
        text += QStringLiteral(" The offset stays at %1 ms.").arg(millis(ClickSettings.MidiLatencyUs));
    }
    endCalibration(text);
}

void ClickWindow::endCalibration(const QString& text)
{
    m_calibrationPoll->stop();
    m_probe.reset();
    // The player first: its thread may still be writing clicks.
    m_tapPlayer.reset();
    m_tapDevice.reset();
    m_calibrate->setText(QStringLiteral("Ca&librate..."));
    m_startStop->setEnabled(true);
    m_calibration->setText(text);
    if (m_restoreInput)
        m_restoreInput();
}

#include "moc_ClickWindow.cpp"
