#pragma once
// Runs a program of ours as a user would, without a shell: its exit status
// and what it wrote to stdout and stderr, each kept apart. ToolProcess is for
// a run the test plays along with (a live MIDI count); runTool for one that
// needs nothing from outside. With TEMPOVARO_COUNT (the tool's path, compiled
// in by CMake) runCountTool and countTool run tempovaro-count.

#include "ChildProcess.h"
#include "TempFolder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// A text split at its line ends, without them.
inline std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct ToolRun {
    int status = -1; // the exit status; -1 when it did not start or was killed
    std::string out;
    std::string err;

    // N of tempovaro-count's summary line "# strokes N, ...", or -1.
    int strokes() const
    {
        std::smatch m;
        static const std::regex summary("# strokes ([0-9]+),");
        return std::regex_search(out, m, summary) ? std::stoi(m[1]) : -1;
    }
};

// Starts argv at once; finish() waits for it to end. Its output goes to files
// in a private folder, so a program that writes much never blocks on a pipe
// and the test can read what a live run has printed so far.
class ToolProcess {
public:
    explicit ToolProcess(const std::vector<std::string>& argv)
    {
        if (m_dir.isValid())
            m_pid = spawnChild(argv, m_dir.filePath("out"), 0, m_dir.filePath("err"));
    }
    ~ToolProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitForExit(m_pid);
        }
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // What it has written to stdout so far.
    std::string outSoFar() const { return read("/out"); }
    // Ctrl+C, as a user ends a live count.
    void interrupt() const
    {
        if (m_pid > 0)
            kill(m_pid, SIGINT);
    }

    // A run still going after kLimitMs is killed: status -1, and a note
    // at the end of err.
    ToolRun finish()
    {
        ToolRun run;
        if (m_pid <= 0)
            return run;
        const auto status = waitForExitWithin(m_pid, kLimitMs);
        m_pid = -1;
        run.status = status.value_or(-1);
        run.out = read("/out");
        run.err = read("/err");
        if (!status)
            run.err += "\n[killed by the test: still running after " + std::to_string(kLimitMs / 1000) + " s]\n";
        return run;
    }

private:
    std::string read(const char* name) const
    {
        std::ifstream in(m_dir.path() + name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static constexpr int kLimitMs = 180'000;
    TempFolder m_dir{"tempovaro-tool"};
    pid_t m_pid = -1;
};

inline ToolRun runTool(const std::vector<std::string>& argv)
{
    return ToolProcess(argv).finish();
}

#ifdef TEMPOVARO_COUNT
// tempovaro-count's command line with args after the program.
inline std::vector<std::string> countTool(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{TEMPOVARO_COUNT};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

inline ToolRun runCountTool(const std::vector<std::string>& args)
{
    return runTool(countTool(args));
}
#endif
