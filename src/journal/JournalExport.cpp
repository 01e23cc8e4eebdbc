#include "JournalExport.h"

#include "JournalCsv.h"

#include <QDateTime>
#include <QSaveFile>

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

QString runResultText(RunResult result)
{
    switch (result) {
    case RunResult::Record:
        return QStringLiteral("Record");
    case RunResult::Finished:
        return QStringLiteral("Finished");
    case RunResult::CutShort:
        break;
    }
    return QStringLiteral("Cut short");
}

QString runDeviceText(const RunDevice& device)
{
    if (device.type != 1 && device.type != 2 && device.name.empty())
        return QStringLiteral("Score list");
    const QString name = QString::fromStdString(device.name);
    if (device.type == 1 && !device.line.empty())
        return name + QStringLiteral(" (") + QString::fromStdString(device.line) + QLatin1Char(')');
    return name;
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
    // Unbuffered, so a short write on a full disk shows in write()'s count
    // instead of being committed as a truncated file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        if (reason)
            *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    return true;
}
