#include "journal/JournalExport.h"

#include "journal/JournalCsv.h"
#include "persistence/QX_AtomicFile.h"

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
                     "result,device,detector,device_id,click_bpm,mean_offset_ms,within_10ms_percent\r\n";
    out.reserve(out.size() + static_cast<qsizetype>(runs.size()) * 96);
    for (const JournalRun& j : runs) {
        const RunRecord& r = j.run;
        out += csvLine({QString::number(r.id), isoDateTime(r.startUtcMs, zone),
                        r.recordingTimeMs < 0 ? QStringLiteral("endless") : QString::number(r.recordingTimeMs / 1000),
                        QString::number(r.count), figure(j.summary.strokesPerMinute),
                        figure(j.summary.evennessCvPercent), figure(j.summary.fatiguePercent),
                        runResultText(r.result), runDeviceText(r.device), runDetectorText(r.device),
                        QString::fromStdString(r.device.id),
                        figure(r.click ? std::optional<double>(r.click->tempoBpm) : std::nullopt),
                        figure(j.summary.meanOffsetMs), figure(j.summary.within10Percent)});
    }
    return out;
}

QByteArray unsavedRunsCsv(const std::vector<RunRecord>& runs, const QTimeZone& zone)
{
    QByteArray out = "start,recording_time_s,count,result,device,detector,device_id,stroke,time_s,level,note\r\n";
    for (const RunRecord& r : runs) {
        const QStringList run{isoDateTime(r.startUtcMs, zone),
                              r.recordingTimeMs < 0 ? QStringLiteral("endless") : QString::number(r.recordingTimeMs / 1000),
                              QString::number(r.count), runResultText(r.result), runDeviceText(r.device),
                              runDetectorText(r.device), QString::fromStdString(r.device.id)};
        if (r.strokes.empty()) {
            out += csvLine(run + QStringList{QString(), QString(), QString(), QString()});
            continue;
        }
        // The stroke columns are those of the stroke export, one row each.
        const double perSecond = static_cast<double>(r.ticksPerSecond > 0 ? r.ticksPerSecond : 1);
        const std::int64_t first = r.strokes.front().tick;
        int number = 0;
        for (const StrokeEvent& s : r.strokes)
            out += csvLine(run + QStringList{QString::number(++number),
                                             QString::number(static_cast<double>(s.tick - first) / perSecond, 'f', 6),
                                             QString::number(static_cast<double>(s.level), 'g', 9),
                                             s.note < 0 ? QString() : QString::number(s.note)});
    }
    return out;
}

bool saveExport(const QString& path, const QByteArray& bytes, QString* reason)
{
    // The program's one atomic write: every byte checked, renamed over the
    // target, never through a link to something that is not a plain file.
    // A practice history is private: a new file is the user's alone, while
    // a file replaced keeps the permissions its owner gave it.
    const AtomicWriteResult written = writeFileAtomically(path, bytes, FileAccess::PrivateWhenNew);
    if (!written && reason)
        *reason = written.error;
    return written.ok;
}
