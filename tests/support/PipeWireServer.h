#pragma once
// A private PipeWire server for tests, set up the way current distributions
// run it: the pipewire daemon with a virtual sink "drumsink" looped back into
// a source "drumsource" (what is played to the sink is captured from the
// source), and WirePlumber as session manager, which makes them the default
// sink and source and links every new stream. ALSA reaches it through
// pipewire-alsa as the devices "pipewire" and "default".
//
// The constructor writes both configurations into a temporary directory,
// starts the two daemons there, waits until the session manager has chosen
// the defaults, and points this process at the server (PIPEWIRE_RUNTIME_DIR)
// and at its own ALSA configuration (ALSA_CONFIG_PATH), so what the machine's
// /etc/alsa/conf.d says about "default" does not matter. Create it before the
// first ALSA call of the test program. The destructor kills both by pid.
// Tests skip when pipewire, wireplumber or pipewire-alsa's plugins are
// missing (scripts/install-deps unpacks the plugins where pulseaudio keeps
// the package itself from being installed).

#include "TempFolder.h"

#include <string>
#include <sys/types.h>

class PipeWireServer {
public:
    PipeWireServer();
    ~PipeWireServer();
    PipeWireServer(const PipeWireServer&) = delete;
    PipeWireServer& operator=(const PipeWireServer&) = delete;

    static bool binaryPresent();
    // True when the session manager had chosen the default sink and source.
    bool running() const { return m_serverPid > 0 && m_ready; }
    const std::string& dir() const { return m_dir; }

    // Plays a sound file into the default sink with pw-play; play waits for
    // the end and returns pw-play's exit status, playAsync returns its pid.
    int play(const std::string& path) const;
    pid_t playAsync(const std::string& path) const;

    // Kills the server and the session manager at once (fault tests).
    void kill();

private:
    bool waitForDefaults() const;

    TempFolder m_folder{"tempovaro-pipewire"};
    const std::string& m_dir = m_folder.path();
    pid_t m_serverPid = -1;
    pid_t m_sessionPid = -1;
    bool m_ready = false;
};
