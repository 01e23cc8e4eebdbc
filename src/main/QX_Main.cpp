#include "main/QX_Main.h"
#include "ui/common/QX_Palette.h"

#include "main/MainClientArea.h"
#include "main/MainMenu.h"
#include "main/MainWindowLayout.h"
#include "main/ScoreGrid.h"
#include "persistence/QX_Defaults.h"
#include "persistence/QX_Global.h"
#include "ui/common/QX_Graphics.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {
constexpr int kGUITimerIntervalMs = MeasurementSession::kTickIntervalMs;
constexpr int kMinWindowWidth = 800;
constexpr int kMinWindowHeight = 600;
// The client area the window is designed at; sizes before the first layout follow it.
constexpr int kDesignClientWidth = 792;
constexpr int kDesignClientHeight = 546;
const QColor kDeviceHintColor{150, 0, 0};
} // namespace

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
    connect(m_session, &MeasurementSession::stateChanged, this, [this](TMeasureState state) {
        if (m_companions.MeasurementArmed && state != msRunning && state != msUndefined)
            m_companions.MeasurementArmed(state == msReady);
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

void TMainForm::lendInput()
{
    setGUITimerEnabled(false);
    m_session->close();
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

void TMainForm::ClickWindowClick()
{
    if (m_companions.ShowClick)
        m_companions.ShowClick();
}

void TMainForm::SpeedBuilderClick()
{
    if (m_companions.ShowSpeedBuilder)
        m_companions.ShowSpeedBuilder();
}

void TMainForm::CompetitionClick()
{
    if (!m_companions.ShowCompetitionModal)
        return;
    // The competition window takes the input until it closes.
    lendInput();
    m_companions.ShowCompetitionModal();
    ResetMeasurement();
}

void TMainForm::Info1Click()
{
    if (m_companions.ShowAboutModal)
        m_companions.ShowAboutModal();
}

QWidget* TMainForm::clientArea() const
{
    return m_client;
}

#include "moc_QX_Main.cpp"
