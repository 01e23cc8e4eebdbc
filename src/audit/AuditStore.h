#pragma once
// AuditStore: the attempts of competitions kept in one folder, each as its
// record (<id>.json) and its recording (<id>.flac, <id>.midi.txt). Saving
// gives the attempt the next free id, writes the recording, seals the record
// with its digest and writes it last, so a record never points at a
// recording that is not there. Files are private to the user.
//
// Threads: user-interface thread (it blocks on the disk).

#include "audit/AuditRecord.h"

#include <QList>
#include <QString>

class AuditStore {
public:
    explicit AuditStore(QString folder = auditFolder());

    const QString& folder() const { return m_folder; }
    // Fills in id, recording and digest; false with error set when a file
    // could not be written (nothing is then left pointing at it).
    bool save(AuditRecord& record, const QByteArray& recordingBytes, const QString& extension, QString& error);
    // Every readable record, oldest first.
    QList<AuditRecord> load() const;

private:
    QString m_folder;
};
