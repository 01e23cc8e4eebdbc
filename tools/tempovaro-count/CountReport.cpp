#include "CountReport.h"

#include "RunFigures.h"

#include <cmath>
#include <cstring>

namespace {

void printValue(std::FILE* out, const FigureRow& row)
{
    if (!row.value || !std::isfinite(*row.value))
        return;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", figureDecimals(row.unit), *row.value);
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
        printValue(out, row);
        std::fputc('\n', out);
    }
}
