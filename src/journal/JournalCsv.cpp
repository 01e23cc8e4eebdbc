#include "journal/JournalCsv.h"

namespace {

QString fixed(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

bool isPlainNumber(const QString& text)
{
    // -12.5 or 3 or 1e-05: a number a spreadsheet reads as one, never a formula.
    bool ok = false;
    text.toDouble(&ok);
    return ok && !text.contains(QLatin1Char(' ')) && !text.startsWith(QLatin1Char('+'));
}

} // namespace

QString csvField(const QString& raw)
{
    // A field a spreadsheet would take for a formula gets an apostrophe in
    // front, so it shows as text: device and port names come from drivers,
    // servers and other programs, and a JACK client may call itself
    // =HYPERLINK(...). Plain numbers (negative fatigue) stay numbers.
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    const bool formula = !raw.isEmpty() && kFormulaStarts.contains(raw.front()) && !isPlainNumber(raw);
    const QString text = formula ? QLatin1Char('\'') + raw : raw;
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quote)
        return text;
    QString out = text;
    out.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QByteArray csvLine(const QStringList& fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& f : fields)
        quoted << csvField(f);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray strokesCsv(const RunRecord& run)
{
    const bool midi = run.device.type == DeviceType::Midi;
    QByteArray out = midi ? "stroke,time_s,interval_s,level,note\r\n" : "stroke,time_s,interval_s,level\r\n";
    out.reserve(out.size() + static_cast<qsizetype>(run.strokes.size()) * 40);
    // Ticks are whole numbers up to 2^63; dividing the difference (not each
    // time) keeps a 100 ns MIDI stamp exact to the last printed digit.
    const double perSecond = static_cast<double>(run.ticksPerSecond > 0 ? run.ticksPerSecond : 1);
    const std::int64_t first = run.strokes.empty() ? 0 : run.strokes.front().tick;
    std::int64_t previous = first;
    int number = 0;
    for (const StrokeEvent& s : run.strokes) {
        QStringList fields{QString::number(++number), fixed(static_cast<double>(s.tick - first) / perSecond, 6),
                           fixed(static_cast<double>(s.tick - previous) / perSecond, 6),
                           QString::number(static_cast<double>(s.level), 'g', 9)};
        if (midi)
            fields << QString::number(s.note);
        out += csvLine(fields);
        previous = s.tick;
    }
    return out;
}
