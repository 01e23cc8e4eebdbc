#include "ui/journal/JournalTableModel.h"

#include "journal/JournalExport.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_map>
#include <optional>

namespace {

std::optional<double> numericKey(const JournalRun& j, int column)
{
    const RunRecord& r = j.run;
    switch (column) {
    case JournalTableModel::ColDate:
        return static_cast<double>(r.startUtcMs);
    case JournalTableModel::ColRecordingTime:
        // Endless is the longest recording time.
        return r.recordingTimeMs < 0 ? 1e12 : r.recordingTimeMs;
    case JournalTableModel::ColCount:
        return r.count;
    case JournalTableModel::ColStrokesPerMinute:
        return j.summary.strokesPerMinute;
    case JournalTableModel::ColEvenness:
        return j.summary.evennessCvPercent;
    case JournalTableModel::ColFatigue:
        return j.summary.fatiguePercent;
    case JournalTableModel::ColClickTempo:
        return r.click ? std::optional<double>(r.click->tempoBpm) : std::nullopt;
    case JournalTableModel::ColMeanOffset:
        return j.summary.meanOffsetMs;
    case JournalTableModel::ColWithin10:
        return j.summary.within10Percent;
    case JournalTableModel::ColResult:
        return static_cast<double>(r.result);
    default:
        return std::nullopt;
    }
}

QString figureText(const std::optional<double>& v)
{
    return v ? QLocale().toString(*v, 'f', 1) : QString();
}

} // namespace

JournalTableModel::JournalTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void JournalTableModel::setRuns(std::vector<JournalRun> runs)
{
    beginResetModel();
    m_runs = std::move(runs);
    sortRuns();
    endResetModel();
}

int JournalTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_runs.size());
}

int JournalTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JournalTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const JournalRun& j = runAt(index.row());
    const RunRecord& r = j.run;
    if (role == Qt::UserRole)
        return QVariant::fromValue<qint64>(r.id);
    if (role == Qt::TextAlignmentRole) {
        const bool number = index.column() >= ColRecordingTime && index.column() <= ColWithin10;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColDate:
        return QLocale().toString(QDateTime::fromMSecsSinceEpoch(r.startUtcMs).toLocalTime(), QLocale::ShortFormat);
    case ColRecordingTime:
        return recordingTimeText(r.recordingTimeMs);
    case ColCount:
        return r.count;
    case ColStrokesPerMinute:
        return figureText(j.summary.strokesPerMinute);
    case ColEvenness:
        return figureText(j.summary.evennessCvPercent);
    case ColFatigue:
        return figureText(j.summary.fatiguePercent);
    case ColClickTempo:
        return r.click ? QLocale().toString(r.click->tempoBpm, 'f', r.click->tempoBpm == std::floor(r.click->tempoBpm) ? 0 : 1)
                       : QString();
    case ColMeanOffset:
        return figureText(j.summary.meanOffsetMs);
    case ColWithin10:
        return figureText(j.summary.within10Percent);
    case ColResult:
        return runResultText(r.result);
    case ColDetector:
        return runDetectorText(r.device);
    case ColDevice:
        return runDeviceText(r.device);
    default:
        return {};
    }
}

QVariant JournalTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColDate:
        return tr("Date");
    case ColRecordingTime:
        return tr("Time");
    case ColCount:
        return tr("Count");
    case ColStrokesPerMinute:
        return tr("Strokes/min");
    case ColEvenness:
        return tr("Evenness (CV %)");
    case ColFatigue:
        return tr("Fatigue (%)");
    case ColClickTempo:
        return tr("Click (BPM)");
    case ColMeanOffset:
        return tr("Offset (ms)");
    case ColWithin10:
        return tr("±10 ms (%)");
    case ColResult:
        return tr("Result");
    case ColDetector:
        return tr("Detector");
    case ColDevice:
        return tr("Trigger device");
    default:
        return {};
    }
}

void JournalTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<qint64> ids;
    ids.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& i : before)
        ids.push_back(runAt(i.row()).run.id);
    m_sortColumn = column;
    m_sortOrder = order;
    sortRuns();
    // Keep the selection on the same runs.
    if (!before.isEmpty()) {
        std::unordered_map<qint64, int> rowOf;
        rowOf.reserve(m_runs.size());
        for (std::size_t k = 0; k < m_runs.size(); ++k)
            rowOf.emplace(m_runs[k].run.id, static_cast<int>(k));
        QModelIndexList after;
        for (qsizetype k = 0; k < before.size(); ++k)
            after << index(rowOf[ids[static_cast<std::size_t>(k)]], before[k].column());
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void JournalTableModel::sortRuns()
{
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    // Keys are taken once: comparing device names as QStrings inside the
    // sort would convert each name thousands of times.
    std::vector<std::size_t> order(m_runs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (m_sortColumn == ColDevice || m_sortColumn == ColDetector) {
        std::vector<QString> keys;
        keys.reserve(m_runs.size());
        for (const JournalRun& j : m_runs)
            keys.push_back(m_sortColumn == ColDevice ? runDeviceText(j.run.device) : runDetectorText(j.run.device));
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const int c = QString::compare(keys[a], keys[b], Qt::CaseInsensitive);
            if (c != 0)
                return descending ? c > 0 : c < 0;
            return m_runs[a].run.startUtcMs > m_runs[b].run.startUtcMs;
        });
    } else {
        std::vector<std::optional<double>> keys;
        keys.reserve(m_runs.size());
        for (const JournalRun& j : m_runs)
            keys.push_back(numericKey(j, m_sortColumn));
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const auto& ka = keys[a];
            const auto& kb = keys[b];
            if (ka.has_value() != kb.has_value())
                return ka.has_value();
            if (ka && *ka != *kb)
                return descending ? *ka > *kb : *ka < *kb;
            return m_runs[a].run.startUtcMs > m_runs[b].run.startUtcMs;
        });
    }
    std::vector<JournalRun> sorted;
    sorted.reserve(m_runs.size());
    for (const std::size_t k : order)
        sorted.push_back(std::move(m_runs[k]));
    m_runs = std::move(sorted);
}

#include "moc_JournalTableModel.cpp"
