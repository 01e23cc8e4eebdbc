#include "PulseServer.h"

#include "ChildProcess.h"
#include "WaitUntil.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

constexpr const char* kPulseBinary = "/usr/bin/pulseaudio";

bool socketAnswers(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

} // namespace

int runProgram(const std::string& program, const std::initializer_list<std::string>& args)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return waitForExit(spawnChild(argv));
}

bool PulseServer::binaryPresent()
{
    return access(kPulseBinary, X_OK) == 0;
}

PulseServer::PulseServer()
{
    if (!binaryPresent())
        return;
    if (!m_folder.isValid())
        return;
    std::filesystem::create_directories(m_dir + "/run");
    std::filesystem::create_directories(m_dir + "/state");
    const std::string socket = m_dir + "/run/native";
    {
        std::ofstream config(m_dir + "/rig.pa");
        config << ".fail\n"
               << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket << "\n"
               << "load-module module-null-sink sink_name=drumsink rate=44100 channels=1 norewinds=1 "
                  "sink_properties=device.description=DrumSink\n"
               << "set-default-sink drumsink\n"
               << "set-default-source drumsink.monitor\n";
        std::ofstream client(m_dir + "/client.conf");
        client << "autospawn = no\n";
    }
    setenv("PULSE_RUNTIME_PATH", (m_dir + "/run").c_str(), 1);
    setenv("PULSE_STATE_PATH", (m_dir + "/state").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (m_dir + "/client.conf").c_str(), 1);

    m_pid = spawnChild({kPulseBinary, "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                        "--use-pid-file=no", "-F", m_dir + "/rig.pa", "--log-target=file:" + m_dir + "/pa.log"},
                       "/dev/null", SIGKILL);
    if (m_pid < 0)
        return;
    // The server needs about 0.1 s; give a loaded machine ten seconds.
    bool ended = false;
    waitUntil(
        [&] {
            m_ready = socketAnswers(socket);
            ended = !m_ready && waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            return m_ready || ended;
        },
        10000, 10);
    if (ended)
        m_pid = -1;
}

PulseServer::~PulseServer()
{
    kill();
}

void PulseServer::kill()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

pid_t PulseServer::playAsync(const std::string& path) const
{
    return spawnPlayer("paplay", path);
}

int PulseServer::play(const std::string& path) const
{
    return waitFor(playAsync(path));
}

int PulseServer::waitFor(pid_t pid)
{
    return waitForExit(pid);
}
