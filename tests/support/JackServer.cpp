#include "JackServer.h"

#include "ChildProcess.h"
#include "WaitUntil.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

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

// The build tree this test program belongs to: the nearest folder above it
// with a CMakeCache.txt, else the program's own folder.
std::string buildTree()
{
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    for (fs::path dir = exe.parent_path(); !dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
        if (fs::exists(dir / "CMakeCache.txt", error))
            return dir.string();
    return exe.parent_path().string();
}

// Held from the first server of this process until it ends (the kernel drops
// it then, however the process ends). Close-on-exec keeps it from jackd and
// the tools a test starts, which must not hold it on.
bool holdBuildLock(const std::string& name)
{
    static int held = -1;
    if (held >= 0)
        return true;
    const std::string path = (fs::temp_directory_path() / (name + ".lock")).string();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    // Another test program of this build tree may run for minutes.
    if (!waitUntil([&] { return flock(fd, LOCK_EX | LOCK_NB) == 0; }, 600'000, 50)) {
        close(fd);
        return false;
    }
    held = fd;
    return true;
}

// The process ids of every jackd started with "-n name", or of every jackd
// at all when name is empty.
std::vector<pid_t> serversNamed(const std::string& name)
{
    std::vector<pid_t> pids;
    std::error_code error;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().string();
        if (entry.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(it->path() / "cmdline", std::ios::binary);
        std::vector<std::string> args;
        for (std::string arg; std::getline(in, arg, '\0');)
            args.push_back(arg);
        if (args.empty() || fs::path(args[0]).filename() != "jackd")
            continue;
        if (name.empty())
            pids.push_back(static_cast<pid_t>(std::stol(entry)));
        for (std::size_t i = 1; i + 1 < args.size(); ++i)
            if (args[i] == "-n" && args[i + 1] == name)
                pids.push_back(static_cast<pid_t>(std::stol(entry)));
    }
    return pids;
}

// JACK's registry holds eight servers. A server killed outright keeps its
// place until a server of its name starts again, so the places of servers
// with names nobody uses any more (earlier test runs' random names, say)
// are never given back. With no jackd left on the machine, nothing in the
// registry or in JACK's shared memory is in use, and both can go; the next
// server makes a new registry.
bool clearDeadRegistry()
{
    if (!serversNamed({}).empty())
        return false;
    std::error_code ignored;
    const std::string uid = std::to_string(getuid());
    for (const auto& entry : fs::directory_iterator("/dev/shm", ignored)) {
        const std::string file = entry.path().filename().string();
        if (file == "jack-shm-registry" || file.rfind("jack-" + uid + "-", 0) == 0 ||
            file.rfind("jack_sem." + uid + "_", 0) == 0 || (file.rfind("jack_", 0) == 0 && entry.is_socket(ignored)))
            fs::remove(entry.path(), ignored);
    }
    return true;
}

} // namespace

std::string JackServer::nameForThisBuild()
{
    // FNV-1a: the same tree gives the same name in every test program.
    std::uint32_t hash = 2166136261u;
    for (const unsigned char c : buildTree())
        hash = (hash ^ c) * 16777619u;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", hash);
    return std::string("tempovaro-") + hex;
}

JackServer::JackServer(int periodFrames, int sampleRate) : m_periodFrames(periodFrames), m_sampleRate(sampleRate)
{
    m_binaryFound = onPath("jackd") && onPath("jack_lsp");
    if (!m_binaryFound)
        return;
    m_name = nameForThisBuild();
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    if (!holdBuildLock(m_name))
        return;
    if (!m_folder.isValid())
        return;
    endOrphans();
    removeLeftovers();

    // Real-time scheduling where the system grants it (jackd carries on
    // without it otherwise): with ordinary threads a client's cycle is now
    // and then late, and JACK drops the MIDI events of that cycle. The client
    // time-out (-t, 500 ms by default) is raised because a loaded machine can
    // take longer than that to let a new client in, which the client reports
    // as "server not running". A server of this name killed a moment ago may
    // still hold its place until its parent has reaped it ("server already
    // active"), and a full registry may be all dead: start again until it
    // comes up.
    waitUntil(
        [&] {
            m_pid = spawnChild({"jackd", "-n", m_name, "-t", "4000", "-d", "dummy", "-r", std::to_string(sampleRate),
                                "-p", std::to_string(periodFrames)},
                               m_dir + "/jackd.log", SIGTERM);
            if (m_pid > 0 && waitUntilAnswering(20000))
                return true;
            stop();
            if (log().find("Too many servers already active") != std::string::npos)
                clearDeadRegistry();
            return false;
        },
        30000, 200);
}

JackServer::~JackServer()
{
    stop();
    removeLeftovers();
}

void JackServer::endOrphans() const
{
    // Under the lock no other server of this name is legitimately running:
    // one still there outlived a test that was killed outright.
    for (const pid_t pid : serversNamed(m_name)) {
        kill(pid, SIGTERM);
        if (!waitUntil([&] { return kill(pid, 0) != 0; }, 5000, 10))
            kill(pid, SIGKILL);
    }
}

void JackServer::removeLeftovers() const
{
    // Clients that outlived their server leave their semaphores behind, and a
    // killed server its socket. Another server of the name (a test that
    // started the next one before it let go of this one) keeps its own.
    if (!serversNamed(m_name).empty())
        return;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/dev/shm", ignored)) {
        const std::string file = entry.path().filename().string();
        if ((file.rfind("jack_sem.", 0) == 0 && file.find("_" + m_name + "_") != std::string::npos) ||
            file.rfind("jack_" + m_name + "_", 0) == 0)
            fs::remove(entry.path(), ignored);
    }
}

void JackServer::stop()
{
    if (m_pid <= 0)
        return;
    // SIGTERM lets jackd take its shared memory and its entry in JACK's
    // server registry with it; killed outright, it leaves both behind until
    // the next start of this name.
    kill(m_pid, SIGTERM);
    if (!waitUntil([&] { return waitpid(m_pid, nullptr, WNOHANG) != 0; }, 5000, 10)) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

bool JackServer::waitUntilAnswering(int timeoutMs)
{
    // jack_lsp fails at once without a server; polling it is much quicker
    // than jack_wait, which looks only once a second.
    bool answered = false;
    waitUntil(
        [&] {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1; // ended by itself, and reaped
                return true;
            }
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
