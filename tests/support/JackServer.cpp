#include "JackServer.h"

#include "ChildProcess.h"
#include "WaitUntil.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool onPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

} // namespace

JackServer::JackServer(int periodFrames, int sampleRate) : m_periodFrames(periodFrames), m_sampleRate(sampleRate)
{
    m_binaryFound = onPath("jackd") && onPath("jack_lsp");
    if (!m_binaryFound)
        return;
    std::string pattern = (std::filesystem::temp_directory_path() / "tempovaro-jack-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return;
    m_dir = pattern;
    m_name = "tempovaro-test-" + std::to_string(getpid()) + "-" + m_dir.substr(m_dir.size() - 6);
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);

    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    // Real-time scheduling where the system grants it (jackd carries on
    // without it otherwise): with ordinary threads a client's cycle is now
    // and then late, and JACK drops the MIDI events of that cycle.
    m_pid = spawnChild({"jackd", "-n", m_name, "-d", "dummy", "-r", std::to_string(sampleRate), "-p",
                        std::to_string(periodFrames)},
                       m_dir + "/jackd.log", SIGTERM);
    if (m_pid > 0 && !waitUntilAnswering(10000))
        stop();
}

JackServer::~JackServer()
{
    stop();
    // Clients that outlived their server leave their semaphores behind.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind("jack_sem.", 0) == 0 && file.find("_" + m_name + "_") != std::string::npos)
            std::filesystem::remove(entry.path(), ignored);
    }
    if (!m_dir.empty()) {
        std::filesystem::remove_all(m_dir, ignored);
    }
}

void JackServer::stop()
{
    if (m_pid <= 0)
        return;
    // SIGTERM lets jackd take its shared memory and its entry in JACK's
    // server registry with it; killed outright, it leaves both behind, and
    // the registry holds only a few servers.
    kill(m_pid, SIGTERM);
    if (!waitUntil([&] { return waitpid(m_pid, nullptr, WNOHANG) != 0; }, 5000, 10)) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

bool JackServer::waitUntilAnswering(int timeoutMs) const
{
    // jack_lsp fails at once without a server; polling it is much quicker
    // than jack_wait, which looks only once a second.
    bool answered = false;
    waitUntil(
        [&] {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid)
                return true;
            answered = waitForExit(spawnChild({"jack_lsp", "-s", m_name}, m_dir + "/probe.log")) == 0;
            return answered;
        },
        timeoutMs, 20);
    return answered;
}

std::string JackServer::log() const
{
    std::ifstream in(m_dir + "/jackd.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void useNoJackServer()
{
    const std::string name = "tempovaro-no-server-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
}
