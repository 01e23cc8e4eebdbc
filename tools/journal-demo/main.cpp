// journal-demo FOLDER [RUNS [SECONDS]]: writes RUNS (default 300) made-up
// runs over the last year into FOLDER/journal.sqlite (made if missing; it
// adds to a journal already there) and shows the journal window on it with
// the runs of SECONDS charted (default 60; -1 endless, 0 all recording
// times). A drummer who practises a few times a week and slowly gets
// faster, with the odd bad day. The folder is never guessed: made-up runs
// must not land in a drummer's real journal.
#include "journal/JournalDatabase.h"
#include "ui/journal/JournalWindow.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>

#include <cstdio>
#include <map>
#include <random>

int main(int argc, char** argv)
{
    // Checked before Qt takes the arguments, so the usage prints anywhere.
    if (argc < 2 || argv[1][0] == '\0' || argv[1][0] == '-') {
        std::fputs("usage: journal-demo FOLDER [RUNS [SECONDS]]\n"
                   "Fills FOLDER/journal.sqlite with made-up runs and shows the journal window.\n",
                   stderr);
        return 2;
    }
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString folder = args[1];
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "journal-demo: cannot make %s\n", qPrintable(folder));
        return 1;
    }
    const QString path = QDir(folder).absoluteFilePath(QStringLiteral("journal.sqlite"));
    const int runs = args.size() > 2 ? std::max(1, args[2].toInt()) : 300;
    {
        JournalDatabase db(path);
        if (!db.open()) {
            std::fprintf(stderr, "journal-demo: %s\n", qPrintable(db.problemReason()));
            return 1;
        }
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 1.0);
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        const std::int64_t yearMs = 365LL * 86'400'000;
        const std::int32_t times[] = {60000, 60000, 60000, 30000, 10000, -1};
        std::map<std::int32_t, int> best;
        for (int k = 0; k < runs; ++k) {
            const double progress = static_cast<double>(k) / runs;
            RunRecord r;
            r.startUtcMs = now - yearMs + static_cast<std::int64_t>(progress * yearMs) + (k % 3) * 600'000;
            r.recordingTimeMs = times[random() % 6];
            const double perSecond = 11.0 + 3.5 * progress + 0.5 * noise(random) - (random() % 17 == 0 ? 2.5 : 0.0);
            const double seconds = r.recordingTimeMs > 0 ? r.recordingTimeMs / 1000.0 : 120.0 + random() % 600;
            r.count = static_cast<int>(perSecond * seconds);
            r.ranToEnd = r.recordingTimeMs > 0;
            if (r.recordingTimeMs > 0) {
                r.result = r.count > best[r.recordingTimeMs] ? RunResult::Record : RunResult::Finished;
                best[r.recordingTimeMs] = std::max(best[r.recordingTimeMs], r.count);
            }
            r.device = k % 4 == 0
                           ? RunDevice{DeviceType::Midi, "TD-17 MIDI 1", "", 10, 38, AudioDetector::Standard, ""}
                           : RunDevice{DeviceType::Audio, "Built-in Audio Analog Stereo", "Capture", 0, -1,
                                       AudioDetector::Standard, ""};
            db.setSummaryHook([&](const RunRecord&) {
                return RunSummary{perSecond * 60.0, 6.0 - 2.5 * progress + 0.6 * noise(random),
                                  -4.0 + 1.5 * noise(random), std::nullopt, std::nullopt};
            });
            db.addRun(r);
        }
    }
    // No score file beside the demo journal: nothing to offer to import.
    JournalWindow w(path, QDir(folder).absoluteFilePath(QStringLiteral("Tempovaro.qxs")));
    const int seconds = args.size() > 3 ? args[3].toInt() : 60;
    w.setRecordingTimeFilter(seconds == 0 ? std::nullopt
                                          : std::optional<std::int32_t>(seconds < 0 ? -1 : seconds * 1000));
    w.show();
    return app.exec();
}
