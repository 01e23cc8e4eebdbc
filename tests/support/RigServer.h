#pragma once
// The sound server a rig test plays through, chosen when its program runs:
// one program, run once per server by ctest (tempovaro_test's RIGS), with
// TEMPOVARO_RIG naming the server. PulseAudio unless it says "pipewire".

#include "PipeWireServer.h"
#include "PulseServer.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

class RigServer {
public:
    static bool pipeWire()
    {
        const char* rig = std::getenv("TEMPOVARO_RIG");
        return rig && std::string_view(rig) == "pipewire";
    }
    static bool binaryPresent() { return pipeWire() ? PipeWireServer::binaryPresent() : PulseServer::binaryPresent(); }
    // The ALSA device that reaches the server.
    static const char* device() { return pipeWire() ? "pipewire" : "pulse"; }
    // What a test skipped for want of the server says is missing.
    static const char* missing()
    {
        return pipeWire() ? "pipewire, wireplumber or the pipewire-alsa plugins" : "pulseaudio";
    }

    RigServer()
    {
        if (pipeWire())
            m_pipeWire.emplace();
        else
            m_pulse.emplace();
    }
    bool running() const { return m_pipeWire ? m_pipeWire->running() : m_pulse->running(); }
    const std::string& dir() const { return m_pipeWire ? m_pipeWire->dir() : m_pulse->dir(); }
    pid_t playAsync(const std::string& path) const
    {
        return m_pipeWire ? m_pipeWire->playAsync(path) : m_pulse->playAsync(path);
    }

private:
    std::optional<PulseServer> m_pulse;
    std::optional<PipeWireServer> m_pipeWire;
};
