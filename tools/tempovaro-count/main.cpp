// tempovaro-count: counts drum strokes in recordings or live, with the same
// detector as Tempovaro, and prints them as CSV.
#include "CountAudio.h"
#include "CountFile.h"
#include "CountJournal.h"
#include "CountMidi.h"
#include "CountOptions.h"
#include "CountVerify.h"

#include <cstdio>
#include <string>
#include <vector>

#ifndef TEMPOVARO_VERSION
#define TEMPOVARO_VERSION "unknown"
#endif

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    CountOptions options;
    std::string error;
    if (!parseCountOptions(args, options, error)) {
        std::fprintf(stderr, "tempovaro-count: %s\n", error.c_str());
        return 2;
    }
    switch (options.mode) {
    case CountOptions::Mode::Help:
        std::fputs(kCountUsage, stdout);
        return 0;
    case CountOptions::Mode::Version:
        std::puts("tempovaro-count " TEMPOVARO_VERSION);
        return 0;
    case CountOptions::Mode::List:
        listAudioDevices(stdout);
        listMidiPorts(stdout);
        return 0;
    case CountOptions::Mode::Audio:
        return countAudioLive(options.deviceId, options.line, options.level, options.timeLimitMs,
                              options.fastDetector, options.report);
    case CountOptions::Mode::Midi:
        return countMidiLive(options.deviceId, options.channel, options.note, options.timeLimitMs, options.report);
    case CountOptions::Mode::Journal:
        return printJournalRuns(stdout);
    case CountOptions::Mode::JournalRun:
        return printJournalRun(options.journalRunId, stdout);
    case CountOptions::Mode::Verify:
        return verifyAttempt(options.verifyId, stdout, stderr);
    case CountOptions::Mode::Files:
        break;
    }
    std::optional<TimingGrid> grid;
    if (options.grid) {
        grid = TimingGrid{};
        grid->tempoBpm = options.grid->tempoBpm;
        grid->subdivision = options.grid->subdivision;
        grid->startS = options.grid->startS;
    }
    return countFiles(options.files, options.timeLimitMs, options.fastDetector, options.report, grid);
}
