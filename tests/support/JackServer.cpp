#include "JackServer.h"

#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

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

// Runs a program with its output in logPath; returns its pid or -1.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, const std::string& logPath)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStrings(extraEnv);
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int runToEnd(const std::vector<std::string>& args, const std::string& logPath)
{
    const pid_t pid = spawn(args, {}, logPath);
    if (pid <= 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

    m_pid = spawn({"jackd", "-n", m_name, "--no-realtime", "-d", "dummy", "-r", std::to_string(sampleRate), "-p",
                   std::to_string(periodFrames)},
                  {"JACK_NO_AUDIO_RESERVATION=1"}, m_dir + "/jackd.log");
    if (m_pid > 0 && !waitUntilAnswering(10000))
        stop();
}

JackServer::~JackServer()
{
    stop();
    if (!m_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
}

void JackServer::stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

bool JackServer::waitUntilAnswering(int timeoutMs) const
{
    // jack_lsp fails at once without a server; polling it is much quicker
    // than jack_wait, which looks only once a second.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid)
            return false;
        if (runToEnd({"jack_lsp", "-s", m_name}, m_dir + "/probe.log") == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
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
