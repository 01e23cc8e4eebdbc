#pragma once
// Runs the tempovaro-count executable (path compiled in as TEMPOVARO_COUNT)
// and returns its exit status and standard output.

#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <string>

struct CountToolResult {
    int status = -1;
    std::string out;
    // N of the summary line "# strokes N, ...", or -1.
    int strokes() const
    {
        std::smatch m;
        static const std::regex summary("# strokes ([0-9]+),");
        return std::regex_search(out, m, summary) ? std::stoi(m[1]) : -1;
    }
};

// args are passed to the shell as written; quote paths that need it.
inline CountToolResult runCountTool(const std::string& args, bool discardStderr = true)
{
    CountToolResult result;
    const std::string command = std::string("'") + TEMPOVARO_COUNT + "' " + args + (discardStderr ? " 2>/dev/null" : "");
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
