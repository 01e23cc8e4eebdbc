#pragma once
// MainMenu: the main window's menu bar (Measurement, Time, Options, View,
// Help). Each item is an action named after the window's handler it calls
// (NT10 calls NT10Click); the Time and View items are exclusive groups. The
// window reads and sets the check marks through the actions kept here.
//
// Threads: user-interface thread only. Ownership: the menu bar owns the
// menus and actions, the window owns the groups.

#include <QList>

#include <cstdint>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class TMainForm;

class MainMenu {
public:
    MainMenu(TMainForm& form, QMenuBar& bar);

    // The menus in menu bar order.
    const QList<QMenu*>& menus() const { return m_menus; }
    // Checks the Time item of a recording time; none for a time the menu does not offer.
    void checkTimeLimit(std::int32_t timeLimitMs);

    QAction* Reset = nullptr;
    QAction* RunReport = nullptr;
    QAction* Journal = nullptr;
    QAction* Competition = nullptr;
    QAction* Exit = nullptr;
    QAction* NT10 = nullptr;
    QAction* NT20 = nullptr;
    QAction* NT30 = nullptr;
    QAction* NT40 = nullptr;
    QAction* NT50 = nullptr;
    QAction* NT60 = nullptr;
    QAction* Endless = nullptr;
    QAction* SelectInputDevice = nullptr;
    QAction* AutoReset = nullptr;
    QAction* MenuBPMFactor = nullptr;
    QAction* ClickWindow = nullptr;
    QAction* SpeedBuilder = nullptr;
    QAction* Count = nullptr;
    QAction* Speed = nullptr;
    QAction* Frequency = nullptr;
    QAction* Time = nullptr;
    QAction* HighScores = nullptr;
    QAction* Contents1 = nullptr;
    QAction* Info1 = nullptr;

private:
    QActionGroup* m_timeGroup = nullptr;
    QActionGroup* m_viewGroup = nullptr;
    QList<QMenu*> m_menus;
};
