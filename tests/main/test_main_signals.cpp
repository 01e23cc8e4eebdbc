// The real program, asked to stop by a signal (Ctrl+C, a closed terminal, a
// logout), closes as from its menu: the settings and the score file are
// written before it exits.

#include "QtTempFolder.h"
#include "QtTestPrograms.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace {

// Whether the process has installed a handler for `signal` (its SigCgt mask).
bool catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            bool ok = false;
            const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (mask >> (signal - 1) & 1u);
        }
    }
    return false;
}

} // namespace

class TestMainSignals : public QObject {
    Q_OBJECT

private slots:
    void terminationSignalsCloseTheWindowAndSave_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void terminationSignalsCloseTheWindowAndSave()
    {
        QFETCH(int, signal);
        QtTempFolder dir;
        QVERIFY(dir.isValid());
        QProcess program;
        program.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("xdg")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TEMPOVARO_BIN), {});
        QVERIFY(program.waitForStarted());

        QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), signal), 15000);
        QCOMPARE(::kill(static_cast<pid_t>(program.processId()), signal), 0);
        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("Tempovaro.qxs"))).size(), 16000);
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("xdg/Tempovaro/settings.json"))));
    }
};

TEMPOVARO_QTEST(TestMainSignals)
#include "test_main_signals.moc"
