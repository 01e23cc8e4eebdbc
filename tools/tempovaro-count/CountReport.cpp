#include "CountReport.h"

#include "analysis/RunFigures.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

void printValue(std::FILE* out, const std::optional<double>& value, int decimals)
{
    if (!value || !std::isfinite(*value))
        return;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, *value);
    // A value that rounds to zero reads "0.00", whichever side it came from.
    const char* digits = text[0] == '-' ? text + 1 : text;
    if (std::strspn(digits, "0.") == std::strlen(digits))
        std::fputs(digits, out);
    else
        std::fputs(text, out);
}

} // namespace

void printReport(std::FILE* out, const RunRecord& run)
{
    std::fputs("figure,value\n", out);
    for (const FigureRow& row : figureRows(analyzeRun(run).figures)) {
        std::fprintf(out, "%s,", row.name);
        printValue(out, row.value, figureDecimals(row.unit));
        std::fputc('\n', out);
    }
}

void printTimingFigures(std::FILE* out, const TimingFigures& figures, const char* eol)
{
    for (const TimingRow& row : timingRows(figures)) {
        std::fprintf(out, "%s,", row.name);
        printValue(out, row.value, row.count ? 0 : 2);
        std::fputs(eol, out);
    }
}

void printTimingReport(std::FILE* out, const RunRecord& run, const TimingGrid& grid)
{
    std::vector<double> times;
    times.reserve(run.strokes.size());
    for (const StrokeEvent& s : run.strokes)
        times.push_back(static_cast<double>(s.tick) / static_cast<double>(run.ticksPerSecond));
    printTimingFigures(out, analyzeTiming(times, grid).figures);
}
