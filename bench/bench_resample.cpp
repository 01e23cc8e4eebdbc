// Rescaling the main window's background to a full-HD client area: our
// bicubic resampler beside Qt's own smooth scaling of the same picture.

#include "ui/common/QX_Graphics.h"

#include <benchmark/benchmark.h>

#include <QImage>

#include <random>

namespace {

constexpr int kSourceWidth = 312;
constexpr int kSourceHeight = 229;
constexpr int kDestWidth = 1920;
constexpr int kDestHeight = 1080;

// The built-in background when it is linked in, else noise of the same size
// (the resampler's speed does not depend on the pixels).
bool builtIn = false;

const QImage& background()
{
    static const QImage picture = [] {
        QImage img = LoadPicture(QStringLiteral("BACKGROUND"));
        builtIn = img.size() == QSize(kSourceWidth, kSourceHeight);
        if (builtIn)
            return img;
        img = QImage(kSourceWidth, kSourceHeight, QImage::Format_BGR888);
        std::mt19937 rng(1);
        for (int y = 0; y < img.height(); ++y)
            for (int i = 0; i < img.width() * 3; ++i)
                img.scanLine(y)[i] = uchar(rng());
        return img;
    }();
    return picture;
}

void BM_ResampleBitmap(benchmark::State& state)
{
    const QImage& src = background();
    QImage dst;
    state.SetLabel(builtIn ? "background picture" : "noise picture");
    for (auto _ : state) {
        ResampleBitmap(src, 0, 0, src.width(), src.height(), dst, kDestWidth, kDestHeight);
        benchmark::DoNotOptimize(dst.constBits());
    }
}

void BM_QtSmoothScale(benchmark::State& state)
{
    const QImage& src = background();
    state.SetLabel(builtIn ? "background picture" : "noise picture");
    for (auto _ : state) {
        QImage dst = src.scaled(kDestWidth, kDestHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(dst.constBits());
    }
}

} // namespace

BENCHMARK(BM_ResampleBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtSmoothScale)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
