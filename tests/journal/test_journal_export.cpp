// The journal's CSV: read back field for field by an independent RFC 4180
// reader, from the library and from tempovaro-count; a file that cannot be
// written says why and leaves nothing behind.
#include "FileBytes.h"
#include "QtTempFolder.h"
#include "QtTestPrograms.h"
#include "ToolRunner.h"
#include "journal/JournalCsv.h"
#include "journal/JournalDatabase.h"
#include "journal/JournalExport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>

namespace {

using Table = std::vector<QStringList>;

// RFC 4180: fields split at commas, records at CRLF; a quoted field may hold
// commas, CRLF and doubled quotes. Returns nothing when the text breaks the rules.
std::optional<Table> readCsv(const QByteArray& bytes)
{
    const QString text = QString::fromUtf8(bytes);
    Table table;
    QStringList record;
    QString field;
    bool quoted = false, afterQuote = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else
                quoted = false, afterQuote = true;
            continue;
        }
        if (c == '"') {
            if (!field.isEmpty() || afterQuote)
                return std::nullopt;
            quoted = true;
        } else if (c == ',') {
            record << field;
            field.clear();
            afterQuote = false;
        } else if (c == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\n')
                return std::nullopt;
            ++i;
            record << field;
            table.push_back(record);
            record.clear();
            field.clear();
            afterQuote = false;
        } else {
            if (afterQuote || c == '\n')
                return std::nullopt;
            field += c;
        }
    }
    if (quoted || !field.isEmpty() || !record.isEmpty())
        return std::nullopt; // every record ends with CRLF
    return table;
}

JournalRun run(std::int64_t id, std::int64_t startUtcMs, std::int32_t recordingTimeMs, int count, std::string device,
               RunSummary summary = {})
{
    JournalRun j;
    j.run.id = id;
    j.run.startUtcMs = startUtcMs;
    j.run.recordingTimeMs = recordingTimeMs;
    j.run.count = count;
    j.run.result = RunResult::Record;
    j.run.device = {DeviceType::Midi, std::move(device), "", 0, -1, AudioDetector::Standard, ""};
    j.summary = summary;
    return j;
}

const std::int64_t kSpring = QDateTime(QDate(2026, 3, 29), QTime(21, 45), QTimeZone::utc()).toMSecsSinceEpoch();
const std::int64_t kWinter = QDateTime(QDate(2026, 1, 5), QTime(7, 0, 9), QTimeZone::utc()).toMSecsSinceEpoch();

} // namespace

class TestJournalExport : public QObject {
    Q_OBJECT
    QtTempFolder m_dir;

private slots:
    void runsRoundTripThroughAStrictReader()
    {
        std::vector<JournalRun> runs = {
            run(3, kSpring, 60000, 1234, "Roland \"TD-17\", Port 1", {1234.5, 4.25, -2.0, -3.25, 87.5}),
            run(2, kWinter, -1, 900, "Bühne – Snare\nlinks"),
        };
        runs[0].run.click = RunClick{142.0, 4, 4, 1, 0, 0.0, 0};
        const auto table = readCsv(runsCsv(runs, QTimeZone("Europe/Berlin")));
        QVERIFY(table);
        QCOMPARE(table->size(), std::size_t{3});
        QCOMPARE((*table)[0].join(','), QString("id,start,recording_time_s,count,strokes_per_minute,"
                                                "evenness_cv_percent,fatigue_percent,result,device,detector,device_id,"
                                                "click_bpm,mean_offset_ms,within_10ms_percent"));
        QCOMPARE((*table)[1], QStringList({"3", "2026-03-29T23:45:00+02:00", "60", "1234", "1234.500", "4.250",
                                           "-2.000", "Record", "Roland \"TD-17\", Port 1", "", "", "142.000", "-3.250",
                                           "87.500"}));
        QCOMPARE((*table)[2], QStringList({"2", "2026-01-05T08:00:09+01:00", "endless", "900", "", "", "", "Record",
                                           "Bühne – Snare\nlinks", "", "", "", "", ""}));
        // West of Greenwich the offset is negative, and the decimal point
        // stays a dot whatever the user's locale.
        QLocale::setDefault(QLocale(QLocale::German));
        const auto west = readCsv(runsCsv({runs[0]}, QTimeZone("America/New_York")));
        QLocale::setDefault(QLocale::c());
        QVERIFY(west);
        QCOMPARE((*west)[1][1], QString("2026-03-29T17:45:00-04:00"));
        QCOMPARE((*west)[1][4], QString("1234.500"));
    }

    void aSpreadsheetNeverRunsANameAsAFormula()
    {
        // Names from drivers and other programs; numbers must stay numbers.
        const std::pair<QString, QString> fields[] = {
            {"=HYPERLINK(\"http://x\",\"y\")", "'=HYPERLINK(\"http://x\",\"y\")"},
            {"+1+cmd|' /C calc'!A0", "'+1+cmd|' /C calc'!A0"},
            {"-2+3", "'-2+3"},
            {"@SUM(A1)", "'@SUM(A1)"},
            {"\tTab", "'\tTab"},
            {"\rReturn", "'\rReturn"},
            {"-2.000", "-2.000"},
            {"1e-05", "1e-05"},
            {"Snare = left", "Snare = left"},
            {"", ""},
        };
        for (const auto& [name, expected] : fields) {
            const auto table = readCsv(csvLine({name, "x"}));
            QVERIFY(table);
            QCOMPARE(table->front().front(), expected);
        }
        JournalRun audio = run(1, kSpring, 10000, 5, "@Card");
        audio.run.device.type = DeviceType::Audio;
        audio.run.device.line = "-Mic";
        audio.run.device.detector = AudioDetector::Fast;
        audio.run.device.id = "=id";
        const auto table = readCsv(runsCsv({audio}, QTimeZone::utc()));
        QVERIFY(table);
        QCOMPARE((*table)[1].mid(8, 3), QStringList({"'@Card (-Mic), Fast detector", "Fast", "'=id"}));
    }

    void aFileThatCannotBeWrittenSaysWhyAndLeavesNothing()
    {
        // A path under a regular file fails even for root, who may write
        // into read-only folders.
        const QString blocker = m_dir.filePath("plain");
        QVERIFY(writeBytes(blocker, {}));
        QString reason;
        QVERIFY(!saveExport(blocker + "/runs.csv", "x\r\n", &reason));
        QVERIFY(!reason.isEmpty());
        QVERIFY(!QFile::exists(blocker + "/runs.csv"));
        // A good write replaces the old file whole.
        const QString good = m_dir.filePath("runs.csv");
        QVERIFY(saveExport(good, "old, longer content\r\n", nullptr));
        QVERIFY(saveExport(good, "new\r\n", &reason));
        QFile back(good);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.readAll(), QByteArray("new\r\n"));
        // A new export is the user's alone; one the user opened up stays open.
        QCOMPARE(back.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions{});
        QVERIFY(back.setPermissions(back.permissions() | QFile::ReadGroup));
        QVERIFY(saveExport(good, "newer\r\n", &reason));
        QVERIFY(QFile(good).permissions() & QFile::ReadGroup);
    }

    void theCountToolPrintsTheJournalAndOneRunsStrokes()
    {
        // A data folder of this run's own: no journal yet.
        qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());
        auto missing = runCountTool({"--journal"});
        QCOMPARE(missing.status, 1);
        QVERIFY(missing.err.find("cannot be opened") != std::string::npos);

        RunRecord midi;
        midi.startUtcMs = kSpring;
        midi.recordingTimeMs = 10000;
        midi.count = 3;
        midi.result = RunResult::Finished;
        midi.device = {DeviceType::Midi, "Pad, \"A\" ü", "", 10, 38, AudioDetector::Standard, ""};
        midi.ticksPerSecond = kMidiTicksPerSecond;
        midi.strokes = {{50'000'000, 0.5f, 38}, {51'250'000, 1.0f, 38}, {52'000'000, 0.25f, 38}};
        // Sixteenths at 120 BPM from the first stroke: the third 50 ms early.
        midi.click = RunClick{120.0, 4, 4, 1, 0, 50'000'000.0, 0};
        std::int64_t id = 0;
        {
            JournalDatabase db;
            QVERIFY(db.open());
            id = *db.addRun(midi);
            RunRecord older = midi;
            older.startUtcMs -= 86'400'000;
            older.strokes.clear();
            QVERIFY(db.addRun(older));
        }
        const auto list = runCountTool({"--journal"});
        QCOMPARE(list.status, 0);
        const auto table = readCsv(QByteArray::fromStdString(list.out));
        QVERIFY(table && table->size() == 3);
        QCOMPARE((*table)[1][0], QString::number(id));
        QCOMPARE((*table)[1][8], QString("Pad, \"A\" ü, channel 10, note 38"));

        const auto strokes = runCountTool({"--journal-run", std::to_string(id)});
        QCOMPARE(strokes.status, 0);
        const auto rows = readCsv(QByteArray::fromStdString(strokes.out));
        QVERIFY(rows && rows->size() == 4 + 2 + 10);
        QCOMPARE((*rows)[2], QStringList({"2", "0.125000", "0.125000", "1", "38"}));
        // Its timing figures follow after an empty line, as --grid prints them.
        QCOMPARE((*rows)[4], QStringList({""}));
        QCOMPARE((*rows)[5], QStringList({"figure", "value"}));
        QCOMPARE((*rows)[6], QStringList({"mean_offset_ms", "-16.67"}));
        QCOMPARE((*rows)[14], QStringList({"missed_grid_points", "0"}));
        QCOMPARE((*rows)[15], QStringList({"extra_strokes", "0"}));

        QCOMPARE(runCountTool({"--journal-run", std::to_string(id + 100)}).status, 1);
        QCOMPARE(runCountTool({"--journal-run", "x"}).status, 2);
    }
};

TEMPOVARO_QTEST(TestJournalExport)
#include "test_journal_export.moc"
