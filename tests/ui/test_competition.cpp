// The competition window driven as an organiser would: attempts played into
// a device the test feeds, on the test's clock, then kept, recounted and
// ranked; a stroke before go is a false start and nothing is kept.

#include "DrumRecording.h"
#include "FakeClock.h"
#include "QtTestInTemporaryFolder.h"
#include "WaitUntil.h"
#include "audit/AuditStore.h"
#include "audit/CompetitionStandings.h"
#include "persistence/QX_Global.h"
#include "session/QX_TriggerFactory.h"
#include "trigger/QX_AudioTriggerDevice.h"
#include "ui/competition/CompetitionWindow.h"
#include "ui/competition/ResultSheet.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include "QtTempFolder.h"
#include <QTest>

#include <cmath>

namespace {

class HandCapture : public TQX_AudioInput {
public:
    explicit HandCapture(QX_SampleHandler* handler) : m_handler(handler) {}
    HRESULT BuildGraph(const std::string&, QX_SampleHandler onSamples) override
    {
        *m_handler = onSamples;
        return S_OK;
    }
    HRESULT Run() override { return S_OK; }
    HRESULT SetInputLine(const std::string&, float) override { return S_OK; }

private:
    QX_SampleHandler* m_handler;
};

drum::Samples roll(std::int64_t firstSample, double perSecond, int strokes, std::int64_t length)
{
    std::vector<float> hit(660);
    for (std::size_t i = 0; i < hit.size(); ++i)
        hit[i] = 0.6f * std::exp(-static_cast<float>(i) / 90.0f) * std::sin(2.0f * 3.14159265f * 2000.0f * i / 44100.0f);
    return drum::render(hit, drum::evenStrokes(firstSample, 44100.0 / perSecond, strokes, 0.8f), length, 0.002f);
}

} // namespace

class TestCompetition : public QObject {
    Q_OBJECT

    QX_SampleHandler m_handler;
    QtTempFolder m_folder;

    // Plays samples in 40 ms periods, one window tick per period, the clock
    // moving with the signal, until the attempt is kept or given up.
    void play(CompetitionWindow& w, FakeClock& clock, const drum::Samples& s)
    {
        std::vector<unsigned char> bytes(1764 * 2);
        for (std::size_t at = 0; at < s.size() && m_handler; at += 1764) {
            const std::size_t n = std::min<std::size_t>(1764, s.size() - at);
            for (std::size_t i = 0; i < n; ++i) {
                bytes[2 * i] = static_cast<unsigned char>(static_cast<std::uint16_t>(s[at + i]) & 0xff);
                bytes[2 * i + 1] = static_cast<unsigned char>(static_cast<std::uint16_t>(s[at + i]) >> 8);
            }
            if (const SampleTap* tap = w.auditTap(); tap && at % (64 * 1764) == 0)
                QVERIFY(waitUntil([tap] { return tap->empty(); }));
            m_handler(bytes.data(), static_cast<std::int32_t>(n * 2));
            clock.advance(40);
            w.tick();
            if (!w.attemptRunning())
                return;
        }
    }

    void setUp(CompetitionWindow& w, const QString& drummer, bool final, int timeIndex, bool onGo)
    {
        w.findChild<QLineEdit*>(QStringLiteral("drummer"))->setText(drummer);
        w.findChild<QComboBox*>(QStringLiteral("round"))->setCurrentIndex(final ? 1 : 0);
        w.findChild<QComboBox*>(QStringLiteral("time"))->setCurrentIndex(timeIndex);
        w.findChild<QComboBox*>(QStringLiteral("start"))->setCurrentIndex(onGo ? 1 : 0);
    }

private slots:
    void initTestCase()
    {
        DeviceProperties.TriggerDeviceType = kTriggerDeviceAudio;
        DeviceProperties.AudioDevice.ID = "hand";
        SetTriggerDeviceFactory([this](const TQX_DeviceProperties&) {
            m_handler = QX_SampleHandler{};
            return std::make_unique<TQX_AudioTriggerDevice>("hand", std::make_unique<HandCapture>(&m_handler));
        });
    }
    void cleanupTestCase() { SetTriggerDeviceFactory({}); }

    void attemptsAreKeptRecountedAndRanked()
    {
        FakeClock clock;
        CompetitionWindow w(QStringLiteral("9.9"), nullptr, m_folder.path());
        w.setManualTicks(true);
        struct Attempt {
            const char* drummer;
            bool final;
            double perSecond;
        };
        // 10 s attempts (time index 0): two heats for Ana, a final each.
        const Attempt attempts[] = {{"Ana", false, 11.0}, {"ana ", false, 14.0}, {"=Bo", true, 15.0}, {"Ana", true, 13.0}};
        // Each kept attempt goes to the journal as a run that names it.
        std::vector<RunRecord> runs;
        connect(&w, &CompetitionWindow::attemptRun, this, [&runs](const RunRecord& r) { runs.push_back(r); });
        for (const Attempt& a : attempts) {
            setUp(w, QString::fromLatin1(a.drummer), a.final, 0, false);
            QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("arm")), Qt::LeftButton);
            play(w, clock, roll(2 * 44100, a.perSecond, 200, 16 * 44100));
            QCOMPARE(w.phase(), AttemptFlow::Phase::Done);
            QVERIFY2(w.lastAttempt().id > 0, qPrintable(w.findChild<QLabel*>(QStringLiteral("status"))->text()));
            // 10 s from the first stroke hold 10 × pace strokes, the end's own left out.
            QVERIFY(std::abs(w.lastAttempt().count - a.perSecond * 10) <= 1);
            QVERIFY(!runs.empty());
            QCOMPARE(runs.back().auditAttemptId, w.lastAttempt().id);
            QCOMPARE(QString::fromStdString(runs.back().auditDigest), w.lastAttempt().digest);
            QCOMPARE(runs.back().count, w.lastAttempt().count);
            QVERIFY(static_cast<std::int32_t>(runs.back().strokes.size()) >= runs.back().count);
            QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("recount")), Qt::LeftButton);
            QCOMPARE(w.findChild<QLabel*>(QStringLiteral("status"))->text(),
                     QStringLiteral("Attempt %1: verified: %2 = %2").arg(w.lastAttempt().id).arg(w.lastAttempt().count));
        }
        // Heats by drummer (Ana twice, whatever the spelling), ranking from finals only.
        auto* heats = w.findChild<QTableWidget*>(QStringLiteral("heats"));
        QCOMPARE(heats->rowCount(), 1);
        QCOMPARE(heats->item(0, 2)->text(), QStringLiteral("140"));
        auto* ranking = w.findChild<QTableWidget*>(QStringLiteral("ranking"));
        QCOMPARE(ranking->rowCount(), 2);
        QCOMPARE(ranking->item(0, 1)->text(), QStringLiteral("=Bo"));
        // A final picked in the ranking is the one recounted.
        ranking->selectRow(0);
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("recount")), Qt::LeftButton);
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("status"))->text(), QStringLiteral("Attempt 3: verified: 150 = 150"));
        const QByteArray csv = rankingCsv(finalsRanking(AuditStore(m_folder.path()).load(), QStringLiteral("Competition")));
        QCOMPARE(csv, QByteArray("place,drummer,count,attempt,flagged\r\n1,'=Bo,150,3,no\r\n2,Ana,130,4,no\r\n"));

        // The last attempt's sheet: one page.
        const QString pdf = m_folder.filePath(QStringLiteral("sheet.pdf"));
        QString error;
        RunAnalysis analysis;
        QVERIFY(saveResultSheetPdf(pdf, w.lastAttempt(), analysis, error));
        QFile f(pdf);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page "), 1);
    }

    void strokeBeforeGoIsAFalseStart()
    {
        FakeClock clock;
        CompetitionWindow w(QStringLiteral("9.9"), nullptr, m_folder.path());
        w.setManualTicks(true);
        const qsizetype before = AuditStore(m_folder.path()).load().size();
        setUp(w, QStringLiteral("Cy"), false, 0, true);
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("arm")), Qt::LeftButton);
        // Strokes from 2 s on: the countdown's go is at 4 s.
        play(w, clock, roll(2 * 44100, 12.0, 100, 8 * 44100));
        QCOMPARE(w.phase(), AttemptFlow::Phase::FalseStart);
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("count"))->text(), QStringLiteral("FALSE START"));
        QCOMPARE(AuditStore(m_folder.path()).load().size(), before);

        // The same strokes after go are the attempt.
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("arm")), Qt::LeftButton);
        play(w, clock, roll(5 * 44100, 12.0, 150, 17 * 44100));
        QCOMPARE(w.phase(), AttemptFlow::Phase::Done);
        QCOMPARE(w.lastAttempt().count, 120);
        QVERIFY(w.lastAttempt().startOnGo);
        QCOMPARE(verifyAudit(m_folder.path(), w.lastAttempt().id).outcome, AuditCheck::Outcome::Verified);
    }
};

int main(int argc, char* argv[])
{
    return runQtTestInTemporaryFolder<TestCompetition>(argc, argv);
}

#include "test_competition.moc"
