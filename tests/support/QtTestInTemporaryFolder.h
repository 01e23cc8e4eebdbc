#pragma once
// Runs a Qt test object in a temporary working folder with its own settings
// and data folders, so a test run by hand never touches the real store,
// score file or journal. prepare runs in that folder before the application
// is made (to set up the platform, say).

#include "QtTempFolder.h"

#include <QApplication>
#include <QDir>
#include <QTest>

template <class Test, class Prepare>
int runQtTestInTemporaryFolder(int argc, char* argv[], Prepare prepare)
{
    QtTempFolder work;
    if (!work.isValid() || !QDir::setCurrent(work.path()))
        return 2;
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("xdg")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("data")).toLocal8Bit());
    prepare();
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

template <class Test>
int runQtTestInTemporaryFolder(int argc, char* argv[])
{
    return runQtTestInTemporaryFolder<Test>(argc, argv, [] {});
}
