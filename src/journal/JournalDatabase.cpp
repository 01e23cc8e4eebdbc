// The journal's file: opening it, checking it, moving a stranger aside and
// naming what went wrong. The runs it stores are in JournalRuns.cpp.
#include "journal/JournalDatabase.h"

#include "journal/JournalSchema.h"
#include "journal/SqlRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// SQLite's primary result codes, as QSQLITE reports them in nativeErrorCode().
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteIoError = 10;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADatabase = 26;

int primaryCode(const QSqlError& e)
{
    // Extended result codes keep the primary code in the low byte.
    return e.nativeErrorCode().toInt() & 0xff;
}

// What stands at a path, found with stat alone: nothing here ever opens a
// file, so no lock of ours is dropped and no pipe blocks us.
struct PathState {
    enum Kind { Missing, Regular, NotRegular, NoAccess, Unknown } kind = Missing;
    qint64 size = 0;
};

PathState inspect(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        if (errno == EACCES)
            return {PathState::NoAccess};
        // A link that points nowhere is still something under our name.
        if (errno == ENOENT && ::lstat(native.constData(), &st) == 0)
            return {PathState::NotRegular};
        return {errno == ENOENT || errno == ENOTDIR ? PathState::Missing : PathState::Unknown};
    }
    if (!S_ISREG(st.st_mode))
        return {PathState::NotRegular};
    return {PathState::Regular, static_cast<qint64>(st.st_size)};
}

bool existsAtAll(const QString& path)
{
    return inspect(path).kind != PathState::Missing;
}

bool renamePath(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// The journal's folder and files are the user's alone. chmod works by name,
// so no descriptor of the journal is opened or closed.
void makePrivate(const QString& path, mode_t mode)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != mode)
        ::chmod(native.constData(), mode);
}

bool makeFolder(const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).absolutePath();
    if (parent != clean && !makeFolder(parent))
        return false;
    return ::mkdir(QFile::encodeName(clean).constData(), 0700) == 0 || errno == EEXIST;
}

bool folderHasNoSpace(const QString& folder)
{
    struct statvfs fs {};
    return ::statvfs(QFile::encodeName(folder).constData(), &fs) == 0 && fs.f_bavail == 0;
}

bool writable(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

// A URI for QSQLITE_OPEN_URI; every character SQLite treats specially in a
// file name is escaped.
QString sqliteUri(const QString& path, const QString& query)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
           QLatin1Char('?') + query;
}

std::atomic<unsigned> g_connectionSerial{0};

// Qt keeps every connection in one process-wide registry behind a lock of its
// own, which ThreadSanitizer cannot see (Qt is not instrumented): two journal
// threads opening at once then read as a race. Taking this mutex around every
// call into the registry makes the hand-off visible; it is held for a lookup.
std::mutex g_registryMutex;

// A new journal is switched to WAL once. Two programs switching it at the
// same moment: SQLite answers the second "locked" at once, without waiting
// out its busy timeout (it will not wait to upgrade a lock the statement
// holds), so the switch is tried again here for as long.
bool switchToWal(QSqlQuery& q, int busyTimeoutMs)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs);
    for (;;) {
        if (q.exec(QStringLiteral("PRAGMA journal_mode = WAL")))
            return true;
        const int code = primaryCode(q.lastError());
        if ((code != kSqliteBusy && code != kSqliteLocked) || std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

JournalDatabase::JournalDatabase(QString path)
    : m_path(std::move(path))
{
}

JournalDatabase::~JournalDatabase()
{
    close();
}

QString JournalDatabase::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Tempovaro/journal.sqlite");
}

QSqlDatabase JournalDatabase::connection() const
{
    const std::lock_guard lock(g_registryMutex);
    return QSqlDatabase::database(m_connection, false);
}

bool JournalDatabase::isOpen() const
{
    return !m_connection.isEmpty();
}

void JournalDatabase::close()
{
    if (m_connection.isEmpty())
        return;
    {
        QSqlDatabase db = connection();
        db.close();
    }
    // Only once no QSqlDatabase handle is left may the connection go.
    {
        const std::lock_guard lock(g_registryMutex);
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_connection.clear();
}

bool JournalDatabase::open(const Options& options)
{
    close();
    m_problem = JournalProblem::None;
    m_problemDetail.clear();
    m_movedAsideTo.clear();
    m_readOnly = options.readOnly;
    m_immutable = false;
    m_version = 0;

    // SQLite opens the log and the shared-memory file beside the journal
    // itself: a pipe there would block it just the same.
    for (const auto* suffix : {"-wal", "-shm", "-journal"}) {
        const QString side = m_path + QLatin1String(suffix);
        if (inspect(side).kind == PathState::NotRegular) {
            fail(JournalProblem::NotAFile, QStringLiteral("%1 is not a regular file").arg(side));
            return false;
        }
    }
    const bool opened = options.readOnly ? openForReading(options) : openForWriting(options);
    if (!opened)
        return false;
    rememberFile();

    QSqlDatabase db = connection();
    QString error;
    m_version = journalSchemaVersion(db, &error);
    if (m_version < 0) {
        fail(JournalProblem::Other, error);
        db = QSqlDatabase(); // the connection goes only once no handle is left
        close();
        return false;
    }
    if (m_version > kJournalSchemaVersion) {
        // Tables we don't know may depend on rows we would write: read only.
        m_readOnly = true;
        QSqlQuery(db).exec(QStringLiteral("PRAGMA query_only = ON"));
        fail(JournalProblem::NewerSchema,
             QStringLiteral("journal version %1, this program knows up to %2").arg(m_version).arg(kJournalSchemaVersion));
        return true;
    }
    if (options.readOnly) {
        if (m_version == 0) {
            // The writer makes the tables in the transaction that sets the
            // version: nothing to read yet.
            fail(JournalProblem::BeingCreated, QStringLiteral("%1 has no tables yet").arg(m_path));
            db = QSqlDatabase();
            close();
            return false;
        }
        return true;
    }

    QSqlQuery q(db);
    // WAL lets the journal window read while a run is written, and a torn
    // write never reaches the main file. FULL syncs each run's commit: the
    // writer runs off the measurement's thread, so durability is cheap.
    if (!switchToWal(q, options.busyTimeoutMs) || !q.exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
        (options.maxPageCount > 0 &&
         !q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(options.maxPageCount)))) {
        fail(q.lastError());
        q = QSqlQuery();
        db = QSqlDatabase();
        close();
        return false;
    }
    q = QSqlQuery();
    // Side files left by an older Tempovaro keep their old mode otherwise.
    for (const auto* suffix : {"-wal", "-shm"})
        makePrivate(m_path + QLatin1String(suffix), 0600);
    int code = 0;
    if (m_version < kJournalSchemaVersion && !migrateJournal(db, kJournalSchemaVersion, &error, &code)) {
        QSqlError sqlError(QString(), error, QSqlError::StatementError, QString::number(code));
        fail(sqlError);
        db = QSqlDatabase();
        close();
        return false;
    }
    m_version = kJournalSchemaVersion;
    return true;
}

JournalDatabase::FileStamp JournalDatabase::stamp() const
{
    FileStamp s;
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0)
        s = {static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_dev),
             static_cast<std::int64_t>(st.st_size), st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec};
    const PathState log = inspect(m_path + QStringLiteral("-wal"));
    s.logSize = log.kind == PathState::Regular ? log.size : -1;
    return s;
}

void JournalDatabase::rememberFile()
{
    m_opened = stamp();
}

bool JournalDatabase::readMayBeTorn() const
{
    // Immutable promises SQLite the file cannot change; a writer that came
    // meanwhile (a log appeared, the file was checkpointed) breaks that.
    const FileStamp now = stamp();
    return m_immutable && (now.inode != m_opened.inode || now.device != m_opened.device ||
                           now.size != m_opened.size || now.mtimeNs != m_opened.mtimeNs ||
                           now.logSize != m_opened.logSize);
}

bool JournalDatabase::openForReading(const Options& options)
{
    const PathState state = inspect(m_path);
    switch (state.kind) {
    case PathState::Missing:
        fail(JournalProblem::Missing, QStringLiteral("no journal at %1").arg(m_path));
        return false;
    case PathState::NoAccess:
        fail(JournalProblem::NoAccess, QStringLiteral("no permission to reach %1").arg(m_path));
        return false;
    case PathState::NotRegular:
        fail(JournalProblem::NotAFile, QStringLiteral("%1 is not a regular file").arg(m_path));
        return false;
    case PathState::Unknown:
        fail(JournalProblem::Other, QStringLiteral("%1 cannot be examined").arg(m_path));
        return false;
    case PathState::Regular:
        break;
    }
    if (state.size == 0) {
        fail(JournalProblem::BeingCreated, QStringLiteral("%1 is empty").arg(m_path));
        return false;
    }
    // With nothing in a log, the file alone is the journal: immutable reads
    // it without creating a log or shared memory, even in a read-only folder.
    // A log holding runs not yet merged must be read through: SQLite then
    // opens it read-only and deletes nothing.
    const PathState log = inspect(m_path + QStringLiteral("-wal"));
    const bool pendingLog = log.kind == PathState::Regular && log.size > 0;
    const bool hotJournal = inspect(m_path + QStringLiteral("-journal")).kind == PathState::Regular;
    m_immutable = !pendingLog && !hotJournal && !options.throughLocks;
    if (!openConnection(options, m_immutable ? QStringLiteral("immutable=1") : QStringLiteral("mode=ro")))
        return false;
    if (probe(options.checkWhole))
        return true;
    close();
    return false;
}

bool JournalDatabase::openForWriting(const Options& options)
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!makeFolder(folder)) {
        fail(inspect(folder).kind == PathState::NoAccess ? JournalProblem::NoAccess : JournalProblem::FolderNotWritable,
             QStringLiteral("cannot create the folder %1").arg(folder));
        return false;
    }
    if (QFileInfo(folder).fileName() == QLatin1String("Tempovaro"))
        makePrivate(folder, 0700);
    const PathState state = inspect(m_path);
    if (state.kind == PathState::NoAccess) {
        fail(JournalProblem::NoAccess, QStringLiteral("no permission to reach %1").arg(m_path));
        return false;
    }
    // A folder or a pipe under the journal's name: SQLite must never try it
    // (a pipe would block), so it is moved aside like any other stranger.
    if (state.kind == PathState::NotRegular) {
        if (!options.moveAsideDamaged) {
            fail(JournalProblem::NotAFile, QStringLiteral("%1 is not a regular file").arg(m_path));
            return false;
        }
        if (!moveAside(options))
            return false;
    }
    if (!openConnection(options))
        return false;
    // SQLite has just made the file if it was missing; its log and shared
    // memory will take this mode from it.
    makePrivate(m_path, 0600);
    if (probe(options.checkWhole))
        return true;
    close();
    if (m_problem != JournalProblem::Damaged || !options.moveAsideDamaged)
        return false;
    return moveAside(options) && openConnection(options);
}

bool JournalDatabase::probe(bool checkWhole)
{
    // Reading the schema is the first time SQLite looks past the header: a
    // file that is not a database, or a damaged first page, shows itself here.
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next()) {
        fail(q.lastError());
        return false;
    }
    if (!checkWhole)
        return true;
    if (!q.exec(QStringLiteral("PRAGMA quick_check(1)"))) {
        fail(q.lastError());
        return false;
    }
    const QString verdict = q.next() ? q.value(0).toString() : QString();
    if (!finishedCleanly(q)) {
        fail(q.lastError());
        return false;
    }
    if (verdict == QLatin1String("ok"))
        return true;
    fail(JournalProblem::Damaged, verdict.isEmpty() ? QStringLiteral("the journal could not be checked") : verdict);
    return false;
}

bool JournalDatabase::openConnection(const Options& options, const QString& uriQuery)
{
    m_connection = QStringLiteral("tempovaro-journal-%1").arg(g_connectionSerial.fetch_add(1));
    QSqlDatabase db = [this] {
        const std::lock_guard lock(g_registryMutex);
        return QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    }();
    QString connectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.busyTimeoutMs);
    if (options.readOnly)
        connectOptions += QStringLiteral(";QSQLITE_OPEN_READONLY");
    if (uriQuery.isEmpty()) {
        db.setDatabaseName(m_path);
    } else {
        db.setDatabaseName(sqliteUri(m_path, uriQuery));
        connectOptions += QStringLiteral(";QSQLITE_OPEN_URI");
    }
    db.setConnectOptions(connectOptions);
    if (db.open())
        return true;
    fail(db.lastError());
    db = QSqlDatabase();
    close();
    return false;
}

bool JournalDatabase::moveAside(const Options& options)
{
    // Two programs finding the same stranger must not both move it: the
    // second would move the first one's new journal. The lock serialises
    // them, and the second, asking SQLite again, finds a database and leaves it.
    const QString lockPath = m_path + QStringLiteral(".lock");
    // QLockFile reads a lock it finds, and a pipe there would block it.
    if (inspect(lockPath).kind == PathState::NotRegular) {
        fail(JournalProblem::NotAFile, QStringLiteral("%1 is not a regular file").arg(lockPath));
        return false;
    }
    QLockFile lock(lockPath);
    if (!lock.tryLock(options.busyTimeoutMs)) {
        fail(lock.error() == QLockFile::LockFailedError ? JournalProblem::Locked : JournalProblem::FolderNotWritable,
             QStringLiteral("cannot lock %1.lock").arg(m_path));
        return false;
    }
    const JournalProblem before = m_problem;
    const QString beforeDetail = m_problemDetail;
    if (inspect(m_path).kind == PathState::Regular) {
        if (openConnection(options)) {
            const bool healthy = probe(options.checkWhole);
            close();
            if (healthy) {
                m_problem = JournalProblem::None;
                m_problemDetail.clear();
                return true;
            }
        }
    }
    m_problem = before;
    m_problemDetail = beforeDetail;
    for (int k = 0; k < 10000; ++k) {
        const QString bak = m_path + QStringLiteral(".bak") + (k == 0 ? QString() : QString::number(k));
        if (existsAtAll(bak) || existsAtAll(bak + QStringLiteral("-wal")) || existsAtAll(bak + QStringLiteral("-shm")))
            continue;
        if (!renamePath(m_path, bak)) {
            fail(JournalProblem::FolderNotWritable, QStringLiteral("cannot move %1 aside").arg(m_path));
            return false;
        }
        // A log left beside the stranger belongs to it: a new journal must
        // not replay it, and the .bak opens with it.
        for (const auto* suffix : {"-wal", "-shm"}) {
            const QString side = m_path + QLatin1String(suffix);
            if (existsAtAll(side))
                renamePath(side, bak + QLatin1String(suffix));
        }
        // The old journal holds the same history: as private as the new one.
        if (inspect(bak).kind == PathState::Regular)
            makePrivate(bak, 0600);
        m_movedAsideTo = bak;
        m_problem = JournalProblem::None;
        m_problemDetail.clear();
        return true;
    }
    fail(JournalProblem::FolderNotWritable, QStringLiteral("no free name to move %1 aside").arg(m_path));
    return false;
}

void JournalDatabase::clearProblem()
{
    m_problem = m_version > kJournalSchemaVersion ? JournalProblem::NewerSchema : JournalProblem::None;
    m_problemDetail.clear();
}

bool JournalDatabase::fileReplaced() const
{
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        return true;
    return st.st_ino != m_opened.inode || st.st_dev != m_opened.device;
}

void JournalDatabase::fail(JournalProblem problem, const QString& detail)
{
    m_problem = problem;
    m_problemDetail = detail;
}

void JournalDatabase::fail(const QSqlError& error)
{
    fail(diagnose(primaryCode(error)), error.text());
}

JournalProblem JournalDatabase::diagnose(int code) const
{
    const QString folder = QFileInfo(m_path).absolutePath();
    switch (code) {
    case kSqliteBusy:
    case kSqliteLocked:
        return JournalProblem::Locked;
    case kSqliteReadOnly:
        // SQLite also opens read-only a file whose write-version byte it does
        // not know: then the folder and the file are writable after all.
        if (!m_readOnly && writable(folder) && writable(m_path))
            return JournalProblem::UnwritableFormat;
        return JournalProblem::FolderNotWritable;
    case kSqliteCantOpen:
        if (inspect(m_path).kind == PathState::NoAccess || inspect(folder).kind == PathState::NoAccess)
            return JournalProblem::NoAccess;
        if (inspect(m_path).kind == PathState::Missing && m_readOnly)
            return JournalProblem::Missing;
        return JournalProblem::FolderNotWritable;
    case kSqliteFull:
        return JournalProblem::DiskFull;
    case kSqliteIoError:
        // A full disk often shows only as an I/O error (the log or the shared
        // memory could not grow).
        return folderHasNoSpace(folder) ? JournalProblem::DiskFull : JournalProblem::Other;
    case kSqliteCorrupt:
    case kSqliteNotADatabase:
        return JournalProblem::Damaged;
    default:
        return JournalProblem::Other;
    }
}

QString JournalDatabase::problemReason() const
{
    switch (m_problem) {
    case JournalProblem::None:
        return {};
    case JournalProblem::Missing:
        return QStringLiteral("no journal yet");
    case JournalProblem::FolderNotWritable:
        return QStringLiteral("read-only folder");
    case JournalProblem::DiskFull:
        return QStringLiteral("disk full");
    case JournalProblem::Locked:
        return QStringLiteral("in use by another Tempovaro");
    case JournalProblem::NewerSchema:
        return QStringLiteral("made by a newer Tempovaro");
    case JournalProblem::Damaged:
        return QStringLiteral("damaged");
    case JournalProblem::NotAFile:
        return QStringLiteral("not a regular file");
    case JournalProblem::NoAccess:
        return QStringLiteral("no permission to open its folder");
    case JournalProblem::BeingCreated:
        return QStringLiteral("still being created");
    case JournalProblem::UnwritableFormat:
        return QStringLiteral("file format this program cannot write");
    case JournalProblem::Other:
        break;
    }
    return QStringLiteral("database error");
}
