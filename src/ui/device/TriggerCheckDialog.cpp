#include "ui/device/TriggerCheckDialog.h"

#include "trigger/QX_TriggerDevice.h"
#include "trigger/SampleTap.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>
#include <memory>

TriggerCheckDialog* TriggerCheckDialog::openFor(bool audio, std::function<void(double)> onSetLevel, QWidget* parent,
                                                std::function<std::int64_t()> nowMs)
{
    if (!nowMs)
        nowMs = [] {
            return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now().time_since_epoch())
                                                 .count());
        };
    // The check reads the device that was open when it began; if another
    // replaces it, the check hears nothing more rather than a mix of two.
    const std::uint64_t serial = TriggerDevice ? TriggerDevice->serial() : 0;
    const auto current = [serial]() -> TQX_TriggerDevice* {
        return TriggerDevice && TriggerDevice->serial() == serial ? TriggerDevice.get() : nullptr;
    };
    // The check's own tap. It is detached when the dialog closes, and at the
    // latest when the dialog goes; detaching waits until the capture has
    // left it, and a device replaced meanwhile has been joined.
    struct CheckTap {
        std::function<TQX_TriggerDevice*()> device;
        SampleTap tap;
        void detach()
        {
            if (TQX_TriggerDevice* d = device())
                d->attachSampleTap(nullptr);
            device = [] { return nullptr; };
        }
        ~CheckTap() { detach(); }
    };
    std::shared_ptr<CheckTap> held;
    if (audio && current()) {
        held = std::make_shared<CheckTap>();
        held->device = current;
        if (!current()->attachSampleTap(&held->tap))
            held.reset();
    }
    const auto collect = [current, held](TriggerCheck& check) {
        TQX_TriggerDevice* device = current();
        if (held)
            held->tap.drain([&](const SampleBlock& b) {
                if (device)
                    check.addSamples(b.samples.data(), static_cast<std::size_t>(b.frames));
            });
        else if (device)
            device->drainStrokeEvents([&](const StrokeEvent& e) {
                check.addMidiStroke(e.tick, static_cast<int>(std::lround(e.level * 127.0f)));
            });
    };
    auto* dialog = new TriggerCheckDialog(collect, std::move(nowMs), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->OnSetLevel = std::move(onSetLevel);
    if (held)
        connect(dialog, &QDialog::finished, dialog, [held] { held->detach(); });
    dialog->show();
    return dialog;
}

TriggerCheckDialog::TriggerCheckDialog(std::function<void(TriggerCheck&)> collect, std::function<std::int64_t()> nowMs,
                                       QWidget* parent)
    : QDialog(parent), m_collect(std::move(collect)), m_nowMs(std::move(nowMs))
{
    setObjectName(QStringLiteral("TriggerCheckDialog"));
    setWindowTitle(QStringLiteral("Check Trigger"));
    Instructions = new QLabel(QStringLiteral("Press Start, then play for ten seconds: single strokes from very soft "
                                             "to very loud, then your fastest roll."),
                              this);
    Instructions->setWordWrap(true);
    Progress = new QLabel(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Results = new QLabel(this);
    Results->setObjectName(QStringLiteral("Results"));
    Results->setWordWrap(true);
    Results->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnStart = new QPushButton(QStringLiteral("Start"), this);
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnSetLevel = new QPushButton(QStringLiteral("Set Level"), this);
    btnSetLevel->setObjectName(QStringLiteral("btnSetLevel"));
    btnSetLevel->setEnabled(false);
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnStart);
    buttons->addStretch();
    buttons->addWidget(btnSetLevel);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Instructions);
    layout->addWidget(Progress);
    layout->addWidget(Results, 1);
    layout->addLayout(buttons);
    setMinimumSize(420, 320);

    Timer = new QTimer(this);
    Timer->setInterval(50);
    connect(Timer, &QTimer::timeout, this, &TriggerCheckDialog::TimerTick);
    connect(btnStart, &QPushButton::clicked, this, &TriggerCheckDialog::btnStartClick);
    connect(btnSetLevel, &QPushButton::clicked, this, &TriggerCheckDialog::btnSetLevelClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TriggerCheckDialog::btnStartClick()
{
    m_check = TriggerCheck{};
    TriggerCheck discard;
    m_collect(discard); // what came before Start is not part of the check
    m_startMs = m_nowMs();
    m_running = true;
    btnStart->setEnabled(false);
    btnSetLevel->setEnabled(false);
    Results->clear();
    Progress->setText(QStringLiteral("Play now: 10 s left."));
    Timer->start();
}

void TriggerCheckDialog::TimerTick()
{
    if (!m_running)
        return;
    m_collect(m_check);
    const std::int64_t elapsedMs = m_nowMs() - m_startMs;
    const auto totalMs = static_cast<std::int64_t>(TriggerCheck::kCheckSeconds * 1000.0);
    if (elapsedMs < totalMs) {
        Progress->setText(QStringLiteral("Play now: %1 s left.").arg((totalMs - elapsedMs + 999) / 1000));
        return;
    }
    Timer->stop();
    m_running = false;
    m_figures = m_check.figures();
    QStringList lines;
    for (const auto& verdict : m_figures.verdicts)
        lines << QString::fromStdString(verdict);
    Results->setText(lines.join(QLatin1Char('\n')));
    Progress->setText(QStringLiteral("Done."));
    btnStart->setText(QStringLiteral("Again"));
    btnStart->setEnabled(true);
    btnSetLevel->setEnabled(m_figures.audio && m_figures.strokes > 0 && std::fabs(m_figures.levelChangeDb) >= 3.0);
}

void TriggerCheckDialog::btnSetLevelClick()
{
    if (OnSetLevel)
        OnSetLevel(m_figures.levelChangeDb);
    accept();
}

#include "moc_TriggerCheckDialog.cpp"
