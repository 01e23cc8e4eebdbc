#include "audit/AuditStore.h"

#include "persistence/QX_AtomicFile.h"

#include <QDir>
#include <QFile>

AuditStore::AuditStore(QString folder) : m_folder(std::move(folder)) {}

bool AuditStore::save(AuditRecord& record, const QByteArray& recordingBytes, const QString& extension,
                      QString& error)
{
    QDir dir(m_folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        error = QStringLiteral("cannot create %1").arg(m_folder);
        return false;
    }
    const QList<std::int64_t> ids = auditIds(m_folder);
    record.id = ids.isEmpty() ? 1 : ids.back() + 1;
    // A recording left by a save that failed before its record keeps its
    // number taken.
    while (!dir.entryList({QString::number(record.id) + QStringLiteral(".*")}, QDir::Files).isEmpty())
        ++record.id;
    record.recording = QString::number(record.id) + extension;
    record.digest = auditDigest(record, recordingBytes);
    if (auto written = writeFileAtomically(dir.filePath(record.recording), recordingBytes, FileAccess::OwnerOnly);
        !written) {
        error = written.error;
        return false;
    }
    const QString jsonPath = dir.filePath(QString::number(record.id) + QStringLiteral(".json"));
    if (auto written = writeFileAtomically(jsonPath, record.toJson(), FileAccess::OwnerOnly); !written) {
        error = written.error;
        return false;
    }
    return true;
}

QList<AuditRecord> AuditStore::load() const
{
    QList<AuditRecord> records;
    for (const std::int64_t id : auditIds(m_folder)) {
        QFile file(QDir(m_folder).filePath(QString::number(id) + QStringLiteral(".json")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        if (auto record = AuditRecord::fromJson(file.readAll()); record && record->id == id)
            records.append(*record);
    }
    return records;
}
