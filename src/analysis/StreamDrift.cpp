#include "analysis/StreamDrift.h"

#include <algorithm>
#include <cmath>

void StreamRateFit::add(double timeS, double frames)
{
    if (m_count >= kTrustedReports) {
        if (const auto fitted = line()) {
            const double off = frames - fitted->framesAt(timeS);
            const double typical = m_residuals > 0 ? std::sqrt(m_squaredResiduals / static_cast<double>(m_residuals)) : 0.0;
            if (std::abs(off) > std::max(kMinRejectS * fitted->rateHz, 6.0 * typical)) {
                ++m_rejected;
                if (++m_offInARow >= kJumpReports) {
                    const std::int64_t rejected = m_rejected;
                    clear();
                    m_rejected = rejected;
                    accumulate(timeS, frames);
                }
                return;
            }
            m_squaredResiduals += off * off;
            ++m_residuals;
        }
    }
    m_offInARow = 0;
    accumulate(timeS, frames);
}

void StreamRateFit::accumulate(double timeS, double frames)
{
    if (m_count == 0) {
        m_t0 = timeS;
        m_f0 = frames;
    }
    const double t = timeS - m_t0, f = frames - m_f0;
    ++m_count;
    m_t += t;
    m_f += f;
    m_tt += t * t;
    m_tf += t * f;
}

std::optional<StreamLine> StreamRateFit::line() const
{
    if (m_count < 2)
        return std::nullopt;
    const double n = static_cast<double>(m_count);
    const double meanT = m_t / n, meanF = m_f / n;
    const double varT = m_tt / n - meanT * meanT;
    // Reports all at one moment (within a microsecond's spread) say nothing of a rate.
    if (!(varT > 1e-12))
        return std::nullopt;
    const double rate = (m_tf / n - meanT * meanF) / varT;
    if (!(rate > 0.0))
        return std::nullopt;
    // Through the reports' centre, where the line is known best.
    return StreamLine{m_t0 + meanT, m_f0 + meanF, rate};
}
