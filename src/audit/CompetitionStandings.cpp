#include "audit/CompetitionStandings.h"

#include "journal/JournalCsv.h"

#include <algorithm>

namespace {

QString personKey(const QString& name)
{
    return name.trimmed().toCaseFolded();
}

// A field starting with = + - @, a tab or a carriage return is a formula to
// a spreadsheet: an apostrophe in front keeps it text.
QString spreadsheetSafe(const QString& text)
{
    static const QString kRisky = QStringLiteral("=+-@\t\r");
    return !text.isEmpty() && kRisky.contains(text.front()) ? QLatin1Char('\'') + text : text;
}

} // namespace

QList<DrummerHeats> heatsByDrummer(const QList<AuditRecord>& records, const QString& competition)
{
    QList<DrummerHeats> out;
    for (const AuditRecord& r : records) {
        if (r.competition != competition || r.final)
            continue;
        auto it = std::find_if(out.begin(), out.end(),
                               [&](const DrummerHeats& d) { return personKey(d.drummer) == personKey(r.drummer); });
        if (it == out.end()) {
            out.append(DrummerHeats{r.drummer.trimmed(), {}, -1});
            it = out.end() - 1;
        }
        it->heats.append(r);
        const auto i = static_cast<std::int32_t>(it->heats.size() - 1);
        if (!r.falseStart && (it->bestHeat < 0 || r.count > it->heats[it->bestHeat].count))
            it->bestHeat = i;
    }
    return out;
}

QList<RankRow> finalsRanking(const QList<AuditRecord>& records, const QString& competition)
{
    QList<RankRow> rows;
    for (const AuditRecord& r : records) {
        if (r.competition != competition || !r.final || r.falseStart)
            continue;
        auto it = std::find_if(rows.begin(), rows.end(),
                               [&](const RankRow& row) { return personKey(row.drummer) == personKey(r.drummer); });
        if (it == rows.end())
            rows.append(RankRow{0, r.drummer.trimmed(), r.count, r.id, r.flagged()});
        else if (r.count > it->count)
            *it = RankRow{0, it->drummer, r.count, r.id, r.flagged()};
    }
    std::stable_sort(rows.begin(), rows.end(), [](const RankRow& a, const RankRow& b) { return a.count > b.count; });
    for (qsizetype i = 0; i < rows.size(); ++i)
        rows[i].place = i > 0 && rows[i].count == rows[i - 1].count ? rows[i - 1].place : static_cast<std::int32_t>(i + 1);
    return rows;
}

QByteArray rankingCsv(const QList<RankRow>& rows)
{
    QByteArray out = csvLine({QStringLiteral("place"), QStringLiteral("drummer"), QStringLiteral("count"),
                              QStringLiteral("attempt"), QStringLiteral("flagged")});
    for (const RankRow& r : rows)
        out += csvLine({QString::number(r.place), spreadsheetSafe(r.drummer), QString::number(r.count),
                        QString::number(r.attemptId), r.flagged ? QStringLiteral("yes") : QStringLiteral("no")});
    return out;
}

QStringList competitions(const QList<AuditRecord>& records)
{
    QStringList names;
    for (const AuditRecord& r : records)
        if (!names.contains(r.competition))
            names.append(r.competition);
    return names;
}
