#include "PipeWireServer.h"

#include "ChildProcess.h"
#include "WaitUntil.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kServerBinary = "/usr/bin/pipewire";
constexpr const char* kSessionBinary = "/usr/bin/wireplumber";
constexpr const char* kWirePlumberData = "/usr/share/wireplumber";
// Where pipewire-alsa's plugins are: installed with the package, or unpacked
// from it by scripts/install-deps on machines that keep pulseaudio (the two
// packages conflict).
constexpr const char* kPluginRoots[] = {"/usr/lib", "/usr/local/lib/tempovaro/pipewire-alsa/usr/lib"};
constexpr const char* kPcmPlugin = "libasound_module_pcm_pipewire.so";

// 44.1 kHz as the only clock rate, so the capture is not resampled on its
// way from the sink to the program. A graph cycle of at least 2048 frames
// (46 ms) rather than the usual 1024 gives the daemon's threads, which get
// no real-time priority here, more time to be scheduled before a cycle
// runs late and the stream glitches. No D-Bus: nothing here has a bus, and
// the daemon would otherwise wait for one.
const char* const kServerConfig = R"conf(context.properties = {
    core.daemon = true
    core.name = pipewire-0
    support.dbus = false
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
    default.clock.quantum = 2048
    default.clock.min-quantum = 2048
    link.max-buffers = 16
    mem.allow-mlock = false
    log.level = 2
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-device-factory }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
    { name = libpipewire-module-access args = { } }
    { name = libpipewire-module-loopback
        args = {
            node.description = "DrumSink"
            audio.position = [ MONO ]
            capture.props = { node.name = drumsink media.class = Audio/Sink node.description = "DrumSink" }
            playback.props = { node.name = drumsource media.class = Audio/Source node.description = "DrumSource" }
        }
    }
]
context.objects = [
    # With no sound card, this node drives the graph's clock.
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Dummy-Driver
                 node.group = pipewire.dummy priority.driver = 20000 } }
]
)conf";

// WirePlumber's own configuration without the pieces that need D-Bus or
// hardware (logind, Bluetooth, device reservation, the card monitors): the
// stock scripts that pick default nodes and link streams are what we want.
const char* const kSessionConfig = R"conf(context.properties = {
    log.level = 2
    wireplumber.script-engine = lua-scripting
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-session-manager }
]
wireplumber.components = [
    { name = libwireplumber-module-lua-scripting, type = module }
    { name = main.lua, type = config/lua }
    { name = policy.lua, type = config/lua }
]
)conf";

const char* const kSessionMain = R"conf(load_module("metadata")
device_defaults.enable()
stream_defaults.enable()
load_script("intended-roles.lua")
)conf";

// The folder holding the PCM and mixer plugins, or "".
std::string pluginDir()
{
    std::error_code error;
    for (const char* root : kPluginRoots) {
        for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
            const fs::path dir = it->path() / "alsa-lib";
            if (fs::exists(dir / kPcmPlugin, error))
                return dir.string();
        }
        error.clear();
    }
    return {};
}

// Read after the machine's configuration: the plugins from where they are,
// the devices as pipewire-alsa names them, and "default" this server
// whatever /etc/alsa/conf.d says (pipewire-alsa's default, PulseAudio's, none).
std::string alsaConfig(const std::string& plugins)
{
    return "pcm_type.pipewire { lib \"" + plugins + "/libasound_module_pcm_pipewire.so\" }\n"
           "ctl_type.pipewire { lib \"" + plugins + "/libasound_module_ctl_pipewire.so\" }\n"
           "pcm.!pipewire { type pipewire playback_node \"-1\" capture_node \"-1\"\n"
           "    hint { show on description \"PipeWire Sound Server\" } }\n"
           "ctl.!pipewire { type pipewire }\n"
           "pcm.!default { type pipewire playback_node \"-1\" capture_node \"-1\"\n"
           "    hint { show on description \"Default ALSA Output (PipeWire)\" } }\n"
           "ctl.!default { type pipewire }\n";
}

} // namespace

bool PipeWireServer::binaryPresent()
{
    return access(kServerBinary, X_OK) == 0 && access(kSessionBinary, X_OK) == 0 && fs::exists(kWirePlumberData)
        && !pluginDir().empty();
}

PipeWireServer::PipeWireServer()
{
    if (!binaryPresent())
        return;
    if (!m_folder.isValid())
        return;
    std::error_code error;
    for (const char* sub : {"/run", "/state", "/session"})
        fs::create_directories(m_dir + sub, error);
    for (const char* scripts : {"/main.lua.d", "/policy.lua.d"})
        fs::copy(std::string(kWirePlumberData) + scripts, m_dir + "/session" + scripts, fs::copy_options::recursive,
                 error);
    std::ofstream(m_dir + "/pipewire.conf") << kServerConfig;
    std::ofstream(m_dir + "/session/wireplumber.conf") << kSessionConfig;
    std::ofstream(m_dir + "/session/main.lua.d/90-enable-all.lua") << kSessionMain;
    std::ofstream(m_dir + "/asound.conf") << alsaConfig(pluginDir());

    setenv("PIPEWIRE_RUNTIME_DIR", (m_dir + "/run").c_str(), 1);
    setenv("XDG_STATE_HOME", (m_dir + "/state").c_str(), 1);
    setenv("WIREPLUMBER_CONFIG_DIR", (m_dir + "/session").c_str(), 1);
    setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + m_dir + "/asound.conf").c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("PIPEWIRE_REMOTE");

    m_serverPid = spawnChild({kServerBinary, "-c", m_dir + "/pipewire.conf"}, m_dir + "/pipewire.log", SIGKILL);
    if (m_serverPid < 0)
        return;
    // The socket appears within milliseconds, the defaults within a second;
    // a machine busy with parallel builds gets half a minute for each.
    waitUntil([&] { return fs::exists(m_dir + "/run/pipewire-0"); }, 30000, 10);
    m_sessionPid = spawnChild({kSessionBinary}, m_dir + "/wireplumber.log", SIGKILL);
    m_ready = m_sessionPid > 0 && waitForDefaults();
}

bool PipeWireServer::waitForDefaults() const
{
    // The defaults are the last thing WirePlumber sets up; streams opened
    // before that stay unlinked.
    const std::string metadata = m_dir + "/metadata.txt";
    bool chosen = false;
    waitUntil(
        [&] {
            if (waitpid(m_serverPid, nullptr, WNOHANG) != 0 || waitpid(m_sessionPid, nullptr, WNOHANG) != 0)
                return true;
            fs::remove(metadata);
            waitForExit(spawnChild({"timeout", "5", "pw-metadata", "0"}, metadata));
            std::ifstream in(metadata);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            chosen = text.find("default.audio.source") != std::string::npos &&
                     text.find("default.audio.sink") != std::string::npos;
            return chosen;
        },
        30000, 50);
    return chosen;
}

PipeWireServer::~PipeWireServer()
{
    kill();
}

void PipeWireServer::kill()
{
    for (pid_t* pid : {&m_serverPid, &m_sessionPid}) {
        if (*pid > 0) {
            ::kill(*pid, SIGKILL);
            waitpid(*pid, nullptr, 0);
            *pid = -1;
        }
    }
}

pid_t PipeWireServer::playAsync(const std::string& path) const
{
    return spawnPlayer("pw-play", path);
}

int PipeWireServer::play(const std::string& path) const
{
    return waitForExit(playAsync(path));
}
