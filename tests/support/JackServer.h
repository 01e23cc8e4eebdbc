#pragma once
// A private JACK server with the dummy back-end, for MIDI tests on machines
// without sound hardware. It puts its name into JACK_DEFAULT_SERVER so every
// JACK client of this process (RtMidi included) talks to it, and never to a
// server the user may be running.
//
// JACK keeps at most a few servers per machine in a registry in /dev/shm, and
// a server killed outright keeps its place there until a server of the same
// name starts again. So the name is fixed per build tree (a hash of its
// path): the next start reclaims whatever a crashed run left, and two
// checkouts on one machine never share a server. A process that starts one
// holds a lock file in /tmp for that name until it ends, so test programs of
// one build tree take turns even outside ctest's own resource lock; the
// lock also makes a leftover jackd of that name an orphan, which the
// constructor ends. The destructor (or stop()) ends the server with SIGTERM,
// which frees its place, and the kernel sends it SIGTERM if the test dies.

#include "TempFolder.h"

#include <string>
#include <sys/types.h>

class JackServer {
public:
    explicit JackServer(int periodFrames = 64, int sampleRate = 44100);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // False when jackd is not installed (tests skip) or did not come up.
    bool binaryFound() const { return m_binaryFound; }
    bool running() const { return m_pid > 0; }
    // Ends the server the way a user stopping it would; its clients are left
    // with a server that is gone.
    void stop();

    const std::string& name() const { return m_name; }
    int periodFrames() const { return m_periodFrames; }
    double periodSeconds() const { return static_cast<double>(m_periodFrames) / m_sampleRate; }
    // How far a measured interval may be from the sender's: time stamps are
    // taken once per cycle (one period), and without real-time scheduling a
    // client's cycle can run several milliseconds late while the machine is
    // busy (parallel builds, sanitizer runs). Errors in the time keeping
    // itself, such as losing the time of a clock message, are tens of ms.
    double intervalToleranceSeconds() const { return periodSeconds() + 0.005; }
    // The server's output, for failure messages.
    std::string log() const;

    // The server name of this build tree.
    static std::string nameForThisBuild();

private:
    bool waitUntilAnswering(int timeoutMs);
    void endOrphans() const;
    void removeLeftovers() const;

    int m_periodFrames;
    int m_sampleRate;
    bool m_binaryFound = false;
    pid_t m_pid = -1;
    std::string m_name;
    TempFolder m_folder{"tempovaro-jack"};
    const std::string& m_dir = m_folder.path();
};

// Points JACK clients of this process at a server that does not exist, so a
// test sees a machine without JACK even if one runs elsewhere.
void useNoJackServer();
