#pragma once
// One way to replace a file without ever leaving it half written: the new
// contents go into a temporary file beside the target, every byte is checked
// written and flushed to the disk, and only then is the temporary file
// renamed over the target. A failure at any step, or a kill, leaves the old
// file whole. Every file this program writes goes through here.
//
// Symbolic links are followed to the file they name; that file is replaced
// only when it is a regular file, or is missing in an existing folder. A
// link to a device, a pipe or a folder is left untouched and the write fails.
//
// After a successful write, temporary files of our own pattern left beside
// the target by an earlier write that was killed are removed.
//
// Threads: any thread, but two writers of the same file at once are not
// coordinated (the last rename wins; neither file is torn). Blocks on disk
// I/O, so never call it from a capture thread.

#include <QByteArray>
#include <QString>

struct AtomicWriteResult {
    bool ok = false;
    QString error; // why it failed, for a message or a log; empty on success

    explicit operator bool() const { return ok; }
};

enum class FileAccess {
    Keep,      // a replaced file keeps its permissions; a new one gets 0666 less the umask
    OwnerOnly, // 0600 whatever the old file had
    // A replaced file keeps its permissions; a new one gets 0600 less the
    // umask (a folder's default ACL still applies): for the user's own data.
    PrivateWhenNew,
};

AtomicWriteResult writeFileAtomically(const QString& path, const QByteArray& bytes,
                                      FileAccess access = FileAccess::Keep);

// Renames `path` to the first free "<path>.bak", "<path>.bak1", "<path>.bak2",
// ... so that an earlier backup is never overwritten. False when no name was
// free or the folder refused the rename; `path` is then where it was.
bool moveToFreeBackupName(const QString& path);

// True for a name our writer (or the Qt save file it replaced) gives its
// temporary file when replacing `targetName` in the same folder.
bool isOwnTemporaryName(const QString& targetName, const QString& candidate);
