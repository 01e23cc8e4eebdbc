#pragma once
// Every persistence test runs in its own temporary directory: it is the
// working directory (for the score file) and XDG_CONFIG_HOME (for the
// settings store). Both are restored afterwards, and the globals start from
// the defaults the main window sets before loading.

#include "FileBytes.h"
#include "QtTempFolder.h"
#include "persistence/QX_Defaults.h"
#include "persistence/QX_Global.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

inline void SetDefaultSettings()
{
    DeviceProperties = defaultDeviceProperties();
    ProgramSettings = defaultProgramSettings();
    ClickSettings = TQX_ClickSettings{};
}

class PersistenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_oldCwd = QDir::currentPath();
        m_hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        m_oldXdg = qgetenv("XDG_CONFIG_HOME");
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
        qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
        SetDefaultSettings();
        Scores.fill(TQX_Score{});
    }

    void TearDown() override
    {
        QDir::setCurrent(m_oldCwd);
        if (m_hadXdg)
            qputenv("XDG_CONFIG_HOME", m_oldXdg);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QtTempFolder m_dir;

private:
    QString m_oldCwd;
    QByteArray m_oldXdg;
    bool m_hadXdg = false;
};

// A full disk that even root cannot write past: while this lives, no file of
// the process may grow beyond `bytes` (writes fail with EFBIG instead of
// raising SIGXFSZ).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return m_active; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

// Root reads and writes past permissions, so as root the steps run in a child
// process that has become "nobody" (and owns the test folder); other users
// run them in-process. Returns the steps' result, or nothing when there was
// no unprivileged user to run them as.
template <typename Steps>
std::optional<bool> runUnprivileged(const QString& dir, Steps steps)
{
    if (geteuid() != 0)
        return steps();
    constexpr uid_t kNobody = 65534;
    if (::chown(QFile::encodeName(dir).constData(), kNobody, kNobody) != 0)
        return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(2);
        _exit(steps() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 2) {
        ADD_FAILURE() << "child status " << status;
        return false;
    }
    if (WEXITSTATUS(status) == 2)
        return std::nullopt;
    return WEXITSTATUS(status) == 0;
}
