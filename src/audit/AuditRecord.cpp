#include "audit/AuditRecord.h"

#include "journal/JournalDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>

namespace {

// Bumped whenever the fields or their order change, so an old digest is
// never checked against a new layout.
constexpr char kLayout[] = "tempovaro-audit 1";

std::optional<AuditDetector> detectorFromName(const QString& name)
{
    if (name == QLatin1String("standard"))
        return AuditDetector::Standard;
    if (name == QLatin1String("fast"))
        return AuditDetector::Fast;
    if (name == QLatin1String("midi"))
        return AuditDetector::Midi;
    return std::nullopt;
}

// 1,187: the grouping a judge reads, the same in every locale.
QString grouped(std::int32_t n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}

} // namespace

QString detectorName(AuditDetector detector)
{
    switch (detector) {
    case AuditDetector::Fast:
        return QStringLiteral("fast");
    case AuditDetector::Midi:
        return QStringLiteral("midi");
    case AuditDetector::Standard:
        break;
    }
    return QStringLiteral("standard");
}

QByteArray AuditRecord::canonicalFields() const
{
    // One "name=value" line each; values are JSON-escaped strings so a
    // newline in a name cannot forge another line.
    QByteArray out(kLayout);
    out += '\n';
    auto field = [&out](const char* name, const QString& value) {
        QJsonObject o{{QStringLiteral("v"), value}};
        QByteArray text = QJsonDocument(o).toJson(QJsonDocument::Compact);
        out += name;
        out += '=';
        out += text.mid(5, text.size() - 6); // the quoted value only
        out += '\n';
    };
    auto number = [&field](const char* name, std::int64_t v) { field(name, QString::number(v)); };
    number("id", id);
    field("competition", competition);
    field("drummer", drummer);
    field("round", final ? QStringLiteral("final") : QStringLiteral("heat"));
    field("started", startedAt);
    field("start", startOnGo ? QStringLiteral("on go") : QStringLiteral("first stroke"));
    number("false-start", falseStart ? 1 : 0);
    number("time-ms", timeLimitMs);
    number("count", count);
    field("device", device);
    field("detector", detectorName(detector));
    field("settings", countingSettings);
    field("version", version);
    number("dropouts", dropouts);
    number("lost-blocks", static_cast<std::int64_t>(lostBlocks));
    number("settle", settleSamples);
    field("recording", recording);
    return out;
}

QByteArray AuditRecord::toJson() const
{
    QJsonObject o;
    o[QStringLiteral("id")] = static_cast<double>(id);
    o[QStringLiteral("competition")] = competition;
    o[QStringLiteral("drummer")] = drummer;
    o[QStringLiteral("round")] = final ? QStringLiteral("final") : QStringLiteral("heat");
    o[QStringLiteral("started")] = startedAt;
    o[QStringLiteral("start")] = startOnGo ? QStringLiteral("on go") : QStringLiteral("first stroke");
    o[QStringLiteral("falseStart")] = falseStart;
    o[QStringLiteral("timeMs")] = timeLimitMs;
    o[QStringLiteral("count")] = count;
    o[QStringLiteral("device")] = device;
    o[QStringLiteral("detector")] = detectorName(detector);
    o[QStringLiteral("settings")] = countingSettings;
    o[QStringLiteral("version")] = version;
    o[QStringLiteral("dropouts")] = static_cast<double>(dropouts);
    o[QStringLiteral("lostBlocks")] = static_cast<double>(lostBlocks);
    o[QStringLiteral("settleSamples")] = static_cast<double>(settleSamples);
    o[QStringLiteral("recording")] = recording;
    o[QStringLiteral("sha256")] = digest;
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::optional<AuditRecord> AuditRecord::fromJson(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QStringList strings{"competition", "drummer", "round", "started", "start", "device", "detector",
                              "settings", "version", "recording", "sha256"};
    const QStringList numbers{"id", "timeMs", "count", "dropouts", "lostBlocks", "settleSamples"};
    for (const QString& k : strings)
        if (!o.value(k).isString())
            return std::nullopt;
    for (const QString& k : numbers)
        if (!o.value(k).isDouble())
            return std::nullopt;
    if (!o.value(QStringLiteral("falseStart")).isBool())
        return std::nullopt;
    const auto detector = detectorFromName(o.value(QStringLiteral("detector")).toString());
    const QString round = o.value(QStringLiteral("round")).toString();
    const QString start = o.value(QStringLiteral("start")).toString();
    const QString recording = o.value(QStringLiteral("recording")).toString();
    // The recording lies beside the record: a name, never a path.
    if (!detector || (round != QLatin1String("heat") && round != QLatin1String("final")) ||
        (start != QLatin1String("on go") && start != QLatin1String("first stroke")) || recording.isEmpty() ||
        recording.contains(QLatin1Char('/')) || recording.startsWith(QLatin1Char('.')))
        return std::nullopt;
    AuditRecord r;
    r.id = static_cast<std::int64_t>(o.value(QStringLiteral("id")).toDouble());
    r.competition = o.value(QStringLiteral("competition")).toString();
    r.drummer = o.value(QStringLiteral("drummer")).toString();
    r.final = round == QLatin1String("final");
    r.startedAt = o.value(QStringLiteral("started")).toString();
    r.startOnGo = start == QLatin1String("on go");
    r.falseStart = o.value(QStringLiteral("falseStart")).toBool();
    r.timeLimitMs = o.value(QStringLiteral("timeMs")).toInt();
    r.count = o.value(QStringLiteral("count")).toInt();
    r.device = o.value(QStringLiteral("device")).toString();
    r.detector = *detector;
    r.countingSettings = o.value(QStringLiteral("settings")).toString();
    r.version = o.value(QStringLiteral("version")).toString();
    r.dropouts = static_cast<std::uint32_t>(o.value(QStringLiteral("dropouts")).toDouble());
    r.lostBlocks = static_cast<std::uint64_t>(o.value(QStringLiteral("lostBlocks")).toDouble());
    r.settleSamples = static_cast<std::int64_t>(o.value(QStringLiteral("settleSamples")).toDouble());
    r.recording = recording;
    r.digest = o.value(QStringLiteral("sha256")).toString();
    return r;
}

QString auditDigest(const AuditRecord& record, const QByteArray& recordingBytes)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(record.canonicalFields());
    hash.addData(QCryptographicHash::hash(recordingBytes, QCryptographicHash::Sha256).toHex());
    return QString::fromLatin1(hash.result().toHex());
}

QString auditFolder()
{
    const QString overridden = qEnvironmentVariable("TEMPOVARO_AUDIT_DIR");
    if (!overridden.isEmpty())
        return overridden;
    return QFileInfo(JournalDatabase::defaultPath()).absoluteDir().filePath(QStringLiteral("audit"));
}

AuditCheck verifyAudit(const QString& folder, std::int64_t id)
{
    AuditCheck check;
    QFile jsonFile(QDir(folder).filePath(QString::number(id) + QStringLiteral(".json")));
    if (!jsonFile.open(QIODevice::ReadOnly)) {
        check.message = QStringLiteral("no audit record for run %1").arg(id);
        return check;
    }
    const auto record = AuditRecord::fromJson(jsonFile.readAll());
    if (!record || record->id != id) {
        check.outcome = AuditCheck::Outcome::BrokenDigest;
        check.message = QStringLiteral("audit record of run %1 is damaged").arg(id);
        return check;
    }
    const QString recordingPath = QDir(folder).filePath(record->recording);
    QFile recordingFile(recordingPath);
    if (!recordingFile.open(QIODevice::ReadOnly)) {
        check.message = QStringLiteral("audit recording %1 is missing").arg(record->recording);
        return check;
    }
    const QByteArray bytes = recordingFile.readAll();
    check.recorded = record->count;
    if (auditDigest(*record, bytes) != record->digest) {
        check.outcome = AuditCheck::Outcome::BrokenDigest;
        check.message = QStringLiteral("digest broken: the recording or the result was changed");
        return check;
    }
    std::optional<std::int32_t> recount;
    if (record->detector == AuditDetector::Midi) {
        if (const auto events = parseMidiEvents(bytes.toStdString()))
            recount = recountMidiEvents(*events, record->timeLimitMs);
    } else {
        recount = recountAudioFile(QFile::encodeName(recordingPath).toStdString(), record->detector,
                                   record->timeLimitMs, record->settleSamples);
    }
    if (!recount) {
        check.outcome = AuditCheck::Outcome::Unreadable;
        check.message = QStringLiteral("audit recording %1 cannot be read").arg(record->recording);
        return check;
    }
    check.recounted = *recount;
    if (check.recounted == check.recorded) {
        check.outcome = AuditCheck::Outcome::Verified;
        check.message = QStringLiteral("verified: %1 = %2").arg(grouped(check.recounted), grouped(check.recorded));
    } else {
        check.outcome = AuditCheck::Outcome::Mismatch;
        check.message = QStringLiteral("mismatch: recount %1, result %2 (%3%4)")
                            .arg(grouped(check.recounted), grouped(check.recorded),
                                 check.recounted > check.recorded ? QStringLiteral("+") : QString(),
                                 grouped(check.recounted - check.recorded));
    }
    return check;
}

QList<std::int64_t> auditIds(const QString& folder)
{
    QList<std::int64_t> ids;
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.json")}, QDir::Files);
    for (const QString& name : names) {
        bool ok = false;
        const std::int64_t id = QFileInfo(name).completeBaseName().toLongLong(&ok);
        if (ok && id > 0)
            ids.append(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}
