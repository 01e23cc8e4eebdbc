#pragma once
// THelpWindow: the program's built-in help, one fixed page of headings and
// paragraphs in a vertically scrolling box. Created once at start-up and only
// hidden when closed; ShowHelp brings the one window forward.
//
// Threads: user-interface thread only.

#include <QWidget>

class QScrollArea;

class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);

    // Shows the window modeless, or brings it to the front when it is open.
    void ShowHelp();

    // Moves the page by -Delta/2 pixels (integer division toward zero);
    // Delta is the wheel's angle delta, positive away from the user.
    void ScrollBox1MouseWheel(int Delta);

    QScrollArea* ScrollBox1 = nullptr;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void FormCreate();
    void FormActivate();
};
