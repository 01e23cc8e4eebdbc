#include "CountAudio.h"

#include "CountOutput.h"
#include "CountReport.h"
#include "QX_AlsaAudio.h"
#include "QX_Clock.h"
#include "StrokeCounter.h"
#include "SpscRing.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int)
{
    g_interrupted = 1;
}

struct LiveCount {
    StrokeCounter counter;
    // Far larger than the strokes of one poll interval; a stroke the printer
    // could not take in time is dropped from the printout only, never from
    // the count.
    SpscRing<CountedStroke, 1024> queue;
    LiveCount(std::int32_t timeLimitMs, bool fastDetector) : counter(timeLimitMs, fastDetector) {}

    // Capture thread.
    void onSamples(const void* data, std::int32_t byteCount)
    {
        counter.feed(static_cast<const std::int16_t*>(data), byteCount / 2,
                     [this](const CountedStroke& s) { queue.push(s); });
    }
};

} // namespace

bool interruptRequested()
{
    return g_interrupted != 0;
}

void installInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = &onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int countAudioLive(const std::string& deviceId, const std::string& line, float level, std::int32_t timeLimitMs,
                   bool fastDetector, bool report)
{
    LiveCount live(timeLimitMs, fastDetector);
    auto graph = std::make_unique<QX_AudioFilterGraph>();
    if (FAILED(graph->BuildGraph(deviceId, QX_SampleHandler::Bind<LiveCount, &LiveCount::onSamples>(&live)))) {
        std::fprintf(stderr, "tempovaro-count: cannot open audio device '%s' (see --list)\n", deviceId.c_str());
        return 1;
    }
    if (!line.empty()) {
        if (level < 0.0f) {
            // Keep the line's level; only make it the recording source.
            QX_DeviceList lines;
            EnumInputLines(deviceId, lines);
            level = 1.0f;
            for (const auto& l : lines)
                if (l.ID == line && l.Level >= 0.0f)
                    level = l.Level;
        }
        graph->SetInputLine(line, level);
    }
    installInterruptHandler();
    if (!report)
        printCsvHeader(stdout, fastDetector);
    std::fflush(stdout);
    std::fputs("tempovaro-count: waiting for the first stroke\n", stderr);
    if (FAILED(graph->Run())) {
        std::fprintf(stderr, "tempovaro-count: cannot start capturing from '%s'\n", deviceId.c_str());
        return 1;
    }

    const auto& device = live.counter.device();
    std::chrono::steady_clock::time_point firstStroke{};
    bool started = false;
    bool deviceLost = false;
    RunRecord run;
    run.recordingTimeMs = timeLimitMs;
    const auto printQueued = [&] {
        CountedStroke stroke;
        while (live.queue.pop(stroke)) {
            if (!started) {
                started = true;
                firstStroke = std::chrono::steady_clock::now();
            }
            if (report)
                run.strokes.push_back({stroke.windowEndSample, stroke.level, -1});
            else
                printStroke(stdout, stroke);
        }
        std::fflush(stdout);
    };
    for (;;) {
        printQueued();
        // The measurement ends when the elapsed time reaches the recording time.
        if (timeLimitMs >= 0 && started && device.GetElapsedTime() >= timeLimitMs)
            break;
        if (interruptRequested())
            break;
        if (!graph->isCapturing()) {
            deviceLost = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::int64_t elapsedMs = 0;
    if (timeLimitMs >= 0)
        elapsedMs = device.GetElapsedTime();
    else if (started)
        elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - firstStroke)
                        .count();
    // Stopping the capture joins its thread; what it counted until then is final.
    graph.reset();
    printQueued();
    if (report) {
        run.ranToEnd = timeLimitMs >= 0 && elapsedMs >= timeLimitMs;
        printReport(stdout, run);
    }
    printSummary(stdout, makeSummary(device.GetCount(), elapsedMs));
    if (deviceLost) {
        std::fprintf(stderr, "tempovaro-count: the audio device '%s' stopped delivering\n", deviceId.c_str());
        return 1;
    }
    return 0;
}

void listAudioDevices(std::FILE* out)
{
    QX_DeviceList devices;
    if (FAILED(EnumAudioDevices(devices)))
        return;
    for (const auto& d : devices) {
        std::fprintf(out, "audio\t%s\t%s\n", d.ID.c_str(), d.Name.c_str());
        QX_DeviceList lines;
        EnumInputLines(d.ID, lines);
        for (const auto& l : lines) {
            if (l.Level < 0.0f)
                std::fprintf(out, "line\t%s\t%s\t-1\n", d.ID.c_str(), l.Name.c_str());
            else
                std::fprintf(out, "line\t%s\t%s\t%.3f\n", d.ID.c_str(), l.Name.c_str(), static_cast<double>(l.Level));
        }
    }
}
