// Tempovaro: counts a drummer's strokes within a recording time.

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

    MainForm.show();
    return app.exec();
}
