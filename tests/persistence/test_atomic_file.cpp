// The one writer every saved file goes through: links, foreign nodes and the
// leftovers of a killed save.

#include "PersistenceFixture.h"
#include "persistence/QX_AtomicFile.h"

#include <QFileInfo>

#include <sys/stat.h>

namespace {

using AtomicFile = PersistenceTest;

bool makeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool isFifo(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

unsigned modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

} // namespace

TEST_F(AtomicFile, LinkToAFileOrToNothingReplacesTheTargetAndKeepsTheLink)
{
    ASSERT_TRUE(writeBytes(path("real"), "old"));
    ASSERT_TRUE(QFile::link(path("real"), path("toReal")));
    ASSERT_TRUE(QFile::link("real", path("relative")));
    ASSERT_TRUE(QFile::link(path("relative"), path("chain")));
    ASSERT_TRUE(QFile::link(path("new"), path("toMissing")));

    for (const char* name : {"toReal", "relative", "chain"}) {
        SCOPED_TRACE(name);
        const QByteArray bytes = QByteArray("through ") + name;
        ASSERT_TRUE(writeFileAtomically(path(name), bytes));
        EXPECT_TRUE(QFileInfo(path(name)).isSymLink());
        EXPECT_EQ(fileBytes(path("real")), bytes);
    }
    ASSERT_TRUE(writeFileAtomically(path("toMissing"), "fresh"));
    EXPECT_TRUE(QFileInfo(path("toMissing")).isSymLink());
    EXPECT_EQ(fileBytes(path("new")), "fresh");
}

TEST_F(AtomicFile, LinkToSomethingElseIsLeftAloneAndTheWriteFails)
{
    ASSERT_TRUE(makeFifo(path("pipe")));
    ASSERT_TRUE(QDir().mkdir(path("folder")));
    ASSERT_TRUE(QFile::link(path("pipe"), path("toPipe")));
    ASSERT_TRUE(QFile::link(path("folder"), path("toFolder")));
    ASSERT_TRUE(QFile::link(path("loopB"), path("loopA")));
    ASSERT_TRUE(QFile::link(path("loopA"), path("loopB")));
    ASSERT_TRUE(QFile::link(path("nowhere/file"), path("toMissingFolder")));

    for (const char* name : {"toPipe", "pipe", "toFolder", "loopA", "toMissingFolder"}) {
        SCOPED_TRACE(name);
        const AtomicWriteResult result = writeFileAtomically(path(name), "x");
        EXPECT_FALSE(result);
        EXPECT_FALSE(result.error.isEmpty());
    }
    EXPECT_TRUE(isFifo(path("pipe")));
    EXPECT_TRUE(QFileInfo(path("folder")).isDir());
    EXPECT_FALSE(QFileInfo::exists(path("nowhere")));
    EXPECT_TRUE(QDir(m_dir.path()).entryList({"*.tmp-*"}, QDir::AllEntries | QDir::Hidden | QDir::System).isEmpty())
        << "no temporary file left behind";
}

TEST_F(AtomicFile, SettingsAndScoresNeverReplaceAPipeTheyAreLinkedTo)
{
    ASSERT_TRUE(makeFifo(path("pipe")));
    QDir().mkpath(QFileInfo(settingsFilePath()).path());
    ASSERT_TRUE(QFile::link(path("pipe"), settingsFilePath()));
    EXPECT_FALSE(SaveSettings());
    EXPECT_TRUE(isFifo(path("pipe")));
    EXPECT_TRUE(QFileInfo(settingsFilePath()).isSymLink());

    ASSERT_TRUE(QFile::link(path("pipe"), kScoreFileName));
    SaveScores();
    EXPECT_TRUE(isFifo(path("pipe")));
    EXPECT_TRUE(QFileInfo(kScoreFileName).isSymLink());
}

TEST_F(AtomicFile, ReplacedFileKeepsItsModeUnlessOwnerOnlyIsAsked)
{
    ASSERT_TRUE(writeBytes(path("shared"), "old"));
    ASSERT_EQ(::chmod(QFile::encodeName(path("shared")).constData(), 0640), 0);
    ASSERT_TRUE(writeFileAtomically(path("shared"), "new"));
    EXPECT_EQ(modeOf(path("shared")), 0640u);
    ASSERT_TRUE(writeFileAtomically(path("shared"), "newer", FileAccess::OwnerOnly));
    EXPECT_EQ(modeOf(path("shared")), 0600u);

    const mode_t oldMask = ::umask(022);
    const bool written = bool(writeFileAtomically(path("fresh"), "x"));
    ::umask(oldMask);
    ASSERT_TRUE(written);
    EXPECT_EQ(modeOf(path("fresh")), 0644u);
}

TEST_F(AtomicFile, SuccessfulSaveRemovesOnlyOurOwnLeftovers)
{
    const QStringList ours = {"Tempovaro.qxs.tmp-aZ09bY18", "Tempovaro.qxs.EVTjke", "Tempovaro.qxs.qWERTY"};
    const QStringList others = {
        "Tempovaro.qxs.bak",         "Tempovaro.qxs.bak12",      "Tempovaro.qxs.backup",
        "Tempovaro.qxs.BACKUP",      "Tempovaro.qxs.EVTjk",      "Tempovaro.qxs.EVTjke1",
        "Tempovaro.qxs.EVT-ke",      "Tempovaro.qxs.tmp-aZ09bY1", "Tempovaro.qxs.tmp-aZ09bY18.x",
        "xTempovaro.qxs.EVTjke",     "settings.json.EVTjke",
    };
    for (const QString& name : ours + others)
        ASSERT_TRUE(writeBytes(path(name), "left"));
    // A link that looks like ours is not a file we made.
    ASSERT_TRUE(QFile::link(path("Tempovaro.qxs.bak"), path("Tempovaro.qxs.LinKed")));

    // A failed save removes nothing.
    ASSERT_TRUE(QDir().mkdir(path("Tempovaro.qxs")));
    EXPECT_FALSE(writeFileAtomically(path("Tempovaro.qxs"), "scores"));
    for (const QString& name : ours)
        EXPECT_TRUE(QFileInfo::exists(path(name))) << name.toStdString();
    ASSERT_TRUE(QDir().rmdir(path("Tempovaro.qxs")));

    SaveScores();
    EXPECT_EQ(QFileInfo(path("Tempovaro.qxs")).size(), 16000);
    for (const QString& name : ours)
        EXPECT_FALSE(QFileInfo::exists(path(name))) << name.toStdString();
    for (const QString& name : others)
        EXPECT_EQ(fileBytes(path(name)), "left") << name.toStdString();
    EXPECT_TRUE(QFileInfo(path("Tempovaro.qxs.LinKed")).isSymLink());
}
