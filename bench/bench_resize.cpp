// The main window's resize to a 1920 x 1080 client area: the background
// resampled to the client size, the stopwatch stretched, the labels, list and
// panel placed and the clock redrawn. Runs offscreen in a temporary folder,
// with its own settings folder and no trigger device.

#include "main/QX_Main.h"
#include "session/QX_TriggerFactory.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

struct Window {
    Window()
    {
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xdg")).toLocal8Bit());
        QDir::setCurrent(dir.path());
        SetTriggerDeviceFactory([](const TQX_DeviceProperties&) { return std::unique_ptr<TQX_TriggerDevice>(); });
        form = std::make_unique<TMainForm>(nullptr, true);
        form->show();
        QCoreApplication::processEvents();
    }
    QTemporaryDir dir;
    std::unique_ptr<TMainForm> form;
};

Window* g_window = nullptr;

Window& window()
{
    return *g_window;
}

void BM_ResizeTo1920x1080(benchmark::State& state)
{
    QWidget* client = window().form->clientArea();
    for (auto _ : state) {
        state.PauseTiming();
        client->resize(1280, 720);
        state.ResumeTiming();
        client->resize(1920, 1080);
        benchmark::DoNotOptimize(window().form->backgroundImage().constBits());
    }
}
BENCHMARK(BM_ResizeTo1920x1080)->Unit(benchmark::kMillisecond);

// The same resize followed by one full paint of the client area.
void BM_ResizeAndPaint1920x1080(benchmark::State& state)
{
    QWidget* client = window().form->clientArea();
    QImage target(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        state.PauseTiming();
        client->resize(1280, 720);
        state.ResumeTiming();
        client->resize(1920, 1080);
        client->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_ResizeAndPaint1920x1080)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    {
        Window w;
        g_window = &w;
        benchmark::RunSpecifiedBenchmarks();
        g_window = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
