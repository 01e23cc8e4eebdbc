#pragma once
// RunRecord: one measurement run as the journal stores it and the run report
// shows it: when it started, how it was set up, how it ended and every
// counted stroke at the device's exact tick. Plain data, no Qt, so the
// window, the journal and the command-line tool share it.

#include "trigger/StrokeEvent.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class RunResult : std::int32_t {
    CutShort = 0,   // a timed run reset or closed before its end
    Finished = 1,   // a timed run that reached its end and made a score
    Record = 2,     // a finished run whose score was a new record
    Stopped = 3,    // an endless run, ended by a reset (its normal end) or by closing
    DeviceLost = 4, // the trigger device stopped delivering during the run; no score
};

// How a run ended, as the windows and the journal's exports write it.
inline const char* runResultName(RunResult result)
{
    switch (result) {
    case RunResult::Record:
        return "Record";
    case RunResult::Finished:
        return "Finished";
    case RunResult::Stopped:
        return "Stopped";
    case RunResult::DeviceLost:
        return "Device lost";
    case RunResult::CutShort:
        break;
    }
    return "Cut short";
}

// The result stored as a number; an unknown number reads as cut short.
inline RunResult runResultFromCode(std::int32_t code)
{
    return code >= 0 && code <= static_cast<std::int32_t>(RunResult::DeviceLost) ? static_cast<RunResult>(code)
                                                                                   : RunResult::CutShort;
}

// What counted a run; stored as these numbers, which are the trigger device
// types of the settings. Any other number (a run imported from the score
// list) names no device.
enum class DeviceType : std::int32_t { None = 0, Audio = 1, Midi = 2 };
// Which audio detector counted a run; stored as these numbers.
enum class AudioDetector : std::int32_t { Standard = 0, Fast = 1 };

struct RunDevice {
    DeviceType type = DeviceType::None;
    std::string name;        // the device's name as listed
    std::string line;        // audio: the input line; empty for MIDI
    std::int32_t channel = 0; // MIDI: 1..16, 0 = all channels
    std::int32_t note = -1;   // MIDI: the one counted note, -1 = all notes
    AudioDetector detector = AudioDetector::Standard; // audio only
    // The device's stable ID (the ALSA PCM name, the MIDI port's GUID),
    // which stays the same when its listed name changes; may be empty.
    std::string id;
};

// The click a run was played against, on the run's own stroke clock, so
// its strokes can be timed again from what the journal keeps.
struct RunClick {
    double tempoBpm = 120.0;
    std::int32_t subdivision = 1;  // grid points per beat: 1, 2, 3, 4, 6 or 8
    std::int32_t beatsPerBar = 4;
    std::int32_t barsOn = 1;       // bars with the click, then ...
    std::int32_t barsOff = 0;      // ... bars without it (0: never silent)
    // The first grid point after the count-in, in the run's ticks, with the
    // calibrated output-to-input offset already in it.
    double gridStartTick = 0.0;
    std::int32_t latencyUs = 0;    // that offset, for the record
    // How much faster the stroke clock ran than the click's output, in
    // parts per million: one grid step lasts (1 + clockPpm / 1e6) nominal
    // steps of ticks. 0 on one clock.
    double clockPpm = 0.0;

    bool operator==(const RunClick&) const = default;
};

struct RunRecord {
    std::int64_t id = 0;                 // journal row id, 0 before it is stored
    std::int64_t startUtcMs = 0;         // milliseconds since 1970-01-01 UTC
    std::int32_t recordingTimeMs = -1;   // the chosen recording time, -1 endless
    bool ranToEnd = false;               // a timed run that reached its end
    std::int32_t count = 0;              // the strokes the device counted
    RunResult result = RunResult::CutShort;
    RunDevice device;
    std::int64_t ticksPerSecond = kAudioTicksPerSecond;
    std::uint64_t droppedEvents = 0;     // strokes counted but whose event was lost
    std::vector<StrokeEvent> strokes;    // in order; empty for runs imported from a score list
    std::optional<RunClick> click;       // the click it was played against, if any
    // A competition attempt kept with its audit recording: the attempt's id
    // in the audit folder and its digest; 0 and empty for any other run.
    std::int64_t auditAttemptId = 0;
    std::string auditDigest;
};
