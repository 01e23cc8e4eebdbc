#pragma once
// The command line of tempovaro-count.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// --grid BPM:SUBDIVISION:START_SECONDS: the click the strokes are timed against.
struct GridOption {
    double tempoBpm = 0.0;
    int subdivision = 1;
    double startS = 0.0;
};

struct CountOptions {
    enum class Mode { Files, List, Audio, Midi, Help, Version, Journal, JournalRun, Verify };
    Mode mode = Mode::Files;
    std::vector<std::string> files;
    std::int32_t timeLimitMs = -1; // -1 = endless
    std::string deviceId;          // --audio or --midi
    std::string line;              // --line; empty = leave the mixer alone
    float level = -1.0f;           // --level; -1 = keep the line's level
    int channel = 0;               // --channel, 0 = all
    int note = -1;                 // --note, -1 = all
    bool fastDetector = false;     // --detector fast (files and --audio)
    bool report = false;           // --report: the run's figures instead of each stroke
    std::int64_t journalRunId = 0; // --journal-run
    std::optional<GridOption> grid; // --grid (files only; implies --report)
    std::int64_t verifyId = 0;     // --verify
};

// Parses argv (without the program name). On failure returns false and sets
// error to one line describing the problem.
bool parseCountOptions(const std::vector<std::string>& args, CountOptions& options, std::string& error);

extern const char* const kCountUsage;
