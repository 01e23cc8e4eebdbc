// The main window's 30 ms tick while a run is counting: one stroke per tick
// (far more than any drummer plays), with the stroke published as an event
// and drained into the run notebook, against the same tick whose device
// publishes no events. The difference is what the notebook costs the tick.

#include "main/QX_Main.h"
#include "session/QX_TriggerFactory.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

class BenchDevice : public TQX_TriggerDevice {
public:
    void Start(std::int32_t limitMs) override { TimeLimit.store(limitMs); }
    float GetMeanInterval() override { return meanIntervalSeconds(1000); }
    std::int64_t ticksPerSecond() const override { return 1000; }
    void stroke(bool publish)
    {
        RecordStroke(125, 0.5f);
        if (publish)
            publishStroke(m_tick += 125, 0.5f);
    }

private:
    std::int64_t m_tick = 0;
};

BenchDevice* g_device = nullptr;

struct Window {
    Window()
    {
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xdg")).toLocal8Bit());
        QDir::setCurrent(dir.path());
        SetTriggerDeviceFactory([](const TQX_DeviceProperties&) {
            auto device = std::make_unique<BenchDevice>();
            g_device = device.get();
            return std::unique_ptr<TQX_TriggerDevice>(std::move(device));
        });
        form = std::make_unique<TMainForm>(nullptr, true);
        form->show();
        QCoreApplication::processEvents();
        form->findChild<QAction*>(QStringLiteral("Endless"))->trigger();
    }
    QTemporaryDir dir;
    std::unique_ptr<TMainForm> form;
};

Window* g_window = nullptr;

// view: "Count" redraws the figure at every stroke; "Speed" (BPM) keeps the
// figure still while the pace is steady, so the tick itself is cheapest and
// the notebook's share the largest.
void tickWithStrokes(benchmark::State& state, bool publish, const char* view)
{
    g_window->form->findChild<QAction*>(QLatin1String(view))->trigger();
    g_window->form->ResetClick();
    std::int64_t strokes = 0;
    for (auto _ : state) {
        // A fresh run after 15 minutes at 20 strokes a second, the longest
        // the journal is sized for; both variants re-arm alike.
        if (++strokes % 18000 == 0) {
            state.PauseTiming();
            g_window->form->ResetClick();
            state.ResumeTiming();
        }
        g_device->stroke(publish);
        g_window->form->GUITimerTimer();
    }
    state.counters["run_strokes"] = static_cast<double>(g_window->form->runTracker().current().strokes.size());
}

void BM_TickCountViewWithoutEvents(benchmark::State& state) { tickWithStrokes(state, false, "Count"); }
void BM_TickCountViewEventDrained(benchmark::State& state) { tickWithStrokes(state, true, "Count"); }
void BM_TickBpmViewWithoutEvents(benchmark::State& state) { tickWithStrokes(state, false, "Speed"); }
void BM_TickBpmViewEventDrained(benchmark::State& state) { tickWithStrokes(state, true, "Speed"); }
BENCHMARK(BM_TickCountViewWithoutEvents)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TickCountViewEventDrained)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TickBpmViewWithoutEvents)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TickBpmViewEventDrained)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window;
    g_window = &window;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_window = nullptr;
    return 0;
}
