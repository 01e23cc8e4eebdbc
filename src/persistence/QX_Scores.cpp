// The score table and its file. User-interface thread only.

#include "persistence/QX_AtomicFile.h"
#include "persistence/QX_Global.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr int kRecordBytes = sizeof(TQX_Score);
constexpr qint64 kFileBytes = qint64{kRecordBytes} * MaxScores;

// Set when an unreadable score file could not be moved aside: saving over it
// would then destroy scores we merely failed to read.
bool s_keepUnreadableFile = false;

using Record = std::array<unsigned char, kRecordBytes>;

Record encodeScore(const TQX_Score& s)
{
    Record r{};
    qToLittleEndian<qint32>(s.Strokes, r.data());
    qToLittleEndian<qint32>(s.Seconds, r.data() + 4);
    qToLittleEndian<quint64>(std::bit_cast<quint64>(s.Date), r.data() + 8);
    return r;
}

TQX_Score decodeScore(const Record& r)
{
    TQX_Score s;
    s.Strokes = qFromLittleEndian<qint32>(r.data());
    s.Seconds = qFromLittleEndian<qint32>(r.data() + 4);
    s.Date = std::bit_cast<double>(qFromLittleEndian<quint64>(r.data() + 8));
    return s;
}

// Hoare's partition with the pivot value copied before anything moves. The
// inner scans need no bounds checks: in the first pass the pivot's own slot
// stops both of them, and after every exchange the two exchanged slots stop
// them again, because a slot that stopped one scan fails the other scan's
// test. That holds for NaN dates too: every test against NaN is false, so
// NaN only makes the scans stop sooner. Each pass exchanges at least once,
// so both halves are smaller than the range and the recursion ends.
template <typename KeyOf>
void quickSort(int L, int R, KeyOf key)
{
    int i = L;
    int j = R;
    const auto p = key(Scores[(L + R) / 2]);
    do {
        while (key(Scores[i]) > p)
            ++i;
        while (key(Scores[j]) < p)
            --j;
        if (i <= j) {
            std::swap(Scores[i], Scores[j]);
            ++i;
            --j;
        }
    } while (i <= j);
    if (L < j)
        quickSort(L, j, key);
    if (i < R)
        quickSort(i, R, key);
}

template <typename KeyOf>
void sortRange(int L, int R, KeyOf key)
{
    // The scans rely on L..R being a real range of the table.
    L = std::max(L, 0);
    R = std::min(R, MaxScores - 1);
    if (L < R)
        quickSort(L, R, key);
}

} // namespace

void AddScore(TQX_Score score)
{
    std::copy_backward(Scores.begin(), Scores.end() - 1, Scores.end());
    Scores[0] = score;
}

std::int32_t GetBestScore(std::int32_t Seconds)
{
    std::int32_t best = 0;
    for (const TQX_Score& s : Scores)
        if (s.Seconds == Seconds)
            best = std::max(best, s.Strokes);
    return best;
}

void SortScoresByStrokes(int L, int R)
{
    sortRange(L, R, [](const TQX_Score& s) { return s.Strokes; });
}

void SortScoresByDate(int L, int R)
{
    sortRange(L, R, [](const TQX_Score& s) { return s.Date; });
}

bool LoadScores()
{
    const QString name = QString::fromLatin1(kScoreFileName);
    const QFileInfo info(name);
    if (!info.exists())
        return false;

    s_keepUnreadableFile = false;
    const ScoreFileBytes read = readScoreFile(name);
    const bool readFailed = read.state != ScoreFileBytes::State::Read;
    const auto got = static_cast<qint64>(read.bytes.size());
    // A final partial record overwrites only the leading bytes of its slot.
    for (qint64 offset = 0; offset < got; offset += kRecordBytes) {
        const auto slot = static_cast<size_t>(offset / kRecordBytes);
        Record r = encodeScore(Scores[slot]);
        std::memcpy(r.data(), read.bytes.constData() + offset,
                    static_cast<size_t>(std::min<qint64>(kRecordBytes, got - offset)));
        Scores[slot] = decodeScore(r);
    }
    if (readFailed)
        s_keepUnreadableFile = !moveToFreeBackupName(name);
    return true;
}

ScoreFileBytes readScoreFile(const QString& path)
{
    ScoreFileBytes out;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return out;
    out.state = ScoreFileBytes::State::Unreadable;
    // Only a plain file is read: opening a pipe under that name would block
    // until some other program wrote to it.
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return out;
    out.fileBytes = file.size();
    // Only the first 16,000 bytes count.
    out.bytes.resize(kFileBytes);
    qint64 got = 0;
    while (got < kFileBytes) {
        const qint64 n = file.read(out.bytes.data() + got, kFileBytes - got);
        if (n <= 0)
            break;
        got += n;
    }
    const bool failed = got < kFileBytes && file.error() != QFileDevice::NoError;
    out.bytes.resize(got);
    if (failed)
        return out;
    out.state = ScoreFileBytes::State::Read;
    return out;
}

std::optional<std::vector<TQX_Score>> parseScoreFile(const QByteArray& bytes)
{
    if (bytes.size() < kFileBytes)
        return std::nullopt;
    // 1 January 10000 in days since 30 December 1899.
    constexpr double kLastDate = 2958466.0;
    std::vector<TQX_Score> scores;
    for (int slot = 0; slot < MaxScores; ++slot) {
        Record r;
        std::memcpy(r.data(), bytes.constData() + slot * kRecordBytes, kRecordBytes);
        const TQX_Score s = decodeScore(r);
        // The score list ends at the first empty date; what lies behind it is
        // never shown, so a stray slot there is no damage either.
        if (s.Date == 0.0 && s.Strokes == 0 && s.Seconds == 0)
            continue;
        const bool timeKnown = s.Seconds >= 10 && s.Seconds <= 60 && s.Seconds % 10 == 0;
        if (!timeKnown || s.Strokes < 0 || !(s.Date > 0.0 && s.Date < kLastDate))
            return std::nullopt;
        scores.push_back(s);
    }
    return scores;
}

bool SaveScores()
{
    if (s_keepUnreadableFile)
        return true;
    QByteArray bytes;
    bytes.reserve(kFileBytes);
    for (const TQX_Score& s : Scores) {
        const Record r = encodeScore(s);
        bytes.append(reinterpret_cast<const char*>(r.data()), r.size());
    }
    // A failed write leaves the previous scores in place; like the original
    // program, the close goes on regardless.
    writeFileAtomically(QString::fromLatin1(kScoreFileName), bytes);
    return true;
}
