// Ten latency calibrations in a row through a private PulseAudio server's
// null sink and its monitor, each with a fresh output and a fresh capture:
// prints each offset, their mean and their standard deviation (the target is
// at most 0.3 ms). A measurement, not a test: a machine under heavy load
// starves the click's stream, and the server then stretches it unreported.

#include "ClickLoopback.h"
#include "PulseServer.h"

#include <cmath>
#include <cstdio>

int main()
{
    if (!PulseServer::binaryPresent()) {
        std::puts("bench_click_calibration: pulseaudio is not installed; skipped");
        return 0;
    }
    PulseServer server;
    if (!server.running()) {
        std::puts("bench_click_calibration: the private PulseAudio server did not start");
        return 1;
    }
    std::vector<double> offsets;
    for (int run = 0; run < 10; ++run) {
        const CalibrationResult r = loopback::calibrateOnce("pulse");
        std::printf("calibration %d: %s\n", run + 1, r.message.empty() ? "did not run" : r.message.c_str());
        if (r.accepted)
            offsets.push_back(*r.offsetMs);
    }
    double mean = 0.0, squares = 0.0;
    for (const double o : offsets)
        mean += o / static_cast<double>(offsets.size());
    for (const double o : offsets)
        squares += (o - mean) * (o - mean);
    std::printf("accepted %zu of 10, mean offset %.3f ms, standard deviation %.3f ms\n", offsets.size(), mean,
                offsets.empty() ? 0.0 : std::sqrt(squares / static_cast<double>(offsets.size())));
    return 0;
}
