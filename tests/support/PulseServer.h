#pragma once
// A private PulseAudio server for tests: one null sink "drumsink" (44.1 kHz
// mono) whose monitor is the default source, reachable through the ALSA
// devices "pulse" and "default". The server lives in its own temporary
// directory, is started by the constructor (which waits until it accepts
// connections) and killed by its pid in the destructor.
//
// The constructor points this process's PulseAudio clients at the server
// (PULSE_SERVER and friends), so create the server before the first ALSA
// call of the test program. Tests skip when the server binary is missing.

#include "TempFolder.h"

#include <string>
#include <sys/types.h>

class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    static bool binaryPresent();
    // True when the server answered after start.
    bool running() const { return m_pid > 0 && m_ready; }
    const std::string& dir() const { return m_dir; }

    // Plays a sound file into the null sink and waits until paplay has
    // finished. Returns paplay's exit status.
    int play(const std::string& path) const;
    // Starts paplay without waiting; returns its pid (wait with waitFor).
    pid_t playAsync(const std::string& path) const;
    static int waitFor(pid_t pid);

    // Kills the server at once (fault tests); the destructor then only cleans up.
    void kill();

private:
    TempFolder m_folder{"tempovaro-pulse"};
    const std::string& m_dir = m_folder.path();
    pid_t m_pid = -1;
    bool m_ready = false;
};

// Runs a program with arguments, waits, and returns its exit status (-1 when it could not run).
int runProgram(const std::string& program, const std::initializer_list<std::string>& args);
