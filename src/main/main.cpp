// Tempovaro: counts a drummer's strokes within a recording time.

#include "QX_About.h"
#include "QX_DeviceSelect.h"
#include "QX_Help.h"
#include "QX_Main.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tempovaro"));
    // The main window ends the program even while a modeless companion is open.
    QApplication::setQuitOnLastWindowClosed(false);

    TMainForm MainForm;
    QObject::connect(&MainForm, &TMainForm::formClosed, &app, &QCoreApplication::quit);
    // The companions come after the main window: the device dialog copies the
    // settings that the main window has just loaded.
    TAboutBox AboutBox;
    TDeviceSelect DeviceSelect;
    THelpWindow HelpWindow;
    // A dialog that closes hands the keys (Space, F1) back to the main window,
    // which a bare X server would otherwise give to whatever window happens to
    // lie under the mouse pointer.
    MainForm.SetCompanions({[&] { DeviceSelect.ShowModeless(); }, [&] { HelpWindow.ShowHelp(); },
                            [&] {
                                AboutBox.exec();
                                MainForm.activateWindow();
                            }});
    DeviceSelect.OnResetMeasurement = [&] {
        MainForm.ResetMeasurement();
        MainForm.activateWindow();
    };
    DeviceSelect.OnShowHelp = [&] { HelpWindow.ShowHelp(); };

    MainForm.show();
    // A new program's first window is the active one; without a window
    // manager (a bare X server) nobody else would make it so, and its first
    // activation is what opens the device dialog on a first run.
    MainForm.activateWindow();
    return app.exec();
}
