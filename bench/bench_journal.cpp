// The practice journal on the real disk (a folder beside the benchmark, not
// /tmp), with the journal's own settings (WAL, a synced commit per run):
//  - writing a 15-minute endless run at 20 strokes/s (18,000 strokes), target < 50 ms;
//  - writing a 60 s run at 20 strokes/s (1,200 strokes); the writer does this
//    on its worker thread, so it never costs the measurement a tick;
//  - listing 10,000 runs newest first, all of them and those of one recording time;
//  - the journal writer's first open of those 10,000 runs, which reads every
//    page once (quick_check) before it adds a run; on its worker thread.
// Counters: blob_bytes is the size of one run's packed strokes.
#include "journal/JournalDatabase.h"
#include "journal/StrokeBlob.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;

RunRecord audioRun(int strokes, std::int32_t recordingTimeMs)
{
    RunRecord r;
    r.startUtcMs = 1'760'000'000'000;
    r.recordingTimeMs = recordingTimeMs;
    r.count = strokes;
    r.device = {DeviceType::Audio, "default", "Capture", 0, -1, AudioDetector::Standard, ""};
    // 20 strokes per second with a little human jitter in the sample ticks.
    std::int64_t tick = 0;
    for (int k = 0; k < strokes; ++k) {
        tick += 2205 + (k * 37 % 61) - 30;
        r.strokes.push_back({tick, 0.3f + (k % 7) * 0.01f, -1});
    }
    return r;
}

void writeRun(benchmark::State& state, const char* file, int strokes, std::int32_t recordingTimeMs)
{
    JournalDatabase db(g_dir->filePath(QString::fromLatin1(file)));
    if (!db.open()) {
        state.SkipWithError(db.problemDetail().toUtf8().constData());
        return;
    }
    const RunRecord run = audioRun(strokes, recordingTimeMs);
    for (auto _ : state) {
        if (!db.addRun(run)) {
            state.SkipWithError(db.problemDetail().toUtf8().constData());
            break;
        }
    }
    state.counters["blob_bytes"] = static_cast<double>(packStrokes(run.strokes).size());
}

void BM_WriteEndlessRun15Min(benchmark::State& state)
{
    writeRun(state, "endless.sqlite", 18000, -1);
}
BENCHMARK(BM_WriteEndlessRun15Min)->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_WriteRun60s(benchmark::State& state)
{
    writeRun(state, "minute.sqlite", 1200, 60000);
}
BENCHMARK(BM_WriteRun60s)->Unit(benchmark::kMillisecond)->Iterations(200);

// 10,000 one-minute runs, put in with one transaction so the set-up is quick.
QString seededJournal()
{
    const QString path = g_dir->filePath(QStringLiteral("list.sqlite"));
    if (QFile::exists(path))
        return path;
    {
        JournalDatabase db(path);
        db.open();
    }
    {
        auto raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        raw.setDatabaseName(path);
        raw.open();
        QSqlQuery q(raw);
        q.exec(QStringLiteral("BEGIN"));
        const QByteArray blob = packStrokes(audioRun(1200, 60000).strokes);
        for (int k = 0; k < 10000; ++k) {
            q.prepare(QStringLiteral("INSERT INTO runs VALUES (?, ?, ?, 1, 1200, 1, 1, 'default', 'Capture', 0, -1, 0,"
                                     " 44100, 0, ?, ?, ?, '')"));
            q.addBindValue(k + 1);
            q.addBindValue(QVariant::fromValue<qint64>(1'700'000'000'000LL + k * 3'600'000LL));
            q.addBindValue(k % 4 == 0 ? -1 : 60000 * (k % 4));
            q.addBindValue(1200.0 + k % 100);
            q.addBindValue(3.0 + k % 10);
            q.addBindValue(-2.0 + k % 5);
            q.exec();
            q.prepare(QStringLiteral("INSERT INTO run_strokes VALUES (?, ?)"));
            q.addBindValue(k + 1);
            q.addBindValue(blob);
            q.exec();
        }
        q.exec(QStringLiteral("COMMIT"));
        q = QSqlQuery();
        raw.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
    return path;
}

void BM_List10000Runs(benchmark::State& state)
{
    JournalDatabase db(seededJournal());
    db.open();
    RunFilter filter;
    if (state.range(0) >= -1) // -2: every recording time
        filter.recordingTimeMs = static_cast<std::int32_t>(state.range(0));
    std::size_t rows = 0;
    for (auto _ : state)
        rows = db.listRuns(filter).size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_List10000Runs)->Arg(-2)->Arg(60000)->Unit(benchmark::kMillisecond);

void BM_OpenCheckingEveryPage10000Runs(benchmark::State& state)
{
    const QString path = seededJournal();
    JournalDatabase::Options options;
    options.checkWhole = true;
    for (auto _ : state) {
        JournalDatabase db(path);
        if (!db.open(options)) {
            state.SkipWithError(db.problemDetail().toUtf8().constData());
            break;
        }
    }
    state.counters["file_mb"] = static_cast<double>(QFileInfo(path).size()) / 1e6;
}
BENCHMARK(BM_OpenCheckingEveryPage10000Runs)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    // The SQLite driver is a plugin, and plugins are found through the application object.
    QCoreApplication app(argc, argv);
    g_dir = std::make_unique<QTemporaryDir>(QDir::currentPath() + QStringLiteral("/journal-bench-XXXXXX"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_dir.reset();
    return 0;
}
