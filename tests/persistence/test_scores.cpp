#include "PersistenceFixture.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <limits>
#include <random>
#include <sys/stat.h>
#include <vector>

namespace {

using ScoreTable = PersistenceTest;

const QString kFile = QStringLiteral("Tempovaro.qxs");

QByteArray record(std::int32_t strokes, std::int32_t seconds, double date)
{
    QByteArray r(16, '\0');
    std::uint64_t bits;
    std::memcpy(&bits, &date, 8);
    for (int i = 0; i < 4; ++i) {
        r[i] = static_cast<char>(static_cast<std::uint32_t>(strokes) >> (8 * i));
        r[4 + i] = static_cast<char>(static_cast<std::uint32_t>(seconds) >> (8 * i));
    }
    for (int i = 0; i < 8; ++i)
        r[8 + i] = static_cast<char>(bits >> (8 * i));
    return r;
}

bool sameBytes(const TQX_Score& a, const TQX_Score& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(ScoreTable, OneScoreMakesAFullFile)
{
    AddScore({0x01020304, 30, 46363.5});
    EXPECT_TRUE(SaveScores());
    const QByteArray bytes = fileBytes(kFile);
    ASSERT_EQ(bytes.size(), 16000);
    EXPECT_EQ(bytes.left(16), record(0x01020304, 30, 46363.5));
    EXPECT_EQ(bytes.left(4), QByteArray("\x04\x03\x02\x01", 4)) << "little-endian";
    EXPECT_EQ(bytes.mid(16), QByteArray(16000 - 16, '\0'));
}

TEST_F(ScoreTable, SaveThenLoadKeepsEveryBit)
{
    std::mt19937 rng(7);
    for (TQX_Score& s : Scores) {
        s.Strokes = static_cast<std::int32_t>(rng());
        s.Seconds = static_cast<std::int32_t>(rng());
        const std::uint64_t bits = (std::uint64_t{rng()} << 32) | rng();
        std::memcpy(&s.Date, &bits, 8); // NaN payloads, infinities, subnormals
    }
    const auto saved = Scores;
    EXPECT_TRUE(SaveScores());
    Scores.fill({});
    EXPECT_TRUE(LoadScores());
    for (int k = 0; k < MaxScores; ++k)
        ASSERT_TRUE(sameBytes(Scores[k], saved[k])) << "slot " << k;
}

TEST_F(ScoreTable, LoadTakesWhatTheFileHolds)
{
    const TQX_Score marker{-7, 99, 1.5};
    Scores.fill(marker);
    EXPECT_FALSE(LoadScores()) << "no file";
    EXPECT_TRUE(sameBytes(Scores[0], marker));

    // 160 bytes: ten slots, the rest untouched.
    QByteArray ten;
    for (int k = 0; k < 10; ++k)
        ten += record(100 + k, 20, 40000.0 + k);
    ASSERT_TRUE(writeBytes(kFile, ten));
    EXPECT_TRUE(LoadScores());
    EXPECT_EQ(Scores[9].Strokes, 109);
    EXPECT_EQ(Scores[9].Date, 40009.0);
    EXPECT_TRUE(sameBytes(Scores[10], marker));
    EXPECT_TRUE(sameBytes(Scores[999], marker));

    // A final partial record of 5 bytes: Strokes and the low byte of Seconds.
    Scores.fill(marker);
    ASSERT_TRUE(writeBytes(kFile, ten.left(48) + record(0x11223344, 0x0A0B0C0D, 2.0).left(5)));
    EXPECT_TRUE(LoadScores());
    EXPECT_EQ(Scores[2].Strokes, 102);
    EXPECT_EQ(Scores[3].Strokes, 0x11223344);
    EXPECT_EQ(Scores[3].Seconds, 0x0D) << "99 is 0x63: only its low byte replaced";
    EXPECT_EQ(Scores[3].Date, 1.5);
    EXPECT_TRUE(sameBytes(Scores[4], marker));

    // 1001 records: the last one is never read.
    QByteArray tooLong;
    for (int k = 0; k < 1001; ++k)
        tooLong += record(k + 1, 60, 45000.0 + k);
    ASSERT_TRUE(writeBytes(kFile, tooLong));
    EXPECT_TRUE(LoadScores());
    EXPECT_EQ(Scores[0].Strokes, 1);
    EXPECT_EQ(Scores[999].Strokes, 1000);

    // An empty file reads nothing and is still a score file.
    Scores.fill(marker);
    ASSERT_TRUE(writeBytes(kFile, QByteArray()));
    EXPECT_TRUE(LoadScores());
    EXPECT_TRUE(sameBytes(Scores[0], marker));
    EXPECT_TRUE(QFileInfo::exists(kFile));
}

TEST_F(ScoreTable, BestScoreOfOneRecordingTime)
{
    EXPECT_EQ(GetBestScore(30), 0);
    AddScore({150, 30, 1.0});
    AddScore({400, 60, 2.0});
    AddScore({180, 30, 3.0});
    AddScore({-5, 10, 4.0});
    EXPECT_EQ(GetBestScore(30), 180);
    EXPECT_EQ(GetBestScore(60), 400);
    EXPECT_EQ(GetBestScore(20), 0);
    EXPECT_EQ(GetBestScore(10), 0) << "a negative count is never the best";
    Scores[999] = {500, 30, 5.0};
    EXPECT_EQ(GetBestScore(30), 500) << "every slot counts, not only up to the first empty one";
}

TEST_F(ScoreTable, FullTableDropsTheLastInOrder)
{
    for (int k = 0; k < MaxScores; ++k)
        Scores[k] = {k + 1, 30, 40000.0 + (k * 37 % MaxScores)};
    SortScoresByDate(0, MaxScores - 1);
    const TQX_Score secondOldest = Scores[998];
    EXPECT_EQ(Scores[999].Date, 40000.0);

    AddScore({777, 30, 50000.0});
    EXPECT_EQ(Scores[0].Strokes, 777);
    EXPECT_TRUE(sameBytes(Scores[999], secondOldest));
    EXPECT_EQ(Scores[1].Date, 40999.0);
    for (const TQX_Score& s : Scores)
        EXPECT_NE(s.Date, 40000.0) << "the oldest score is gone";
}

TEST_F(ScoreTable, EqualStrokesComeOutInTheProcedureOrder)
{
    Scores[0] = {120, 30, 1.0}; // A
    Scores[1] = {95, 30, 2.0};
    Scores[2] = {120, 30, 3.0}; // B
    SortScoresByStrokes(0, MaxScores - 1);
    EXPECT_EQ(Scores[0].Date, 3.0) << "B first";
    EXPECT_EQ(Scores[1].Date, 1.0) << "then A";
    EXPECT_EQ(Scores[2].Strokes, 95);
    for (int k = 3; k < MaxScores; ++k)
        ASSERT_TRUE(sameBytes(Scores[k], TQX_Score{})) << k;
}

TEST_F(ScoreTable, SortsAreDescendingAndKeepTheRecords)
{
    std::mt19937 rng(11);
    for (int k = 0; k < 600; ++k)
        Scores[k] = {static_cast<std::int32_t>(rng() % 300) - 20, 30, 40000.0 + (rng() % 5000) / 7.0};
    auto before = std::vector<TQX_Score>(Scores.begin(), Scores.end());
    const auto byBytes = [](const TQX_Score& a, const TQX_Score& b) { return std::memcmp(&a, &b, 16) < 0; };
    std::sort(before.begin(), before.end(), byBytes);

    SortScoresByStrokes(0, MaxScores - 1);
    for (int k = 1; k < MaxScores; ++k)
        ASSERT_GE(Scores[k - 1].Strokes, Scores[k].Strokes) << k;

    SortScoresByDate(0, MaxScores - 1);
    for (int k = 1; k < MaxScores; ++k)
        ASSERT_GE(Scores[k - 1].Date, Scores[k].Date) << k;
    EXPECT_GT(Scores[599].Date, 0.0);
    EXPECT_EQ(Scores[600].Date, 0.0) << "empty slots last";

    auto after = std::vector<TQX_Score>(Scores.begin(), Scores.end());
    std::sort(after.begin(), after.end(), byBytes);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin(), after.end(), sameBytes));
}

TEST_F(ScoreTable, AnyDatesSortWithinTheirRange)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double odd[] = {nan, -nan, inf, -inf, 1e308, -1e308, 4.9e-324, -0.0, 0.0, 45000.5};
    std::mt19937 rng(3);
    for (int round = 0; round < 50; ++round) {
        for (int k = 0; k < MaxScores; ++k)
            Scores[k] = {k, round, odd[rng() % std::size(odd)]};
        const auto before = Scores;
        const int L = static_cast<int>(rng() % 500);
        const int R = L + static_cast<int>(rng() % 500);
        SortScoresByDate(L, R);
        for (int k = 0; k < MaxScores; ++k) {
            if (k < L || k > R) {
                ASSERT_TRUE(sameBytes(Scores[k], before[k])) << "slot " << k << " outside " << L << ".." << R;
            }
        }
        std::vector<int> ids;
        for (int k = L; k <= R; ++k)
            ids.push_back(Scores[k].Strokes);
        std::sort(ids.begin(), ids.end());
        for (int k = L; k <= R; ++k)
            ASSERT_EQ(ids[k - L], k) << "every record of the range is still there once";
    }

    Scores.fill({1, 30, nan});
    SortScoresByDate(0, MaxScores - 1);
    SortScoresByDate(-5, 5000);
    SortScoresByStrokes(10, 3);
    EXPECT_TRUE(std::isnan(Scores[500].Date));
}

TEST_F(ScoreTable, RefusedSaveLeavesTheOldFile)
{
    AddScore({150, 30, 45000.0});
    ASSERT_TRUE(SaveScores());
    const QByteArray before = fileBytes(kFile);

    AddScore({160, 30, 45001.0});
    {
        FileSizeLimit diskFull(4096);
        ASSERT_TRUE(diskFull.active());
        EXPECT_TRUE(SaveScores()) << "write errors are not reported";
    }
    EXPECT_EQ(fileBytes(kFile), before);
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{kFile}) << "no temporary file left";

    ASSERT_TRUE(QFile::remove(kFile));
    ASSERT_TRUE(QDir().mkdir(kFile));
    EXPECT_TRUE(SaveScores());
    EXPECT_TRUE(QFileInfo(kFile).isDir()) << "the rename over a folder is refused";
    EXPECT_TRUE(QDir().entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// Write-only, so that only the failed read, not the permissions, can stop a
// later save from replacing it.
void placeUnreadableFile(const QByteArray& contents)
{
    QFile::remove(kFile);
    writeBytes(kFile, contents);
    QFile::setPermissions(kFile, QFile::WriteOwner);
}

// A score added and saved after loading an unreadable file of one score.
void saveOverAnUnreadableFile()
{
    placeUnreadableFile(record(5, 10, 3.0));
    LoadScores();
    AddScore({150, 30, 45000.0});
    SaveScores();
}

TEST_F(ScoreTable, UnreadableFileIsMovedAside)
{
    const auto ran = runUnprivileged(m_dir.path(), [] {
        saveOverAnUnreadableFile();
        // The next unreadable file does not replace the first backup.
        placeUnreadableFile(record(6, 10, 4.0));
        LoadScores();
        return true;
    });
    if (!ran)
        GTEST_SKIP() << "no unprivileged user to run as";
    for (const QString& bak : {kFile + ".bak", kFile + ".bak1"})
        QFile::setPermissions(bak, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(fileBytes(kFile + ".bak"), record(5, 10, 3.0));
    EXPECT_EQ(fileBytes(kFile + ".bak1"), record(6, 10, 4.0));
    EXPECT_FALSE(QFileInfo::exists(kFile));
}

TEST_F(ScoreTable, SaveAfterMovingAsideWritesAFreshFile)
{
    const auto ran = runUnprivileged(m_dir.path(), [] {
        saveOverAnUnreadableFile();
        return true;
    });
    if (!ran)
        GTEST_SKIP() << "no unprivileged user to run as";
    const QByteArray bytes = fileBytes(kFile);
    ASSERT_EQ(bytes.size(), 16000);
    EXPECT_EQ(bytes.left(16), record(150, 30, 45000.0));
}

TEST_F(ScoreTable, UnreadableFileWithNoRoomForABackupIsNotOverwritten)
{
    ASSERT_TRUE(writeBytes(kFile + ".bak", "x"));
    for (int n = 1; n < 1000; ++n)
        ASSERT_TRUE(writeBytes(kFile + ".bak" + QString::number(n), "x"));
    const auto ran = runUnprivileged(m_dir.path(), [] {
        saveOverAnUnreadableFile();
        return true;
    });
    if (!ran)
        GTEST_SKIP() << "no unprivileged user to run as";
    QFile::setPermissions(kFile, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(fileBytes(kFile), record(5, 10, 3.0)) << "kept, not replaced";

    // Once the file reads again, saving works as before.
    EXPECT_TRUE(LoadScores());
    EXPECT_TRUE(SaveScores());
    EXPECT_EQ(fileBytes(kFile).size(), 16000);
}

TEST_F(ScoreTable, FolderOrPipeInThePlaceOfTheFileIsMovedAside)
{
    ASSERT_TRUE(QDir().mkdir(kFile));
    EXPECT_TRUE(LoadScores());
    EXPECT_TRUE(QFileInfo(kFile + ".bak").isDir());
    EXPECT_TRUE(SaveScores());
    EXPECT_EQ(fileBytes(kFile).size(), 16000);

    // Opening a pipe for reading waits for a writer that never comes.
    ASSERT_TRUE(QFile::remove(kFile));
    ASSERT_EQ(mkfifo(kScoreFileName, 0600), 0);
    auto loaded = std::async(std::launch::async, LoadScores);
    if (loaded.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "LoadScores blocked on a pipe";
        std::_Exit(1);
    }
    EXPECT_TRUE(loaded.get());
    EXPECT_FALSE(QFileInfo::exists(kFile));
    EXPECT_TRUE(SaveScores());
    EXPECT_EQ(fileBytes(kFile).size(), 16000);
}

} // namespace
