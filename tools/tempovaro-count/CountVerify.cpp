#include "CountVerify.h"

#include "audit/AuditRecord.h"

int verifyAttempt(std::int64_t id, std::FILE* out, std::FILE* err)
{
    const AuditCheck check = verifyAudit(auditFolder(), id);
    const QByteArray line = check.message.toUtf8();
    if (check.outcome == AuditCheck::Outcome::Verified) {
        std::fprintf(out, "%s\n", line.constData());
        return 0;
    }
    // A mismatch is a result, printed where the verified line would be.
    std::fprintf(check.outcome == AuditCheck::Outcome::Mismatch ? out : err, "%s\n", line.constData());
    return 1;
}
