#include "CountAudio.h"

#include "CountOutput.h"
#include "CountReport.h"
#include "StrokeCounter.h"
#include "capture/QX_AlsaAudio.h"
#include "trigger/SpscRing.h"

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
    bool deviceLost = false;
    RunRecord run;
    run.recordingTimeMs = timeLimitMs;
    const auto onStroke = [&](const CountedStroke& stroke) {
        run.strokes.push_back({stroke.onsetSample, stroke.level, -1});
        if (!report)
            printStroke(stdout, stroke, fastDetector);
    };
    const auto printQueued = [&] {
        CountedStroke stroke;
        while (live.queue.pop(stroke))
            onStroke(stroke);
        std::fflush(stdout);
    };
    // Once the stopwatch has run out the device may still judge strokes on
    // its own clock; it is waited for as the program's window waits.
    std::chrono::steady_clock::time_point timeUp{};
    bool waiting = false;
    for (;;) {
        printQueued();
        if (timeLimitMs >= 0 && device.IsTimeOver())
            break;
        if (timeLimitMs >= 0 && device.GetElapsedTime() >= timeLimitMs) {
            const auto now = std::chrono::steady_clock::now();
            if (!waiting) {
                waiting = true;
                timeUp = now;
            }
            if (now - timeUp >= std::chrono::milliseconds(device.endWaitMs()))
                break;
        }
        if (interruptRequested())
            break;
        if (!graph->isCapturing()) {
            deviceLost = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Stopping the capture joins its thread; what it counted until then is final.
    graph.reset();
    printQueued();
    live.counter.finish(onStroke);
    std::fflush(stdout);
    run.ranToEnd = timeLimitMs >= 0 && (device.IsTimeOver() || waiting);
    if (report)
        printReport(stdout, run);
    printSummary(stdout, countSummary(device.GetCount(), run));
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
