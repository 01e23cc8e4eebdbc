#pragma once
// ThinnedLine: the points a line chart draws for a series that grows at its
// end. Up to kMaxBuckets points are drawn as they are; beyond that,
// consecutive points are grouped in buckets of step() and each bucket is drawn
// as its lowest and highest point in order, which a line a pixel wide cannot
// tell from all of them, so a spike is never lost. The step doubles as the
// series grows: the chart redraws at most 2 * kMaxBuckets points however long
// the run, and adding a point costs amortised O(1).
//
// Plain value type, user-interface thread.

#include <QList>
#include <QPointF>

#include <cstddef>
#include <vector>

class ThinnedLine {
public:
    static constexpr std::size_t kMaxBuckets = 1024;

    void clear();
    // x must not decrease.
    void add(const QPointF& point);
    const QList<QPointF>& points() const { return m_shown; }
    std::size_t step() const { return m_step; }

private:
    void showBucket(std::size_t first);

    std::vector<QPointF> m_all;
    QList<QPointF> m_shown;
    std::size_t m_step = 1;
    qsizetype m_lastBucketShown = 0; // points the last, growing bucket put in m_shown
};
