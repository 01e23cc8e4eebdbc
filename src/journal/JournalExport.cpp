#include "JournalExport.h"

#include "JournalCsv.h"
#include "QX_AtomicFile.h"

#include <QDateTime>

#include <cstdlib>

namespace {

QString figure(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'f', 3) : QString();
}

} // namespace

QString isoDateTime(std::int64_t utcMs, const QTimeZone& zone)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(utcMs, zone);
    const int offsetS = t.offsetFromUtc();
    const int absMinutes = std::abs(offsetS) / 60;
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offsetS < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2").arg(absMinutes / 60, 2, 10, QLatin1Char('0')).arg(absMinutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray runsCsv(const std::vector<JournalRun>& runs, const QTimeZone& zone)
{
    QByteArray out = "id,start,recording_time_s,count,strokes_per_minute,evenness_cv_percent,fatigue_percent,"
                     "result,device\r\n";
    out.reserve(out.size() + static_cast<qsizetype>(runs.size()) * 96);
    for (const JournalRun& j : runs) {
        const RunRecord& r = j.run;
        out += csvLine({QString::number(r.id), isoDateTime(r.startUtcMs, zone),
                        r.recordingTimeMs < 0 ? QStringLiteral("endless") : QString::number(r.recordingTimeMs / 1000),
                        QString::number(r.count), figure(j.summary.strokesPerMinute),
                        figure(j.summary.evennessCvPercent), figure(j.summary.fatiguePercent),
                        runResultText(r.result), runDeviceText(r.device)});
    }
    return out;
}

bool saveExport(const QString& path, const QByteArray& bytes, QString* reason)
{
    // The program's one atomic write: every byte checked, renamed over the
    // target, never through a link to something that is not a plain file.
    const AtomicWriteResult written = writeFileAtomically(path, bytes);
    if (!written && reason)
        *reason = written.error;
    return written.ok;
}
