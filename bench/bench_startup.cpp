// The main window's start-up: settings and scores read from a store and a
// score file that exist, menus, labels and list built, the window laid out,
// shown and its first events handled, with a device that is built at once.
// Runs offscreen in a temporary folder; the window is closed between rounds
// without writing anything, so every round reads the same files.

#include "main/QX_Main.h"
#include "session/QX_TriggerFactory.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

class IdleDevice : public TQX_TriggerDevice {
public:
    void Start(std::int32_t limitMs) override { TimeLimit.store(limitMs); }
    float GetMeanInterval() override { return 0.0f; }
};

void BM_MainWindowStartUp(benchmark::State& state)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xdg")).toLocal8Bit());
    QDir::setCurrent(dir.path());
    SetTriggerDeviceFactory(
        [](const TQX_DeviceProperties&) { return std::unique_ptr<TQX_TriggerDevice>(std::make_unique<IdleDevice>()); });
    {
        // One ordinary session leaves the store and a score file behind.
        TMainForm first(nullptr, true);
        first.close();
    }
    for (auto _ : state) {
        auto form = std::make_unique<TMainForm>(nullptr, true);
        form->show();
        QCoreApplication::processEvents();
        state.PauseTiming();
        form->hide();
        form.reset();
        state.ResumeTiming();
    }
    SetTriggerDeviceFactory(nullptr);
}
BENCHMARK(BM_MainWindowStartUp)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
