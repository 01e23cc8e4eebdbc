// The main of a program of several QtTest classes (QtTestPrograms.h): the
// application QTEST_MAIN would make, then every class, each run whatever
// the ones before it found. The program fails when any class failed.

#include "QtTestPrograms.h"

#include <cstdio>

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
    const QByteArray only = qgetenv("TEMPOVARO_QTEST_CLASS");
    int failed = 0;
    bool ran = false;
    for (const auto& [name, run] : qtTestRuns()) {
        if (!only.isEmpty() && only != name)
            continue;
        ran = true;
        failed |= run(argc, argv) != 0 ? 1 : 0;
    }
    if (!ran) {
        std::fprintf(stderr, "No test class %s in this program\n", only.constData());
        return 1;
    }
    return failed;
}
