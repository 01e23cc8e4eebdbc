#pragma once
// Starting the helper programs of the tests (sound servers, players, tools)
// and waiting for them to end.

#include "WaitUntil.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

// Runs args[0] (looked up on PATH) with stdin from /dev/null, stdout appended
// to outputPath and stderr to errorPath (empty: the same file as stdout), so
// a server never holds the test's output pipe open. With a deathSignal the
// kernel sends it to the child when the test process ends, however it ends
// (a sanitizer stopping the test, a crash), so no server outlives its test.
// Returns the pid, or -1.
inline pid_t spawnChild(const std::vector<std::string>& args, const std::string& outputPath = "/dev/null",
                        int deathSignal = 0, const std::string& errorPath = {})
{
    if (args.empty())
        return -1;
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // Child: only async-signal-safe calls until exec.
    if (deathSignal != 0 && (prctl(PR_SET_PDEATHSIG, deathSignal) != 0 || getppid() != parent))
        _exit(127);
    const int in = open("/dev/null", O_RDONLY);
    if (in >= 0) {
        dup2(in, STDIN_FILENO);
        close(in);
    }
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        close(out);
    }
    if (!errorPath.empty()) {
        const int err = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0) {
            dup2(err, STDERR_FILENO);
            close(err);
        }
    }
    execvp(argv[0], argv.data());
    _exit(127);
}

// Starts a player (paplay, pw-play) of a test recording, bounded: one that a
// stalled server never lets finish ends after a minute with status 124, and
// fails its test instead of hanging it until ctest's timeout.
inline pid_t spawnPlayer(const std::string& player, const std::string& path)
{
    return spawnChild({"timeout", "-k", "5", "60", player, path});
}

// Waits for the child pid to end: its exit status, or -1 when it was killed
// by a signal or is no child of ours.
inline int waitForExit(pid_t pid)
{
    if (pid < 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same, bounded: nothing (and the child killed) when it was still
// running after timeoutMs, so a program of ours that hangs fails its test
// at once instead of holding it until ctest's time-out.
inline std::optional<int> waitForExitWithin(pid_t pid, int timeoutMs)
{
    // Looks without reaping, so waitForExit below reaps and reads the status.
    const bool ended = waitUntil(
        [&] {
            siginfo_t info{};
            const int looked = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
            return (looked != 0 && errno != EINTR) || info.si_pid != 0;
        },
        timeoutMs, 2);
    if (!ended)
        ::kill(pid, SIGKILL);
    const int status = waitForExit(pid);
    if (!ended)
        return std::nullopt;
    return status;
}

// Ends a player started by spawnPlayer before the end of its file, once the
// test has captured what it needs. True when the player was still playing
// or had ended with status 0.
inline bool stopPlayer(pid_t pid)
{
    if (pid <= 0)
        return false;
    int status = 0;
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid)
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (ended != 0)
        return false;
    ::kill(pid, SIGTERM);
    waitForExit(pid);
    return true;
}
