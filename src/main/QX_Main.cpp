#include "QX_Main.h"
#include "QX_Palette.h"

#include "DisplayText.h"
#include "MainMenu.h"
#include "QX_Defaults.h"
#include "QX_Global.h"
#include "QX_Graphics.h"
#include "ScoreGrid.h"
#include "StopwatchClock.h"
#include "TextContrast.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr int kGUITimerIntervalMs = MeasurementSession::kTickIntervalMs;
constexpr int kMinWindowWidth = 800;
constexpr int kMinWindowHeight = 600;
// The client area the window is designed at; sizes before the first layout follow it.
constexpr int kDesignClientWidth = 792;
constexpr int kDesignClientHeight = 546;
constexpr int kSmallFigureAbove = 9999;

const QColor kFigureLight{151, 160, 176};
const QColor kFigureRunning{0, 0, 0};
const QColor kFigureRecord{222, 0, 0};
const QColor kUnitColor{171, 184, 204};
const QColor kDeviceHintColor{150, 0, 0};

int roundEven(double v)
{
    return static_cast<int>(std::nearbyint(v));
}

} // namespace

// The client area: paints the background and the clock and reports its size
// changes, which drive the whole layout.
class TMainForm::ClientArea : public QWidget {
public:
    explicit ClientArea(TMainForm* form)
        : QWidget(form)
        , m_form(form)
    {
        setObjectName(QStringLiteral("ClientArea"));
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), kWindowColor);
        if (!m_form->m_image6.isNull())
            painter.drawImage(event->rect(), m_form->m_image6, event->rect());
        m_form->FormPaint(painter, event->rect());
    }
    void resizeEvent(QResizeEvent*) override { m_form->FormResize(); }
    // A click beside the figure ends whatever the menu bar kept of the keyboard.
    void mousePressEvent(QMouseEvent* event) override
    {
        m_form->giveKeysToScoreList();
        QWidget::mousePressEvent(event);
    }

private:
    TMainForm* m_form;
};

TMainForm::TMainForm(QWidget* parent, bool manualTicks)
    : QMainWindow(parent)
    , m_manualTicks(manualTicks)
    , m_session(new MeasurementSession(*this, this))
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Tempovaro"));
    setWindowIcon(QIcon(QStringLiteral(":/ICON")));
    createControls();
    createMenu();
    connectSession();
    FormCreate();
}

TMainForm::~TMainForm()
{
    GUITimer->stop();
}

void TMainForm::setCompanions(Companions companions)
{
    m_companions = std::move(companions);
    disconnect(m_session, &MeasurementSession::runProgress, this, nullptr);
    if (m_companions.RunProgress)
        connect(m_session, &MeasurementSession::runProgress, this,
                [this](const RunRecord& run) { m_companions.RunProgress(run); });
}

void TMainForm::setDeviceDialogOpenQuery(std::function<bool()> isOpen)
{
    m_session->setDeviceDialogOpenQuery(std::move(isOpen));
}

void TMainForm::connectSession()
{
    connect(m_session, &MeasurementSession::stateChanged, this, &TMainForm::showState);
    connect(m_session, &MeasurementSession::hintChanged, this, &TMainForm::showHint);
    connect(m_session, &MeasurementSession::scoreAdded, this, &TMainForm::FillScoreGrid);
    connect(m_session, &MeasurementSession::runEnded, this, [this](const RunRecord& run) {
        if (m_companions.RunEnded)
            m_companions.RunEnded(run);
    });
}

void TMainForm::createControls()
{
    m_client = new ClientArea(this);
    m_client->resize(kDesignClientWidth, kDesignClientHeight);
    setCentralWidget(m_client);
    // Where MS Sans Serif is missing, Liberation Sans comes closest to its
    // widths (as in the dialogs); fontconfig's own stand-in is too wide for the
    // 59-pixel date column.
    QFont windowFont;
    windowFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    windowFont.setPointSize(8);
    m_client->setFont(windowFont);

    m_image1 = LoadPicture(QStringLiteral(":/BACKGROUND"));
    m_image2 = LoadPicture(QStringLiteral(":/STOPWATCH"));

    LabelValue = new QLabel(QStringLiteral("8989"), m_client);
    LabelValue->setObjectName(QStringLiteral("LabelValue"));
    LabelValue->setFont(QFont(QStringLiteral("Arial")));
    LabelUnit = new QLabel(QStringLiteral("Beats"), m_client);
    LabelUnit->setObjectName(QStringLiteral("LabelUnit"));
    QFont unitFont(QStringLiteral("Arial"));
    unitFont.setBold(true);
    LabelUnit->setFont(unitFont);
    for (QLabel* label : {LabelValue, LabelUnit}) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setFocusPolicy(Qt::NoFocus);
        label->adjustSize();
    }

    ResultGrid = new ScoreGrid(m_client);
    ResultGrid->setObjectName(QStringLiteral("ResultGrid"));
    ResultGrid->OnDrawCell = [this](QPainter& p, int col, int row, const QRect& r) { ResultGridDrawCell(p, col, row, r); };
    ResultGrid->OnMouseDown = [this](Qt::MouseButton b, int x, int y) { ResultGridMouseDown(b, x, y); };
    ResultGrid->OnKeyDown = [this](QKeyEvent* e) { ResultGridKeyDown(e); };
    ResultGrid->OnMouseWheelDown = [this] { ResultGridMouseWheelDown(); };
    ResultGrid->OnMouseWheelUp = [this] { ResultGridMouseWheelUp(); };

    PanelCategory = new QFrame(m_client);
    PanelCategory->setObjectName(QStringLiteral("PanelCategory"));
    PanelCategory->setFrameStyle(QFrame::Box | QFrame::Plain);
    PanelCategory->setLineWidth(1);
    QPalette panelPalette = PanelCategory->palette();
    panelPalette.setColor(QPalette::Window, kWindowColor);
    panelPalette.setColor(QPalette::WindowText, Qt::black);
    PanelCategory->setPalette(panelPalette);
    PanelCategory->setAutoFillBackground(true);
    PanelCategoryText = new QLabel(QStringLiteral("---"), PanelCategory);
    PanelCategoryText->setObjectName(QStringLiteral("PanelCategoryText"));
    PanelCategoryText->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    PanelCategoryText->setAutoFillBackground(true);

    // Below the figure, the unit and the score list, so it hides none of them.
    m_deviceHint = new QLabel(m_client);
    m_deviceHint->setObjectName(QStringLiteral("DeviceHint"));
    QFont hintFont(QStringLiteral("Arial"));
    hintFont.setBold(true);
    hintFont.setPointSize(12);
    m_deviceHint->setFont(hintFont);
    m_deviceHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_deviceHint->setFocusPolicy(Qt::NoFocus);
    setLabelColor(m_deviceHint, kDeviceHintColor);
    m_deviceHint->hide();

    GUITimer = new QTimer(this);
    GUITimer->setObjectName(QStringLiteral("GUITimer"));
    GUITimer->setTimerType(Qt::PreciseTimer);
    connect(GUITimer, &QTimer::timeout, this, &TMainForm::GUITimerTimer);
}

void TMainForm::createMenu()
{
    QMenuBar* bar = menuBar();
    m_menu = std::make_unique<MainMenu>(*this, *bar);

    // A menu left with Escape leaves the menu bar in keyboard mode, where it
    // would swallow Space and F1 until a second Escape. The check waits for
    // the event loop, as moving to the next menu with the arrow keys hides
    // one menu just before the other opens.
    for (QMenu* menu : m_menu->menus())
        connect(menu, &QMenu::aboutToHide, this,
                [this] { QTimer::singleShot(0, this, &TMainForm::giveKeysToScoreList); });
    // Should the menu bar still hold the keys (a window system that hands
    // the focus back late), Space and F1 keep their meaning there too.
    bar->installEventFilter(this);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == menuBar() && event->type() == QEvent::KeyPress && !QApplication::activePopupWidget()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space || key->key() == Qt::Key_F1) {
            giveKeysToScoreList();
            ResultGridKeyDown(key);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::giveKeysToScoreList()
{
    QMenuBar* bar = menuBar();
    // The window's own focus child: the window may be inactive for a moment
    // while the menu's popup goes.
    if (QApplication::activePopupWidget() || focusWidget() != bar)
        return;
    // Escape is how the menu bar itself leaves keyboard mode; it hands the
    // focus back to the widget that had it before.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(bar, &escape);
    if (ResultGrid->isEnabled() && !ResultGrid->hasFocus())
        ResultGrid->setFocus(Qt::OtherFocusReason);
}

void TMainForm::FormCreate()
{
    // The window colour is painted by the client area under the background.
    ValueFontSize = roundEven(kDesignClientHeight * 0.24);
    ValueFontSizeSmall = roundEven(kDesignClientHeight * 0.12);

    DeviceProperties = defaultDeviceProperties();

    ProgramSettings = defaultProgramSettings();

    std::memset(Scores.data(), 0, sizeof(TQX_Score) * Scores.size());
    ShowDeviceDialogOnActivate = !LoadSettings();
    LoadScores();
    FillScoreGrid();

    // A damaged store can hold any size: keep the window on the screen, but
    // never below the smallest size the layout is made for.
    setMinimumSize(kMinWindowWidth, kMinWindowHeight);
    const QRect available = screen() ? screen()->availableGeometry() : QRect(0, 0, kMinWindowWidth, kMinWindowHeight);
    const int width = std::max(kMinWindowWidth, std::min(ProgramSettings.WindowWidth, available.width()));
    const int height = std::max(kMinWindowHeight, std::min(ProgramSettings.WindowHeight, available.height()));
    resize(width, height);
    move(available.center() - QPoint(width / 2, height / 2));

    m_menu->checkTimeLimit(ProgramSettings.TimeLimit);

    m_menu->Time->setChecked(ProgramSettings.ShowClock != 0);
    m_menu->HighScores->setChecked(ProgramSettings.ShowScores != 0);
    PanelCategory->setVisible(m_menu->HighScores->isChecked());
    m_menu->AutoReset->setChecked(ProgramSettings.AutoReset != 0);
    m_menu->MenuBPMFactor->setChecked(ProgramSettings.BpmFactor == 0.25f);

    if (ProgramSettings.Maximized != 0)
        setWindowState(windowState() | Qt::WindowMaximized);

    ClockSeconds = 0;
    ClockDrawnSeconds = -1;
    DrawClock();
    ClockDrawnSeconds = -1;

    ResultGrid->SetColor(kPanelColor);
    ResultGrid->SetCell(0, 0, QStringLiteral("Strokes"));
    ResultGrid->SetCell(1, 0, QStringLiteral("Date"));

    SetDisplayState(msReady);
    ApplyDisplayMode();
    GUITimer->setInterval(kGUITimerIntervalMs);
    ResetMeasurement();
    ResultGrid->setFocus();
}

bool TMainForm::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    else if (event->type() == QEvent::Resize)
        keepMinimumSize(static_cast<QResizeEvent*>(event)->size());
    return QMainWindow::event(event);
}

// A window manager honours the minimum size; on a bare X server nobody does,
// and a smaller window hides the figure behind the score list. Ask once for
// the smallest allowed size; if something insists on less, leave it be.
void TMainForm::keepMinimumSize(QSize newSize)
{
    if (newSize.expandedTo(minimumSize()) == newSize) {
        m_minimumSizeRequested = false;
        return;
    }
    if (m_minimumSizeRequested || !isWindow() || (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    m_minimumSizeRequested = true;
    QTimer::singleShot(0, this, [this] { resize(size().expandedTo(minimumSize())); });
}

void TMainForm::FormActivate()
{
    if (ShowDeviceDialogOnActivate && m_companions.ShowDeviceDialog)
        m_companions.ShowDeviceDialog();
    ShowDeviceDialogOnActivate = false;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    QMainWindow::closeEvent(event);
    emit formClosed();
}

void TMainForm::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    setGUITimerEnabled(false);
    QCoreApplication::processEvents();
    // A run still going when the program closes is kept as cut short.
    m_session->close();

    ProgramSettings.WindowWidth = width();
    ProgramSettings.WindowHeight = height();
    ProgramSettings.Maximized = isMaximized() ? 1 : 0;
    // A store that refuses the settings must not cost the session's scores.
    SaveSettings();
    SaveScores();
}

void TMainForm::setGUITimerEnabled(bool enabled)
{
    m_guiTimerEnabled = enabled;
    if (enabled && !m_manualTicks)
        GUITimer->start();
    else
        GUITimer->stop();
}

// ---- Measurement cycle -------------------------------------------------------

void TMainForm::SetDisplayState(TMeasureState NewState)
{
    m_session->SetDisplayState(NewState);
}

void TMainForm::ResetMeasurement()
{
    setGUITimerEnabled(false);
    QCoreApplication::processEvents();
    m_session->reset();
    setGUITimerEnabled(true);
}

void TMainForm::SetTimeLimit(std::int32_t Milliseconds)
{
    ProgramSettings.TimeLimit = Milliseconds;
    ResetMeasurement();
    ClockDrawnSeconds = -1;
    DrawClock();
    FillScoreGrid();
}

void TMainForm::GUITimerTimer()
{
    m_session->tick();
}

// ---- Menu ----------------------------------------------------------------------

void TMainForm::ResetClick()
{
    ResetMeasurement();
}

void TMainForm::ExitClick()
{
    close();
}

void TMainForm::NT10Click() { SetTimeLimit(kTimeLimitsMs[0]); }
void TMainForm::NT20Click() { SetTimeLimit(kTimeLimitsMs[1]); }
void TMainForm::NT30Click() { SetTimeLimit(kTimeLimitsMs[2]); }
void TMainForm::NT40Click() { SetTimeLimit(kTimeLimitsMs[3]); }
void TMainForm::NT50Click() { SetTimeLimit(kTimeLimitsMs[4]); }
void TMainForm::NT60Click() { SetTimeLimit(kTimeLimitsMs[5]); }
void TMainForm::EndlessClick() { SetTimeLimit(kTimeLimitEndless); }

void TMainForm::SelectInputDeviceClick()
{
    if (m_companions.ShowDeviceDialog)
        m_companions.ShowDeviceDialog();
    ResetMeasurement();
}

void TMainForm::AutoResetClick()
{
    ProgramSettings.AutoReset = m_menu->AutoReset->isChecked() ? 1 : 0;
}

void TMainForm::MenuBPMFactorClick()
{
    ProgramSettings.BpmFactor = m_menu->MenuBPMFactor->isChecked() ? 0.25f : 1.0f;
    ApplyDisplayMode();
}

void TMainForm::CountClick()
{
    ProgramSettings.DisplayMode = kDisplayModeCount;
    ApplyDisplayMode();
}

void TMainForm::SpeedClick()
{
    ProgramSettings.DisplayMode = kDisplayModeBpm;
    ApplyDisplayMode();
}

void TMainForm::FrequencyClick()
{
    ProgramSettings.DisplayMode = kDisplayModeFrequency;
    ApplyDisplayMode();
}

void TMainForm::TimeClick()
{
    ProgramSettings.ShowClock = m_menu->Time->isChecked() ? 1 : 0;
    // Seconds passed while the clock was off: the next paint composes it anew.
    m_clockPaintPending = false;
    m_client->update();
}

void TMainForm::HighScoresClick()
{
    ProgramSettings.ShowScores = m_menu->HighScores->isChecked() ? 1 : 0;
    PanelCategory->setVisible(ProgramSettings.ShowScores != 0);
    ApplyDisplayMode();
}

void TMainForm::Contents1Click()
{
    if (m_companions.ShowHelp)
        m_companions.ShowHelp();
}

void TMainForm::RunReportClick()
{
    if (m_companions.ShowRunReport)
        m_companions.ShowRunReport();
}

void TMainForm::JournalClick()
{
    if (m_companions.ShowJournal)
        m_companions.ShowJournal();
}

void TMainForm::Info1Click()
{
    if (m_companions.ShowAboutModal)
        m_companions.ShowAboutModal();
}

// ---- Display and layout ------------------------------------------------------
void TMainForm::FormPaint(QPainter& painter, const QRect& dirty)
{
    if (m_image4.isNull() || !dirty.intersects(m_image4.rect()))
        return;
    if (m_clockPaintPending) {
        // The paint DrawClock asked for shows the picture it has just composed;
        // forcing a new one here would redraw the clock at every tick.
        m_clockPaintPending = false;
    } else {
        m_paintingClient = true;
        ClockDrawnSeconds = -1;
        DrawClock();
        ClockDrawnSeconds = -1;
        m_paintingClient = false;
    }
    if (ProgramSettings.ShowClock && !m_clockOverlay.isNull())
        painter.drawImage(0, 0, m_clockOverlay);
}

int TMainForm::clientWidth() const
{
    return m_client->width();
}

int TMainForm::clientHeight() const
{
    return m_client->height();
}

void TMainForm::setLabelText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

void TMainForm::setLabelFontSize(QLabel* label, int points)
{
    QFont font = label->font();
    font.setPointSize(std::max(1, points));
    label->setFont(font);
    label->adjustSize();
}

void TMainForm::setLabelColor(QLabel* label, QColor color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

void TMainForm::placeValueLabelTop()
{
    LabelValue->move(LabelValue->x(), roundEven(clientHeight() * 0.42) - LabelValue->height() / 2);
}

void TMainForm::centreLabel(QLabel* label)
{
    label->move(clientWidth() / 2 - label->width() / 2, label->y());
}

void TMainForm::showState(TMeasureState NewState)
{
    switch (NewState) {
    case msReady:
        setLabelColor(LabelValue, kFigureLight);
        setLabelFontSize(LabelValue, ValueFontSize);
        placeValueLabelTop();
        break;
    case msRunning:
        setLabelColor(LabelValue, kFigureRunning);
        break;
    case msFinished:
        setLabelColor(LabelValue, kFigureLight);
        break;
    case msRecord:
        setLabelColor(LabelValue, ProgramSettings.DisplayMode == kDisplayModeCount ? kFigureRecord : kFigureLight);
        break;
    case msUndefined:
        break;
    }
}

void TMainForm::showHint(const QString& hint)
{
    setLabelText(m_deviceHint, hint);
    m_deviceHint->setVisible(!hint.isEmpty());
    placeDeviceHint();
}

void TMainForm::placeDeviceHint()
{
    m_deviceHint->move(clientWidth() / 2 - m_deviceHint->width() / 2,
                       roundEven(clientHeight() * 0.93) - m_deviceHint->height() / 2);
}

QString TMainForm::deviceHint() const
{
    return m_deviceHint->isHidden() ? QString() : m_deviceHint->text();
}

void TMainForm::showValue(std::int32_t count, float strokesPerSecond, bool newStroke)
{
    switch (ProgramSettings.DisplayMode) {
    case kDisplayModeCount:
        if (newStroke)
            showCount(count);
        break;
    case kDisplayModeBpm: {
        const float bpm = strokesPerSecond * 60.0f * ProgramSettings.BpmFactor;
        setLabelText(LabelValue, FormatFixed(bpm, 4, 0, QLocale::system().decimalPoint()));
        break;
    }
    case kDisplayModeFrequency:
        setLabelText(LabelValue, FormatFixed(strokesPerSecond, 3, 1, QLocale::system().decimalPoint()));
        break;
    default:
        break;
    }
    centreLabel(LabelValue);
}

void TMainForm::showClock(std::int32_t seconds)
{
    ClockSeconds = seconds;
    DrawClock();
}

void TMainForm::showCount(std::int32_t count)
{
    if (count > kSmallFigureAbove) {
        setLabelFontSize(LabelValue, ValueFontSizeSmall);
        placeValueLabelTop();
    }
    setLabelText(LabelValue, QString::number(count));
    centreLabel(LabelValue);
}

void TMainForm::ApplyDisplayMode()
{
    ResultGrid->setVisible(ProgramSettings.ShowScores != 0);
    switch (ProgramSettings.DisplayMode) {
    case kDisplayModeCount:
        setLabelText(LabelUnit, QStringLiteral("Strokes"));
        setLabelText(LabelValue, QStringLiteral("0"));
        m_menu->Count->setChecked(true);
        break;
    case kDisplayModeBpm:
        setLabelText(LabelUnit, ProgramSettings.BpmFactor == 0.25f ? QStringLiteral("BPM@16th") : QStringLiteral("BPM"));
        setLabelText(LabelValue, QStringLiteral("0"));
        m_menu->Speed->setChecked(true);
        break;
    case kDisplayModeFrequency:
        setLabelText(LabelUnit, QStringLiteral("Hz"));
        setLabelText(LabelValue, QStringLiteral("0.0"));
        m_menu->Frequency->setChecked(true);
        break;
    default:
        break;
    }
    centreLabel(LabelUnit);
}

void TMainForm::DrawClock()
{
    if (!ProgramSettings.ShowClock)
        return;
    if (ClockSeconds == ClockDrawnSeconds)
        return;
    ClockDrawnSeconds = ClockSeconds;
    if (m_image3.isNull() || m_image4.isNull())
        return;

    composeClock(m_image4, m_image3, ClockSeconds, ProgramSettings.TimeLimit);
    m_clockOverlay = clockOverlay(m_image4);
    ++m_clockDrawCount;
    if (!m_paintingClient) {
        m_clockPaintPending = true;
        m_client->update(m_image4.rect());
    }
}

void TMainForm::FormResize()
{
    const int cw = clientWidth();
    const int ch = clientHeight();

    ValueFontSize = roundEven(ch * 0.24);
    ValueFontSizeSmall = roundEven(ch * 0.12);
    setLabelFontSize(LabelValue, ValueFontSize);
    setLabelFontSize(LabelUnit, roundEven(cw * 0.025));
    LabelValue->move(cw / 2 - LabelValue->width() / 2, LabelValue->y());
    LabelUnit->move(cw / 2 - LabelUnit->width() / 2, LabelUnit->y());
    LabelValue->move(LabelValue->x(), roundEven(ch * 0.42) - LabelValue->height() / 2);
    LabelUnit->move(LabelUnit->x(), roundEven(ch * 0.7) - LabelUnit->height() / 2);

    if (!ResampleBitmap(m_image1, 0, 0, m_image1.width(), m_image1.height(), m_image6, cw, ch)) {
        // No background picture (or no room): the window colour shows instead.
        m_image6 = QImage();
    }

    const int faceWidth = roundEven(cw * 0.22);
    const int faceHeight = roundEven(faceWidth * 1.342);
    if (faceWidth > 0 && faceHeight > 0) {
        m_image3 = QImage(faceWidth, faceHeight, QImage::Format_BGR888);
        m_image3.fill(Qt::black);
        if (!m_image2.isNull()) {
            QPainter painter(&m_image3);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter.drawImage(QRect(0, 0, faceWidth, faceHeight), m_image2);
        }
        m_image4 = QImage(faceWidth, faceHeight, QImage::Format_BGR888);
    } else {
        m_image3 = QImage();
        m_image4 = QImage();
    }

    const int gridHeight = (roundEven(ch * 0.64) / 18) * 18 + 1;
    const int gridLeft = std::min(roundEven(cw * 0.85), cw - 140);
    const int gridTop = roundEven(ch * 0.11);
    ResultGrid->setGeometry(gridLeft, gridTop, 140, gridHeight);
    ResultGrid->ClearSelection();

    PanelCategory->setGeometry(ResultGrid->x(), ResultGrid->y() + ResultGrid->height() - 1, ResultGrid->width(), 19);
    PanelCategoryText->setGeometry(1, 2, PanelCategory->width() - 2, PanelCategory->height() - 2);

    setLabelColor(LabelUnit, kUnitColor);
    placeDeviceHint();

    ClockDrawnSeconds = -1;
    DrawClock();
    ClockDrawnSeconds = -1;
    m_client->update();
}

// ---- Score list --------------------------------------------------------------
void TMainForm::FillScoreGrid()
{
    const std::int32_t timeLimit = ProgramSettings.TimeLimit;
    PanelCategoryText->setText(timeLimit > 0 ? QString::number(timeLimit / 1000) + QStringLiteral(" Seconds")
                                             : QStringLiteral("Endless"));
    ResultGrid->SetRowCount(MaxScores + 1);
    if (timeLimit < 0) {
        // Endless keeps no scores: the rows of the last category stay, greyed,
        // and still readable on the list's pale blue.
        ResultGrid->setEnabled(false);
        ResultGrid->SetFontColor(
            readableGreyedText(ResultGrid->palette().color(QPalette::Disabled, QPalette::Text), kPanelColor));
        return;
    }
    const bool wasEnabled = ResultGrid->isEnabled();
    ResultGrid->setEnabled(true);
    ResultGrid->SetFontColor(Qt::black);
    // It is the window's only focusable control; give the keys back to it.
    if (!wasEnabled && isActiveWindow())
        ResultGrid->setFocus();

    // The table stays in the order shown, which decides the score AddScore
    // drops from a full table.
    if (ProgramSettings.SortByStrokes != 0)
        SortScoresByStrokes(0, MaxScores - 1);
    else
        SortScoresByDate(0, MaxScores - 1);

    const std::int32_t seconds = timeLimit / 1000;
    int row = 0;
    for (const TQX_Score& score : Scores) {
        if (score.Date == 0.0)
            break;
        if (score.Seconds == seconds) {
            ++row;
            ResultGrid->SetCell(0, row, QString::number(score.Strokes));
            ResultGrid->SetCell(1, row, ScoreDateText(score.Date));
        }
    }
    for (int r = row + 1; r <= MaxScores; ++r) {
        ResultGrid->SetCell(0, r, QString());
        ResultGrid->SetCell(1, r, QString());
    }
}

void TMainForm::ResultGridDrawCell(QPainter& painter, int ACol, int ARow, const QRect& Rect)
{
    painter.fillRect(Rect, ARow == 0 ? kWindowColor : ResultGrid->Color());
    painter.setPen(ResultGrid->FontColor());
    painter.setFont(ResultGrid->font());
    const QRect textRect(Rect.left() + 2, Rect.top() + 2, Rect.width(), Rect.height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, ResultGrid->Cell(ACol, ARow));
}

void TMainForm::ResultGridKeyDown(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space)
        ResetMeasurement();
    if (event->key() == Qt::Key_F1 && m_companions.ShowHelp)
        m_companions.ShowHelp();
}

void TMainForm::ResultGridMouseDown(Qt::MouseButton, int X, int Y)
{
    if (Y < ScoreGrid::kRowHeight) {
        ProgramSettings.SortByStrokes = X < ScoreGrid::kColWidth + ScoreGrid::kLineWidth ? 1 : 0;
        FillScoreGrid();
    }
}

void TMainForm::ResultGridMouseWheelDown()
{
    if (ResultGrid->TopRow() + ResultGrid->VisibleRowCount() < ResultGrid->RowCount())
        ResultGrid->SetTopRow(ResultGrid->TopRow() + 1);
}

void TMainForm::ResultGridMouseWheelUp()
{
    if (ResultGrid->TopRow() > ScoreGrid::kFixedRows)
        ResultGrid->SetTopRow(ResultGrid->TopRow() - 1);
}

QWidget* TMainForm::clientArea() const
{
    return m_client;
}
