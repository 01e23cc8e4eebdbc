#include "CountJournal.h"

#include "CountReport.h"
#include "analysis/RunTiming.h"
#include "journal/JournalCsv.h"
#include "journal/JournalDatabase.h"
#include "journal/JournalExport.h"

#include <QCoreApplication>
#include <QTimeZone>

#include <memory>

namespace {

// QtSql finds its SQLite driver through the application's plugin paths.
std::unique_ptr<QCoreApplication> qtApp()
{
    if (QCoreApplication::instance())
        return nullptr;
    static int argc = 1;
    static char name[] = "tempovaro-count";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

// throughLocks: a first read found the file changing under it.
bool openJournal(JournalDatabase& db, bool throughLocks = false)
{
    JournalDatabase::Options options;
    options.readOnly = true;
    options.throughLocks = throughLocks;
    if (db.open(options))
        return true;
    // Which file is no file, or what SQLite found damaged, is in the detail.
    const bool detailed = db.problem() == JournalProblem::NotAFile || db.problem() == JournalProblem::Damaged ||
                          db.problem() == JournalProblem::Other;
    std::fprintf(stderr, "tempovaro-count: the journal %s cannot be opened: %s%s%s%s\n", qPrintable(db.path()),
                 qPrintable(db.problemReason()), detailed ? " (" : "", detailed ? qPrintable(db.problemDetail()) : "",
                 detailed ? ")" : "");
    return false;
}

bool write(const QByteArray& bytes, std::FILE* out)
{
    return std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), out) ==
               static_cast<std::size_t>(bytes.size()) &&
           std::fflush(out) == 0;
}

} // namespace

int printJournalRuns(std::FILE* out)
{
    const auto app = qtApp();
    JournalDatabase db;
    if (!openJournal(db))
        return 1;
    std::vector<JournalRun> runs = db.listRuns();
    // A Tempovaro that began writing while we read: read again, properly locked.
    if (db.readMayBeTorn()) {
        if (!openJournal(db, true))
            return 1;
        runs = db.listRuns();
    }
    if (db.problem() != JournalProblem::None && db.problem() != JournalProblem::NewerSchema) {
        // Part of a list must never pass for the whole of it.
        std::fprintf(stderr, "tempovaro-count: the journal %s cannot be read (%s) after %zu runs: %s\n",
                     qPrintable(db.path()), qPrintable(db.problemReason()), runs.size(),
                     qPrintable(db.problemDetail()));
        return 1;
    }
    return write(runsCsv(runs, QTimeZone::systemTimeZone()), out) ? 0 : 1;
}

int printJournalRun(std::int64_t id, std::FILE* out)
{
    const auto app = qtApp();
    JournalDatabase db;
    if (!openJournal(db))
        return 1;
    std::optional<JournalRun> run = db.loadRun(id);
    if (db.readMayBeTorn()) {
        if (!openJournal(db, true))
            return 1;
        run = db.loadRun(id);
    }
    const bool failed = db.problem() != JournalProblem::None && db.problem() != JournalProblem::NewerSchema;
    if (!run && !failed) {
        std::fprintf(stderr, "tempovaro-count: the journal has no run %lld (see --journal)\n",
                     static_cast<long long>(id));
        return 1;
    }
    if (failed) {
        std::fprintf(stderr, "tempovaro-count: run %lld cannot be read (%s): %s\n", static_cast<long long>(id),
                     qPrintable(db.problemReason()), qPrintable(db.problemDetail()));
        return 1;
    }
    if (!write(strokesCsv(run->run), out))
        return 1;
    // A run played with the click goes on with its timing figures, as the
    // run report shows them, after an empty line.
    if (const std::optional<TimingAnalysis> timing = analyzeRunTiming(run->run)) {
        std::fputs("\r\nfigure,value\r\n", out);
        printTimingFigures(out, timing->figures, "\r\n");
        if (std::fflush(out) != 0)
            return 1;
    }
    return 0;
}
