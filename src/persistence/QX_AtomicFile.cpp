#include "persistence/QX_AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "<name>.tmp-" and eight letters or digits. The suffix is long enough that
// two writers never pick the same name, and ".tmp-" keeps it apart from the
// names users and other programs give their copies ("settings.json.backup").
const QString kTempInfix = QStringLiteral(".tmp-");
constexpr int kTempSuffixChars = 8;
// Earlier versions wrote through QSaveFile, whose temporary files are
// "<name>." and six random ASCII letters.
constexpr int kLegacySuffixChars = 6;

// Links are followed at most this deep; a longer chain is a loop.
constexpr int kMaxLinkDepth = 40;

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

AtomicWriteResult failure(const QString& what)
{
    return {false, what};
}

QString randomSuffix()
{
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString s;
    for (int i = 0; i < kTempSuffixChars; ++i)
        s += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))]);
    return s;
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiAlnum(QChar c)
{
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9');
}

// The file a path finally names, following links; empty when the chain loops.
QString resolveLinks(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; info.isSymLink(); ++depth) {
        if (depth == kMaxLinkDepth)
            return {};
        info.setFile(info.symLinkTarget());
    }
    return info.absoluteFilePath();
}

bool writeEverything(int fd, const QByteArray& bytes, int& err)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// The rename is only durable once the folder's entry is on the disk too. A
// folder that cannot be synced changes nothing about the write's success.
void syncFolder(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void removeStaleTemporaries(const QString& target)
{
    const QFileInfo info(target);
    const QString name = info.fileName();
    const QDir dir = info.dir();
    // No name filter: its wildcards would misread a '[' in the file's name.
    const QStringList candidates = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& candidate : candidates) {
        if (!isOwnTemporaryName(name, candidate))
            continue;
        const QString path = dir.filePath(candidate);
        struct stat st {};
        // Only regular files of our own: a link or a stranger's file stays.
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            QFile::remove(path);
    }
}

} // namespace

bool isOwnTemporaryName(const QString& targetName, const QString& candidate)
{
    if (!candidate.startsWith(targetName))
        return false;
    const QStringView rest = QStringView(candidate).mid(targetName.size());
    if (rest.startsWith(kTempInfix)) {
        const QStringView suffix = rest.mid(kTempInfix.size());
        return suffix.size() == kTempSuffixChars && std::all_of(suffix.begin(), suffix.end(), isAsciiAlnum);
    }
    if (rest.size() != 1 + kLegacySuffixChars || rest[0] != u'.')
        return false;
    const QStringView suffix = rest.mid(1);
    if (!std::all_of(suffix.begin(), suffix.end(), isAsciiLetter))
        return false;
    // QSaveFile draws from both cases; a suffix in one case only is far more
    // likely a word someone chose ("backup", "BACKUP") than one in 32 of its
    // random names, which are left for the user to see.
    const bool hasLower = std::any_of(suffix.begin(), suffix.end(), [](QChar c) { return c >= u'a'; });
    const bool hasUpper = std::any_of(suffix.begin(), suffix.end(), [](QChar c) { return c < u'a'; });
    return hasLower && hasUpper;
}

AtomicWriteResult writeFileAtomically(const QString& path, const QByteArray& bytes, FileAccess access)
{
    const QString target = resolveLinks(path);
    if (target.isEmpty())
        return failure(QStringLiteral("%1: too many levels of symbolic links").arg(path));

    const QByteArray targetName = QFile::encodeName(target);
    struct stat old {};
    const bool exists = ::stat(targetName.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return failure(QStringLiteral("%1 is not a regular file; it was left as it is").arg(target));
    if (!exists && errno != ENOENT)
        return failure(QStringLiteral("%1: %2").arg(target, systemError(errno)));

    // A new file made by the user's rules gets them from open() itself (the
    // umask applies); any other mode is set exactly once the file exists.
    const bool modeFromUmask = access != FileAccess::OwnerOnly && !exists;
    const mode_t createMode = access == FileAccess::Keep && !exists ? 0666 : 0600;
    const mode_t exactMode = access == FileAccess::OwnerOnly ? 0600 : (old.st_mode & 07777);

    QByteArray tempName;
    int fd = -1;
    // A name another writer has just taken is simply skipped.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempName = QFile::encodeName(target + kTempInfix + randomSuffix());
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
        if (fd < 0 && errno != EEXIST)
            return failure(QStringLiteral("cannot create a file beside %1: %2").arg(target, systemError(errno)));
    }
    if (fd < 0)
        return failure(QStringLiteral("cannot create a file beside %1: %2").arg(target, systemError(EEXIST)));

    int err = 0;
    bool ok = writeEverything(fd, bytes, err);
    if (ok && !modeFromUmask && ::fchmod(fd, exactMode) != 0)
        ok = false, err = errno;
    if (ok && ::fsync(fd) != 0)
        ok = false, err = errno;
    if (::close(fd) != 0 && ok)
        ok = false, err = errno;
    if (ok && ::rename(tempName.constData(), targetName.constData()) != 0)
        ok = false, err = errno;
    if (!ok) {
        ::unlink(tempName.constData());
        return failure(QStringLiteral("cannot write %1: %2").arg(target, systemError(err)));
    }
    syncFolder(QFileInfo(target).path());
    removeStaleTemporaries(target);
    return {true, {}};
}

bool moveToFreeBackupName(const QString& path)
{
    const QString base = path + QStringLiteral(".bak");
    for (int n = 0; n < 1000; ++n) {
        const QString name = n == 0 ? base : base + QString::number(n);
        const QFileInfo candidate(name);
        if (candidate.exists() || candidate.isSymLink())
            continue;
        return QDir().rename(path, name);
    }
    return false;
}
