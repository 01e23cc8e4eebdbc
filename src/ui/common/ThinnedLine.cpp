#include "ui/common/ThinnedLine.h"

void ThinnedLine::clear()
{
    m_all.clear();
    m_shown.clear();
    m_step = 1;
    m_lastBucketShown = 0;
}

void ThinnedLine::add(const QPointF& point)
{
    m_all.push_back(point);
    const std::size_t count = m_all.size();
    if ((count + m_step - 1) / m_step > kMaxBuckets) {
        m_step *= 2;
        m_shown.clear();
        for (std::size_t first = 0; first < count; first += m_step)
            showBucket(first);
        return;
    }
    const std::size_t first = (count - 1) / m_step * m_step;
    if (first == count - 1)
        m_lastBucketShown = 0;
    m_shown.resize(m_shown.size() - m_lastBucketShown);
    showBucket(first);
}

void ThinnedLine::showBucket(std::size_t first)
{
    const std::size_t end = std::min(first + m_step, m_all.size());
    std::size_t low = first, high = first;
    for (std::size_t i = first + 1; i < end; ++i) {
        if (m_all[i].y() < m_all[low].y())
            low = i;
        if (m_all[i].y() > m_all[high].y())
            high = i;
    }
    m_shown.append(m_all[std::min(low, high)]);
    m_lastBucketShown = 1;
    if (low != high) {
        m_shown.append(m_all[std::max(low, high)]);
        m_lastBucketShown = 2;
    }
}
