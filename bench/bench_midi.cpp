// The MIDI input port through a private JACK dummy server:
//  - latency from a Note On leaving a sender to the note handler
//    (the trigger device's HandleNote) running on the reader thread;
//  - CPU time of an open port on a silent source, as % of one core, over
//    30 s: the reader thread, and the whole process (the reader plus the
//    JACK client thread that RtMidi runs once per cycle), at a period of
//    64 frames and at 1024 frames.
// The period of the server is reported with the figures.
#include "JackServer.h"
#include "MidiSender.h"
#include "capture/QX_MidiPort.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<JackServer> g_server;
std::string g_self;

std::string findPortId(const std::string& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QX_DeviceList list;
        EnumPorts(list);
        for (const auto& d : list)
            if (d.Name == name)
                return d.ID;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

struct Arrivals {
    static constexpr int kMax = 4096;
    std::array<Clock::time_point, kMax> at{};
    std::atomic<int> count{0};
    void onNote(std::uint8_t, std::uint8_t, std::int64_t)
    {
        const int n = count.load(std::memory_order_relaxed);
        if (n < kMax) {
            at[n] = Clock::now();
            count.store(n + 1, std::memory_order_release);
        }
    }
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void BM_NoteToHandlerLatency(benchmark::State& state)
{
    const int notes = static_cast<int>(state.range(0));
    MidiSender sender;
    const std::string id = findPortId(MidiSender::kPortName);
    if (!sender.isOpen() || id.empty()) {
        state.SkipWithError("no sender port");
        return;
    }
    for (auto _ : state) {
        Arrivals arrivals; // outlives the port, whose reader writes into it
        QX_MidiPort port;
        port.OpenPort(id, QX_NoteHandler::Bind<Arrivals, &Arrivals::onNote>(&arrivals));
        port.Resume();
        // A new connection carries data from a later cycle on.
        while (arrivals.count.load() == 0) {
            sender.send({0x99, 36, 1});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int base = arrivals.count.load();

        // Notes at an odd spacing so they fall on every phase of the cycle.
        std::vector<Clock::time_point> sent;
        auto next = Clock::now();
        for (int i = 0; i < notes; ++i) {
            next += std::chrono::microseconds(7300);
            std::this_thread::sleep_until(next);
            sent.push_back(sender.send({0x99, 36, 100}));
        }
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (arrivals.count.load() < base + notes && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const int got = arrivals.count.load() - base;
        if (got != notes) {
            const std::string error = "sent " + std::to_string(notes) + " notes, received " + std::to_string(got) +
                                      " (server log: " + g_server->log() + ")";
            state.SkipWithError(error.c_str());
            return;
        }
        std::vector<double> ms;
        for (int i = 0; i < notes; ++i)
            ms.push_back(std::chrono::duration<double, std::milli>(arrivals.at[base + i] - sent[i]).count());
        state.counters["period_ms"] = g_server->periodSeconds() * 1000.0;
        state.counters["median_ms"] = percentile(ms, 0.5);
        state.counters["p99_ms"] = percentile(ms, 0.99);
        state.counters["max_ms"] = percentile(ms, 1.0);
        state.counters["notes"] = notes;
    }
}

// Seconds on a CPU of every thread of this process, by "name/tid" (the
// scheduler's nanosecond account, finer than the 10 ms ticks of stat).
std::map<std::string, double> threadCpuSeconds()
{
    std::map<std::string, double> cpu;
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return cpu;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::ifstream commFile(task + "/comm");
        std::string name;
        std::getline(commFile, name);
        std::ifstream schedstat(task + "/schedstat");
        double ns = 0;
        if (schedstat >> ns)
            cpu[name + "/" + e->d_name] = ns / 1e9;
    }
    closedir(dir);
    return cpu;
}

void BM_SilentOpenPortCpu(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    // Every JACK client runs once per cycle, so its cost depends on the period.
    const int periodFrames = static_cast<int>(state.range(1));
    if (g_server->periodFrames() != periodFrames) {
        g_server.reset();
        g_server = std::make_unique<JackServer>(periodFrames);
        if (!g_server->running()) {
            state.SkipWithError("the JACK server did not start");
            return;
        }
    }
    // The silent source lives in another process, so this process holds only the port.
    int toChild[2];
    if (pipe(toChild) != 0) {
        state.SkipWithError("pipe");
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(toChild[1]);
        dup2(toChild[0], 0);
        execl(g_self.c_str(), g_self.c_str(), "--silent-sender", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    const std::string id = findPortId(MidiSender::kPortName);
    for (auto _ : state) {
        if (id.empty()) {
            state.SkipWithError("no sender port");
            break;
        }
        QX_MidiPort port;
        port.OpenPort(id, {});
        port.Resume();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const auto before = threadCpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const auto after = threadCpuSeconds();
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        double total = 0.0;
        for (const auto& [thread, t] : after) {
            const auto b = before.find(thread);
            const double pct = 100.0 * (t - (b == before.end() ? 0.0 : b->second)) / wall;
            total += pct;
            const std::string name = thread.substr(0, thread.find('/'));
            if (name == "midi-reader")
                state.counters["reader_pct"] = pct;
            else if (pct >= 0.005)
                std::fprintf(stderr, "bench_midi: thread %s %.3f %% of a core\n", thread.c_str(), pct);
        }
        state.counters["process_pct"] = total;
        state.counters["seconds"] = wall;
        state.counters["period_ms"] = g_server->periodSeconds() * 1000.0;
    }
    close(toChild[1]);
    int status = 0;
    waitpid(child, &status, 0);
}

} // namespace

BENCHMARK(BM_NoteToHandlerLatency)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SilentOpenPortCpu)->Args({30, 64})->Args({30, 1024})->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--silent-sender") == 0) {
        MidiSender sender;
        char c;
        while (read(0, &c, 1) > 0) {
        }
        return sender.isOpen() ? 0 : 1;
    }
    g_self = "/proc/self/exe";
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0)
        g_self.assign(path, static_cast<std::size_t>(n));

    g_server = std::make_unique<JackServer>(64);
    if (!g_server->running()) {
        std::puts("bench_midi: no JACK server (jackd missing or not starting); nothing measured");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_server.reset();
    return 0;
}
