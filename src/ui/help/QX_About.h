#pragma once
// TAboutBox: product name, version, copyright and the two links (e-mail and
// web page) over the about picture. Created once at start-up; the main window
// shows it modal with exec().
//
// Threads: user-interface thread only.

#include <QDialog>

class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    static const char* const MailAddress;
    static const char* const WebAddress;

    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Copy = nullptr;
    QLabel* Mail = nullptr;
    QLabel* Comments = nullptr;
    QPushButton* OKButton = nullptr;

public slots:
    void OKButtonClick();
    void MailClick();
    void CommentsClick();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
};
