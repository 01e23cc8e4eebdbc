// The main of a program of several QtTest classes (QtTestPrograms.h): the
// application QTEST_MAIN would make, then every class, each run whatever
// the ones before it found. The program fails when any class failed.

#include "QtTestPrograms.h"

#ifdef QT_WIDGETS_LIB
#include <QApplication>
using Application = QApplication;
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#endif

int main(int argc, char* argv[])
{
    Application app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    int failed = 0;
    for (const qttests::Run run : qttests::runs())
        failed |= run(argc, argv) != 0 ? 1 : 0;
    return failed;
}
