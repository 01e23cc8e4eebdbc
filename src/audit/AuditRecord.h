#pragma once
// AuditRecord: what is kept beside an attempt's audit recording, in a small
// JSON file in the journal's folder (audit/<id>.json next to audit/<id>.flac
// or audit/<id>.midi.txt), and the SHA-256 digest that seals it.
//
// The digest covers the recording's bytes and every field that decides or
// describes the result: count, device, detector, the settings that affect
// counting, the recording time, the start, the drummer and heat, the flags
// and the program version. Changing any of them, or one byte of the
// recording, breaks it.
//
// verifyAudit() is the one check behind the Recount button and
// tempovaro-count --verify: the digest first, then the count again.
//
// Threads: any; QtCore only.

#include "audit/AuditRecount.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct AuditRecord {
    std::int64_t id = 0;
    QString competition;   // the event's name, free text
    QString drummer;
    bool final = false;    // false: a heat
    QString startedAt;     // ISO 8601, local time with offset
    bool startOnGo = false;
    bool falseStart = false;
    std::int32_t timeLimitMs = 60000;
    std::int32_t count = 0;
    QString device;        // the device's name as the user saw it
    AuditDetector detector = AuditDetector::Standard;
    QString countingSettings; // "note 38, channel 10" and the like; empty when none apply
    QString version;
    std::uint32_t dropouts = 0;    // overruns during the attempt
    std::uint64_t lostBlocks = 0;  // audit blocks lost behind the capture
    std::int64_t settleSamples = 0; // the recount's settling part (see recountAudioFile)
    QString recording;     // the recording's file name, in the same folder
    QString digest;        // lower-case hex

    bool flagged() const { return falseStart || dropouts > 0 || lostBlocks > 0; }
    // The text the digest covers besides the recording.
    QByteArray canonicalFields() const;
    QByteArray toJson() const;
    static std::optional<AuditRecord> fromJson(const QByteArray& json);
};

QString detectorName(AuditDetector detector);

// SHA-256 over the recording's bytes and the record's fields, in hex.
QString auditDigest(const AuditRecord& record, const QByteArray& recordingBytes);

// <journal folder>/audit, or the folder given by TEMPOVARO_AUDIT_DIR (tests).
QString auditFolder();

struct AuditCheck {
    enum class Outcome { Verified, Mismatch, BrokenDigest, Unreadable };
    Outcome outcome = Outcome::Unreadable;
    std::int32_t recorded = 0;
    std::int32_t recounted = 0;
    QString message; // one line: "verified: 1,187 = 1,187" or what went wrong
};

// Reads <folder>/<id>.json and its recording, checks the digest and counts again.
AuditCheck verifyAudit(const QString& folder, std::int64_t id);

// The attempt ids kept in folder, in order.
QList<std::int64_t> auditIds(const QString& folder);
