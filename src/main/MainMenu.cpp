#include "main/MainMenu.h"

#include "main/QX_Main.h"
#include "persistence/QX_Global.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

MainMenu::MainMenu(TMainForm& form, QMenuBar& bar)
{
    auto item = [&form](QMenu* menu, const char* name, const QString& caption, void (TMainForm::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        QObject::connect(action, &QAction::triggered, &form, handler);
        return action;
    };
    auto checkItem = [&](QMenu* menu, const char* name, const QString& caption, void (TMainForm::*handler)()) {
        QAction* action = item(menu, name, caption, handler);
        action->setCheckable(true);
        return action;
    };

    QMenu* measurement = bar.addMenu(QStringLiteral("&Measurement"));
    Reset = item(measurement, "Reset", QStringLiteral("&Reset     Space"), &TMainForm::ResetClick);
    measurement->addSeparator();
    RunReport = item(measurement, "RunReport", QStringLiteral("Run &Report…"), &TMainForm::RunReportClick);
    RunReport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    Journal = item(measurement, "Journal", QStringLiteral("&Journal…"), &TMainForm::JournalClick);
    Journal->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
    Competition = item(measurement, "Competition", QStringLiteral("&Competition…"), &TMainForm::CompetitionClick);
    measurement->addSeparator();
    Exit = item(measurement, "Exit", QStringLiteral("E&xit"), &TMainForm::ExitClick);

    QMenu* time = bar.addMenu(QStringLiteral("&Time"));
    NT10 = checkItem(time, "NT10", QStringLiteral("10 s"), &TMainForm::NT10Click);
    NT20 = checkItem(time, "NT20", QStringLiteral("20 s"), &TMainForm::NT20Click);
    NT30 = checkItem(time, "NT30", QStringLiteral("30 s"), &TMainForm::NT30Click);
    NT40 = checkItem(time, "NT40", QStringLiteral("40 s"), &TMainForm::NT40Click);
    NT50 = checkItem(time, "NT50", QStringLiteral("50 s"), &TMainForm::NT50Click);
    NT60 = checkItem(time, "NT60", QStringLiteral("60 s"), &TMainForm::NT60Click);
    time->addSeparator();
    Endless = checkItem(time, "Endless", QStringLiteral("&Endless"), &TMainForm::EndlessClick);
    m_timeGroup = new QActionGroup(&form);
    for (QAction* a : {NT10, NT20, NT30, NT40, NT50, NT60, Endless})
        m_timeGroup->addAction(a);

    QMenu* options = bar.addMenu(QStringLiteral("&Options"));
    SelectInputDevice = item(options, "SelectInputDevice", QStringLiteral("&Select Trigger Device"),
                             &TMainForm::SelectInputDeviceClick);
    options->addSeparator();
    AutoReset = checkItem(options, "AutoReset", QStringLiteral("&Auto Reset Measurement"), &TMainForm::AutoResetClick);
    MenuBPMFactor = checkItem(options, "MenuBPMFactor", QStringLiteral("Show BPM @ 16th notes"),
                              &TMainForm::MenuBPMFactorClick);
    options->addSeparator();
    ClickWindow = item(options, "ClickWindow", QStringLiteral("&Click…"), &TMainForm::ClickWindowClick);
    ClickWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    SpeedBuilder = item(options, "SpeedBuilder", QStringLiteral("Speed &Builder…"), &TMainForm::SpeedBuilderClick);

    QMenu* view = bar.addMenu(QStringLiteral("&View"));
    Count = checkItem(view, "Count", QStringLiteral("&Count"), &TMainForm::CountClick);
    Speed = checkItem(view, "Speed", QStringLiteral("&BPM"), &TMainForm::SpeedClick);
    Frequency = checkItem(view, "Frequency", QStringLiteral("&Frequency"), &TMainForm::FrequencyClick);
    m_viewGroup = new QActionGroup(&form);
    for (QAction* a : {Count, Speed, Frequency})
        m_viewGroup->addAction(a);
    view->addSeparator();
    Time = checkItem(view, "Time", QStringLiteral("&Clock"), &TMainForm::TimeClick);
    HighScores = checkItem(view, "HighScores", QStringLiteral("&Scores"), &TMainForm::HighScoresClick);

    QMenu* help = bar.addMenu(QStringLiteral("&Help"));
    Contents1 = item(help, "Contents1", QStringLiteral("&Contents"), &TMainForm::Contents1Click);
    help->addSeparator();
    Info1 = item(help, "Info1", QStringLiteral("&About"), &TMainForm::Info1Click);

    m_menus = {measurement, time, options, view, help};
}

void MainMenu::checkTimeLimit(std::int32_t timeLimitMs)
{
    switch (timeLimitMs) {
    case kTimeLimitsMs[0]: NT10->setChecked(true); break;
    case kTimeLimitsMs[1]: NT20->setChecked(true); break;
    case kTimeLimitsMs[2]: NT30->setChecked(true); break;
    case kTimeLimitsMs[3]: NT40->setChecked(true); break;
    case kTimeLimitsMs[4]: NT50->setChecked(true); break;
    case kTimeLimitsMs[5]: NT60->setChecked(true); break;
    case kTimeLimitEndless: Endless->setChecked(true); break;
    default:
        if (QAction* checked = m_timeGroup->checkedAction())
            checked->setChecked(false);
        break;
    }
}
