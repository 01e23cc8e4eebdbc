// Tempovaro: counts a drummer's strokes within a recording time.

#include "main/QX_Main.h"
#include "main/RunKeeper.h"
#include "persistence/QX_Global.h"
#include "session/QX_TriggerFactory.h"
#include "trigger/QX_TriggerDevice.h"
#include "ui/click/ClickWindow.h"
#include "ui/click/SpeedBuilderWindow.h"
#include "ui/competition/CompetitionWindow.h"
#include "ui/device/QX_DeviceSelect.h"
#include "ui/help/QX_About.h"
#include "ui/help/QX_Help.h"

#include <QAction>

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cstdlib>
#include <functional>
#include <utility>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string_view>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Ctrl+C in the terminal, a closed terminal or a logout would otherwise end
// the program at once and lose the session's scores, which are written when
// the main window closes. The handler only wakes the event loop, which then
// closes the window the ordinary way.
int g_terminateFds[2] = {-1, -1};

extern "C" void requestClose(int)
{
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_terminateFds[0], &wake, 1);
}

void closeOnTerminationSignals(QWidget& mainWindow, std::function<void()> beforeClose)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_terminateFds) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_terminateFds[1], QSocketNotifier::Read, &mainWindow);
    QObject::connect(notifier, &QSocketNotifier::activated, &mainWindow, [&mainWindow, beforeClose] {
        char drained[16];
        while (::read(g_terminateFds[1], drained, sizeof drained) > 0) {
        }
        beforeClose();
        mainWindow.close();
    });
    struct sigaction action {};
    action.sa_handler = requestClose;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

// --help and --version answer on the terminal and end the program before
// any window (or display connection) is made; every other argument is left
// to Qt (-platform, -style, ...).
std::optional<int> answerInfoOptions(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs("Usage: tempovaro [--help | --version] [Qt options]\n"
                       "Counts a drummer's strokes from an audio trigger or a MIDI kit and shows how fast\n"
                       "they play, with a score list, a practice journal and a report of each run.\n"
                       "\n"
                       "  -h, --help     show this help and exit\n"
                       "      --version  show the version and exit\n"
                       "\n"
                       "Qt's own options, such as -platform xcb, are accepted. The score list is\n"
                       "Tempovaro.qxs in the directory the program starts in; the journal is\n"
                       "$XDG_DATA_HOME/Tempovaro/journal.sqlite. See tempovaro(1) and\n"
                       "tempovaro-count(1).\n",
                       stdout);
            return 0;
        }
        if (arg == "--version") {
            std::fputs("tempovaro " TEMPOVARO_VERSION "\n", stdout);
            return 0;
        }
    }
    return std::nullopt;
}

// Qt ends the program with exit() when the X server goes away (a logout
// without a session manager): no close, and main's objects are never
// destroyed. This last chance keeps the run in progress and the runs the
// journal has not taken, as a termination signal would.
std::function<void()> g_lastChance;

extern "C" void useLastChance()
{
    if (auto lastChance = std::exchange(g_lastChance, nullptr))
        lastChance();
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> status = answerInfoOptions(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tempovaro"));
    // Wayland compositors and docks find the menu entry, and with it the
    // icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tempovaro.Tempovaro"));
    // The main window ends the program even while a modeless companion is open.
    QApplication::setQuitOnLastWindowClosed(false);

    // The click window is made when first needed, so a program that never
    // uses the click starts as before; it outlives the main window, whose
    // last state change may still reach it.
    std::unique_ptr<ClickWindow> Click;
    TMainForm MainForm;
    // While the click plays, the session times each run against it.
    const auto click = [&Click, &MainForm]() -> ClickWindow& {
        if (!Click) {
            Click = std::make_unique<ClickWindow>();
            QObject::connect(Click.get(), &ClickWindow::playingChanged, &MainForm, [&Click, &MainForm](bool playing) {
                ClickWindow* window = Click.get();
                MainForm.session().setClickSource(
                    playing ? MeasurementSession::ClickSource([window] { return window->clickOnOutput(); })
                            : MeasurementSession::ClickSource());
            });
            // A calibration listens on the trigger's input: the measurement
            // gives its device up meanwhile.
            Click->setInputHandover([&MainForm] { MainForm.lendInput(); },
                                    [&MainForm] { MainForm.ResetMeasurement(); });
            // A MIDI trigger's tap-along listens to the pad on a device of its own.
            Click->setTapDeviceMaker([] { return CreateTriggerDevice(DeviceProperties); });
        }
        return *Click;
    };
    // The companions come after the main window: the device dialog copies the
    // settings that the main window has just loaded.
    TAboutBox AboutBox;
    TDeviceSelect DeviceSelect(MainForm.session());
    THelpWindow HelpWindow;
    // A dialog that closes hands the keys (Space, F1) back to the main window,
    // which a bare X server would otherwise give to whatever window happens to
    // lie under the mouse pointer.
    // Runs go to the journal and the run report, both made when first needed.
    RunKeeper Runs;
    TMainForm::Companions companions;
    companions.ShowDeviceDialog = [&] { DeviceSelect.showModeless(); };
    companions.ShowHelp = [&] { HelpWindow.ShowHelp(); };
    companions.ShowAboutModal = [&] {
        AboutBox.exec();
        MainForm.activateWindow();
    };
    companions.ShowRunReport = [&] {
        const RunTracker& tracker = MainForm.runTracker();
        Runs.showReport(tracker.inProgress() ? &tracker.current() : nullptr);
    };
    companions.ShowJournal = [&] { Runs.showJournal(); };
    companions.ShowClick = [&] { click().showModeless(); };
    // The speed builder, made when first needed, listens to an endless
    // measurement of its own and plays its own click.
    std::unique_ptr<SpeedBuilderWindow> Builder;
    companions.ShowSpeedBuilder = [&] {
        if (!Builder) {
            SpeedBuilderHooks hooks;
            hooks.armMeasurement = [&] {
                if (ProgramSettings.TimeLimit >= 0)
                    MainForm.findChild<QAction*>(QStringLiteral("Endless"))->trigger();
                else
                    MainForm.ResetMeasurement();
                if (Click)
                    Click->stopPlaying();
            };
            hooks.strokes = [&] {
                const RunRecord& run = MainForm.runTracker().current();
                return SpeedStrokeFeed{&run.strokes, run.ticksPerSecond,
                                       TriggerDevice ? TriggerDevice->clockOffsetTicks() : std::nullopt,
                                       TriggerDevice ? TriggerDevice->clockLine() : std::nullopt};
            };
            Builder = std::make_unique<SpeedBuilderWindow>(std::move(hooks));
        }
        Builder->showModeless();
    };
    companions.MeasurementArmed = [&](bool armed) {
        if (Click || ClickSettings.WithMeasurement)
            click().measurementArmed(armed);
    };
    companions.ShowCompetitionModal = [&] {
        CompetitionWindow competition(QStringLiteral(TEMPOVARO_VERSION), &MainForm);
        // Each kept attempt joins the journal as a run that leads to its audit record.
        QObject::connect(&competition, &CompetitionWindow::attemptRun, &Runs,
                         [&Runs](const RunRecord& run) { Runs.runEnded(run); });
        competition.exec();
        MainForm.activateWindow();
    };
    companions.RunEnded = [&](const RunRecord& run) { Runs.runEnded(run); };
    companions.RunProgress = [&](const RunRecord& run) { Runs.runProgress(run); };
    MainForm.setCompanions(std::move(companions));
    MainForm.setDeviceDialogOpenQuery([&] { return DeviceSelect.isVisible(); });
    DeviceSelect.OnResetMeasurement = [&] {
        MainForm.ResetMeasurement();
        MainForm.activateWindow();
    };
    DeviceSelect.OnShowHelp = [&] { HelpWindow.ShowHelp(); };

    // A close the drummer asked for may ask about runs the journal has not
    // taken yet; a signal or a logout cannot wait for an answer, so those
    // runs are kept aside for the next start.
    bool unattendedClose = false;
    QObject::connect(&MainForm, &TMainForm::formClosed, &Runs, [&] { Runs.closeJournal(!unattendedClose); });
    // Runs go before the program quits: a dialog cannot run once it has.
    QObject::connect(&MainForm, &TMainForm::formClosed, &app, &QCoreApplication::quit);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &Runs, [&](QSessionManager&) {
        Runs.keepWaitingRunsAside();
    });
    closeOnTerminationSignals(MainForm, [&] { unattendedClose = true; });

    g_lastChance = [&] {
        MainForm.endRunAtExit();
        if (Builder)
            Builder->stop();
        Runs.closeJournal(false);
    };
    std::atexit(useLastChance);

    MainForm.show();
    // A new program's first window is the active one; without a window
    // manager (a bare X server) nobody else would make it so, and its first
    // activation is what opens the device dialog on a first run.
    MainForm.activateWindow();
    const int status = app.exec();
    g_lastChance = nullptr;
    return status;
}
