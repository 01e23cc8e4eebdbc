// The journal window with a journal of 10,000 one-minute runs at 20 strokes
// per second (1,200 strokes each, written through JournalDatabase::addRun):
//  - opening the window and showing its table, target < 200 ms;
//  - the progress chart of one recording time (listing its runs, building
//    the series and drawing the chart), target < 100 ms.
// The journal is built once per process in a temporary folder.
#include "journal/JournalDatabase.h"
#include "ui/journal/JournalProgressChart.h"
#include "ui/journal/JournalTableModel.h"
#include "ui/journal/JournalWindow.h"

#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;
constexpr int kRuns = 10000;

RunRecord minuteRun(int k)
{
    RunRecord r;
    // A year of practice, about 27 runs a day, recording times in turn.
    r.startUtcMs = 1'735'689'600'000LL + k * 3'153'600LL;
    const std::int32_t times[] = {10000, 20000, 30000, 40000, 50000, 60000, -1};
    r.recordingTimeMs = times[k % 7];
    r.ranToEnd = r.recordingTimeMs > 0;
    r.count = 1200;
    r.result = k % 50 == 0 ? RunResult::Record : RunResult::Finished;
    r.device = {DeviceType::Audio, "default", "Capture", 0, -1, AudioDetector::Standard, ""};
    std::int64_t tick = 0;
    for (int s = 0; s < 1200; ++s) {
        tick += 2205 + (s * 37 % 61) - 30;
        r.strokes.push_back({tick, 0.3f + (s % 7) * 0.01f, -1});
    }
    return r;
}

QString journal()
{
    const QString path = g_dir->filePath(QStringLiteral("journal.sqlite"));
    static bool built = false;
    if (built)
        return path;
    JournalDatabase db(path);
    db.open();
    db.setSummaryHook([](const RunRecord& r) {
        return RunSummary{1200.0 + r.startUtcMs % 97, 3.0 + r.startUtcMs % 7, -2.0 + r.startUtcMs % 5};
    });
    for (int k = 0; k < kRuns; ++k)
        db.addRun(minuteRun(k));
    built = true;
    return path;
}

void BM_OpenJournalWindow(benchmark::State& state)
{
    const QString path = journal();
    int rows = 0;
    for (auto _ : state) {
        JournalWindow w(path, QStringLiteral("none.qxs"));
        w.show();
        QApplication::processEvents();
        w.table()->viewport()->repaint();
        rows = w.model()->rowCount();
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_OpenJournalWindow)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ProgressChartOneRecordingTime(benchmark::State& state)
{
    JournalWindow w(journal(), QStringLiteral("none.qxs"));
    w.show();
    QApplication::processEvents();
    int runs = 0;
    bool sixty = false;
    for (auto _ : state) {
        // Alternate so every iteration lists and charts afresh.
        sixty = !sixty;
        w.setRecordingTimeFilter(sixty ? 60000 : 30000);
        w.progressChart()->repaint();
        QApplication::processEvents();
        runs = w.model()->rowCount();
    }
    state.counters["runs"] = runs;
}
BENCHMARK(BM_ProgressChartOneRecordingTime)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    g_dir = std::make_unique<QTemporaryDir>();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_dir.reset();
    return 0;
}
