#include "CountOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

const char* const kCountUsage =
    "Usage: tempovaro-count [--detector standard|fast] [--time SECONDS] [--report]\n"
    "                       [--grid BPM:SUBDIVISION:START_SECONDS] FILE...\n"
    "       tempovaro-count --audio ID [--line NAME] [--level 0..1] [--detector standard|fast]\n"
    "                       [--time SECONDS] [--report]\n"
    "       tempovaro-count --midi ID [--channel 0..16] [--note 0..127] [--time SECONDS] [--report]\n"
    "       tempovaro-count --journal | --journal-run ID\n"
    "       tempovaro-count --verify ID\n"
    "       tempovaro-count --list | --help | --version\n"
    "\n"
    "Counts drum strokes the way Tempovaro does and prints them as CSV:\n"
    "  stroke,window_end_sample,time_s,interval_samples,level   (audio)\n"
    "  stroke,onset_sample,time_s,interval_samples,level        (audio, fast)\n"
    "  stroke,time_s,interval_s,level                           (MIDI)\n"
    "followed by a summary line '# strokes N, seconds S, strokes per minute R'.\n"
    "\n"
    "  FILE...          recordings in any format libsndfile reads; other rates\n"
    "                   and channel counts are converted to 44,100 Hz mono\n"
    "  --time SECONDS   recording time: count from the first stroke for this long\n"
    "  --audio ID       measure live from an ALSA capture device (see --list)\n"
    "  --line NAME      input line of that device to record from\n"
    "  --level 0..1     recording level of that line\n"
    "  --detector NAME  audio detector: standard (default; counts up to about 30\n"
    "                   strokes per second) or fast (to 40 and more; each stroke\n"
    "                   at its onset, counted 4 ms after it)\n"
    "  --midi ID        measure live from a MIDI input port (see --list)\n"
    "  --channel 0..16  MIDI channel to count, 0 for all\n"
    "  --note 0..127    MIDI note to count, all when omitted\n"
    "  --list           list audio devices with their input lines, and MIDI ports\n"
    "  --report         print the run's figures instead of each stroke (below)\n"
    "  --grid BPM:SUBDIVISION:START_SECONDS\n"
    "                   time each stroke against a click of BPM (30 to 300)\n"
    "                   with SUBDIVISION grid points a beat (1, 2, 3, 4, 6 or\n"
    "                   8), the first at START_SECONDS into the file; implies\n"
    "                   --report (below)\n"
    "  --journal        print the practice journal's runs, newest first:\n"
    "                   id,start,recording_time_s,count,strokes_per_minute,\n"
    "                   evenness_cv_percent,fatigue_percent,result,device\n"
    "  --journal-run ID print one journal run's strokes:\n"
    "                   stroke,time_s,interval_s,level[,note]; for a run\n"
    "                   played with the click, then an empty line and its\n"
    "                   timing figures as --grid prints them (below)\n"
    "  --verify ID      check a competition attempt kept in the journal's audit\n"
    "                   folder: its digest, then its count against a recount of\n"
    "                   its recording; prints 'verified: N = N' or the difference,\n"
    "                   exit status 1 on a mismatch or a broken digest\n"
    "\n"
    "Live measurements wait for the first stroke and end after the recording\n"
    "time, or on Ctrl+C without one. The journal is read, never written, from\n"
    "$XDG_DATA_HOME/Tempovaro/journal.sqlite. Exit status: 0 done, 1 device or\n"
    "journal cannot be opened, a device stopped delivering or no such run, 2 bad\n"
    "command line or unreadable file.\n"
    "\n"
    "With --report the stroke lines give way to 'figure,value' lines, in this\n"
    "order: strokes, seconds, strokes_per_minute, mean_interval_ms,\n"
    "interval_sd_ms, evenness_cv_percent, longest_gap_ms, best_second,\n"
    "first_10s_per_second, last_10s_per_second, fatigue_percent,\n"
    "hand_balance_percent, suspected_doubles, suspected_misses. Times are\n"
    "measured from the first stroke; a run counted with --time that lasts the\n"
    "whole time is measured over that time, any other over its strokes.\n"
    "Seconds have four decimals, milliseconds one, rates and percentages two;\n"
    "a figure the run is too short for has an empty value. The summary line\n"
    "follows.\n"
    "\n"
    "With --grid the report goes on with the timing figures: mean_offset_ms,\n"
    "offset_sd_ms, within_10ms_percent, within_20ms_percent, played_tempo_bpm,\n"
    "drift_ms_per_minute, hand_a_mean_offset_ms, hand_b_mean_offset_ms,\n"
    "missed_grid_points, extra_strokes. Each stroke counts against its nearest\n"
    "grid point, negative early; the grid ends at the point nearest the last\n"
    "stroke. Milliseconds, percentages and tempi have two decimals. Both\n"
    "detectors time each stroke at its onset.\n";

namespace {

bool parseNumber(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool parseInteger(const std::string& text, long minimum, long maximum, int& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || parsed < minimum || parsed > maximum)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// BPM:SUBDIVISION:START_SECONDS, each part in the click's range.
bool parseGrid(const std::string& text, GridOption& grid)
{
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos || text.find(':', second + 1) != std::string::npos)
        return false;
    return parseNumber(text.substr(0, first), grid.tempoBpm) && grid.tempoBpm >= 30.0 && grid.tempoBpm <= 300.0 &&
           parseInteger(text.substr(first + 1, second - first - 1), 1, 8, grid.subdivision) &&
           grid.subdivision != 5 && grid.subdivision != 7 && parseNumber(text.substr(second + 1), grid.startS) &&
           grid.startS >= 0.0;
}

} // namespace

bool parseCountOptions(const std::vector<std::string>& args, CountOptions& options, std::string& error)
{
    options = CountOptions{};
    // --verify stands alone: a competition attempt is checked as it was kept.
    if (!args.empty() && args[0] == "--verify") {
        char* end = nullptr;
        errno = 0;
        const long long id = args.size() == 2 ? std::strtoll(args[1].c_str(), &end, 10) : 0;
        if (args.size() != 2 || args[1].empty() || errno != 0 || *end != '\0' || id < 1) {
            error = "--verify needs one attempt id (a whole number from 1) and nothing else";
            return false;
        }
        options.verifyId = id;
        options.mode = CountOptions::Mode::Verify;
        return true;
    }
    bool list = false, help = false, version = false, audio = false, midi = false;
    bool lineGiven = false, levelGiven = false, channelGiven = false, noteGiven = false, timeGiven = false;
    bool onlyFiles = false, detectorGiven = false;
    bool journal = false, journalRun = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            continue;
        }
        if (arg == "--version") {
            version = true;
            continue;
        }
        if (arg == "--list") {
            list = true;
            continue;
        }
        if (arg == "--report") {
            options.report = true;
            continue;
        }
        if (arg == "--journal") {
            journal = true;
            continue;
        }
        if (arg == "--journal-run") {
            long long id = 0;
            char* end = nullptr;
            errno = 0;
            if (i + 1 < args.size())
                id = std::strtoll(args[i + 1].c_str(), &end, 10);
            if (i + 1 >= args.size() || args[i + 1].empty() || errno != 0 || *end != '\0' || id < 1) {
                error = "--journal-run needs a run id (a whole number from 1, see --journal)";
                return false;
            }
            options.journalRunId = id;
            journalRun = true;
            ++i;
            continue;
        }
        static const char* const withValue[] = {"--time", "--audio", "--line", "--level", "--midi", "--channel", "--note", "--detector", "--grid"};
        bool known = false;
        for (const char* name : withValue)
            known = known || arg == name;
        if (!known) {
            error = "unknown option '" + arg + "' (see --help)";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (arg == "--time") {
            double seconds = 0;
            if (!parseNumber(value, seconds) || seconds <= 0 || seconds > 2147483.0 ||
                std::llround(seconds * 1000.0) < 1) {
                error = "--time needs a positive number of seconds, not '" + value + "'";
                return false;
            }
            options.timeLimitMs = static_cast<std::int32_t>(std::llround(seconds * 1000.0));
            timeGiven = true;
        } else if (arg == "--audio") {
            audio = true;
            options.deviceId = value;
        } else if (arg == "--midi") {
            midi = true;
            options.deviceId = value;
        } else if (arg == "--line") {
            lineGiven = true;
            options.line = value;
        } else if (arg == "--level") {
            double level = 0;
            if (!parseNumber(value, level) || level < 0.0 || level > 1.0) {
                error = "--level needs a number from 0 to 1, not '" + value + "'";
                return false;
            }
            options.level = static_cast<float>(level);
            levelGiven = true;
        } else if (arg == "--channel") {
            if (!parseInteger(value, 0, 16, options.channel)) {
                error = "--channel needs a MIDI channel from 0 (all) to 16, not '" + value + "'";
                return false;
            }
            channelGiven = true;
        } else if (arg == "--detector") {
            if (value != "standard" && value != "fast") {
                error = "--detector needs standard or fast, not '" + value + "'";
                return false;
            }
            options.fastDetector = value == "fast";
            detectorGiven = true;
        } else if (arg == "--grid") {
            GridOption grid;
            if (!parseGrid(value, grid)) {
                error = "--grid needs BPM:SUBDIVISION:START_SECONDS with BPM from 30 to 300, SUBDIVISION 1, 2, 3, "
                        "4, 6 or 8 and START_SECONDS from 0, not '" + value + "'";
                return false;
            }
            options.grid = grid;
        } else if (arg == "--note") {
            if (!parseInteger(value, 0, 127, options.note)) {
                error = "--note needs a MIDI note number from 0 to 127, not '" + value + "'";
                return false;
            }
            noteGiven = true;
        }
    }

    if (help) {
        options.mode = CountOptions::Mode::Help;
        return true;
    }
    if (version) {
        options.mode = CountOptions::Mode::Version;
        return true;
    }
    const int modes = (list ? 1 : 0) + (audio ? 1 : 0) + (midi ? 1 : 0) + (options.files.empty() ? 0 : 1) +
                      (journal ? 1 : 0) + (journalRun ? 1 : 0);
    if (modes == 0) {
        error = "nothing to count: give FILE..., --audio ID, --midi ID or --list (see --help)";
        return false;
    }
    if (modes > 1) {
        error = "give only one of FILE..., --audio, --midi, --list, --journal and --journal-run";
        return false;
    }
    if ((journal || journalRun) && timeGiven) {
        error = "--time does not apply to the journal";
        return false;
    }
    if ((lineGiven || levelGiven) && !audio) {
        error = "--line and --level apply to --audio only";
        return false;
    }
    if (levelGiven && !lineGiven) {
        error = "--level needs --line";
        return false;
    }
    if ((channelGiven || noteGiven) && !midi) {
        error = "--channel and --note apply to --midi only";
        return false;
    }
    if (detectorGiven && (midi || list || journal || journalRun)) {
        error = "--detector applies to FILE... and --audio only";
        return false;
    }
    if (timeGiven && list) {
        error = "--time does not apply to --list";
        return false;
    }
    if (options.report && (list || journal || journalRun)) {
        error = "--report does not apply to --list or the journal";
        return false;
    }
    if (options.grid && (list || journal || journalRun || audio || midi)) {
        error = "--grid applies to FILE... only";
        return false;
    }
    if (options.grid)
        options.report = true;
    options.mode = journal    ? CountOptions::Mode::Journal
                 : journalRun ? CountOptions::Mode::JournalRun
                 : list ? CountOptions::Mode::List
                 : audio ? CountOptions::Mode::Audio
                 : midi  ? CountOptions::Mode::Midi
                         : CountOptions::Mode::Files;
    return true;
}
