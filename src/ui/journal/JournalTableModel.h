#pragma once
// JournalTableModel: the journal window's table, one row per listed run
// (summaries only, never strokes), so ten thousand runs cost ten thousand
// small records and no widget per cell.
//
// Sorting is the model's own: numbers compare as numbers, and a figure that
// was never computed sorts last in either direction, so the runs that have
// one stay on top. Equal keys keep the newest run first.
//
// Thread: the user-interface thread. Units: start times in milliseconds
// since 1970 UTC, shown in the local zone.

#include "journal/JournalDatabase.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

class JournalTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColDate, ColRecordingTime, ColCount, ColStrokesPerMinute, ColEvenness, ColFatigue, ColClickTempo,
                  ColMeanOffset, ColWithin10, ColResult, ColDetector, ColDevice, ColumnCount };

    explicit JournalTableModel(QObject* parent = nullptr);

    // Replaces the rows; the last chosen sort is applied to them.
    void setRuns(std::vector<JournalRun> runs);
    const std::vector<JournalRun>& runs() const { return m_runs; }
    const JournalRun& runAt(int row) const { return m_runs[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // Qt::UserRole gives the run's id.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    void sortRuns();

    std::vector<JournalRun> m_runs;
    int m_sortColumn = ColDate;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
};
