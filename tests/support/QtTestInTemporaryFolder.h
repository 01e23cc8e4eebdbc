#pragma once
// Runs a Qt test object in a temporary working folder with its own settings
// and data folders, so a test run by hand never touches the real store,
// score file or journal.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

template <class Test>
int runQtTestInTemporaryFolder(int argc, char* argv[])
{
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path()))
        return 2;
    qputenv("XDG_CONFIG_HOME", QDir(work.path()).absoluteFilePath(QStringLiteral("xdg")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", QDir(work.path()).absoluteFilePath(QStringLiteral("data")).toLocal8Bit());
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
