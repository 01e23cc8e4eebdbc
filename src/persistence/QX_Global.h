#pragma once
// The state that survives between runs: the trigger device settings, the
// main window's 68-byte program settings block, and the table of 1000 scores
// with its file "Tempovaro.qxs" in the working directory.
//
// Threads: everything here belongs to the user-interface thread, except
// DeviceProperties.MidiNoteNr, which the MIDI reader thread reads at every
// message (see TQX_DeviceProperties).

#include "trigger/QX_Tuning.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <QByteArray>
#include <QDateTime>
#include <QString>

// Trigger device settings. Copied whole by the device dialog. MidiNoteNr is
// read by the MIDI reader thread while the user-interface thread may assign
// the record, so copying stores and loads that one field atomically.
struct TQX_DeviceProperties {
    std::int32_t TriggerDeviceType = 0; // 1 audio, 2 MIDI, other: none
    QX_Device AudioDevice;              // ID and, once known, Name are stored
    QX_Device AudioChannel;             // Name = ID = line name; Level = input level 0..1
    QX_Device MidiDevice;               // ID and, once known, Name are stored
    QX_Device MidiChannel;              // ID: "0" (all) .. "16"
    // -1 all notes, 0..127 one note
    alignas(std::atomic_ref<std::int32_t>::required_alignment) std::int32_t MidiNoteNr = 0;
    // Which detector an audio device runs (stored as "AudioDetector"; a store
    // without it, or with a value of another type or number, means Standard).
    std::int32_t AudioDetector = 0;

    TQX_DeviceProperties() = default;
    TQX_DeviceProperties(const TQX_DeviceProperties& other);
    TQX_DeviceProperties& operator=(const TQX_DeviceProperties& other);

    std::int32_t loadMidiNoteNr() const;        // atomic read, any thread
    void storeMidiNoteNr(std::int32_t noteNr);  // atomic write, user-interface thread
};

// TQX_DeviceProperties::TriggerDeviceType; any other value means no device.
inline constexpr std::int32_t kTriggerDeviceAudio = 1;
inline constexpr std::int32_t kTriggerDeviceMidi = 2;

// TQX_DeviceProperties::AudioDetector.
inline constexpr std::int32_t kAudioDetectorStandard = 0;
inline constexpr std::int32_t kAudioDetectorFast = 1;

// The main window's settings, stored byte for byte as the binary value "Program".
struct TQX_ProgramSettings {
    std::int32_t DisplayMode;   // 0 count, 1 BPM, 2 frequency
    std::int32_t WindowWidth;   // outer size in pixels
    std::int32_t WindowHeight;
    std::uint8_t Maximized;
    std::uint8_t Padding1[3];
    std::int32_t TimeLimit;     // ms: 10000..60000, -1 endless
    std::int32_t SortByStrokes; // 1 by strokes, 0 by date
    std::uint8_t ShowClock;
    std::uint8_t ShowScores;
    std::uint8_t AutoReset;
    std::uint8_t Padding2;
    float BpmFactor;            // 1.0 or 0.25
    std::uint8_t Reserved[36];  // kept as read
};
static_assert(sizeof(TQX_ProgramSettings) == 68);
static_assert(offsetof(TQX_ProgramSettings, DisplayMode) == 0);
static_assert(offsetof(TQX_ProgramSettings, WindowWidth) == 4);
static_assert(offsetof(TQX_ProgramSettings, WindowHeight) == 8);
static_assert(offsetof(TQX_ProgramSettings, Maximized) == 12);
static_assert(offsetof(TQX_ProgramSettings, TimeLimit) == 16);
static_assert(offsetof(TQX_ProgramSettings, SortByStrokes) == 20);
static_assert(offsetof(TQX_ProgramSettings, ShowClock) == 24);
static_assert(offsetof(TQX_ProgramSettings, ShowScores) == 25);
static_assert(offsetof(TQX_ProgramSettings, AutoReset) == 26);
static_assert(offsetof(TQX_ProgramSettings, BpmFactor) == 28);
static_assert(offsetof(TQX_ProgramSettings, Reserved) == 32);

// TQX_ProgramSettings::DisplayMode.
inline constexpr std::int32_t kDisplayModeCount = 0;
inline constexpr std::int32_t kDisplayModeBpm = 1;
inline constexpr std::int32_t kDisplayModeFrequency = 2;

// TQX_ProgramSettings::TimeLimit: the Time menu's recording times, shortest
// first, and Endless. Any negative limit runs without end.
inline constexpr std::array<std::int32_t, 6> kTimeLimitsMs{10000, 20000, 30000, 40000, 50000, 60000};
inline constexpr std::int32_t kTimeLimitEndless = -1;

// The click's settings, kept by the click window. Stored as values after the
// eight above ("ClickWithMeasurement", "ClickTempo", "ClickSubdivision", "ClickAccent",
// "ClickCountIn", "ClickBarsOn", "ClickBarsOff", "ClickVolume",
// "ClickDeviceID", "ClickLatencyUs", "ClickMidiLatencyUs",
// "ClickMidiSpreadUs"); a store without them keeps its eight
// values only, and a missing, mistyped or out-of-range one reads as its
// default here, never failing the load.
struct TQX_ClickSettings {
    bool WithMeasurement = false;     // the click starts with each measurement
    std::int32_t TempoBpm = 120;      // 30..300
    std::int32_t Subdivision = 1;     // grid points per beat: 1, 2, 3, 4, 6, 8
    bool Accent = true;               // the bar's first beat stands out
    bool CountIn = true;              // one bar of beats before the grid
    std::int32_t BarsOn = 4;          // bars with the click ...
    std::int32_t BarsOff = 0;         // ... then bars without it (0: never silent)
    std::int32_t VolumePercent = 80;  // 0..100
    std::string DeviceID;             // ALSA playback PCM; empty: "default"
    std::int32_t LatencyUs = 0;       // output-to-input offset a calibration measured
    // A MIDI trigger's offset, tapped along to the click, and the taps'
    // spread: kept apart from the audio one, as it holds the pad's delay and
    // the drummer's own way of meeting the click, which a loopback never has.
    std::int32_t MidiLatencyUs = 0;
    std::int32_t MidiSpreadUs = 0;    // 0: never tapped

    // The offset strokes of this trigger type are timed with.
    std::int32_t latencyUsFor(std::int32_t triggerDeviceType) const
    {
        return triggerDeviceType == kTriggerDeviceMidi ? MidiLatencyUs : LatencyUs;
    }

    bool operator==(const TQX_ClickSettings&) const = default;
};

extern TQX_DeviceProperties DeviceProperties;
extern TQX_ProgramSettings ProgramSettings;
extern TQX_ClickSettings ClickSettings;

// Reads "Software\Tempovaro" from the per-user store into ProgramSettings and
// DeviceProperties; false when a value could not be read (the values read
// before it keep their new contents, the later ones their defaults). Values
// come back as stored: a damaged store can hold any window size, time limit
// or level (NaN and infinities included), so users of them range-check.
bool LoadSettings();
// Writes both records; false when the store could not be written, in which
// case the previous store file is left whole. Values and keys this version
// does not know are kept. A store file that cannot be read is first moved to
// the first free "settings.json.bak", ".bak1", ...; when that fails, nothing
// is written over it and the result is false.
bool SaveSettings();
// The store file: $XDG_CONFIG_HOME/Tempovaro/settings.json (default
// ~/.config), looked up anew at every call.
QString settingsFilePath();

// One finished measurement.
struct TQX_Score {
    std::int32_t Strokes;
    std::int32_t Seconds; // recording time category: 10..60
    double Date;          // days since 30 December 1899, time of day as fraction
};
static_assert(sizeof(TQX_Score) == 16);

inline constexpr int MaxScores = 1000;
extern std::array<TQX_Score, MaxScores> Scores;

void AddScore(TQX_Score score);
std::int32_t GetBestScore(std::int32_t Seconds);
void SortScoresByStrokes(int L, int R);
void SortScoresByDate(int L, int R);
// Reads "Tempovaro.qxs" from the working directory; false only when there is
// no such file. An existing file that cannot be read is renamed to
// "Tempovaro.qxs.bak" (or .bak1, .bak2, ...) so that SaveScores cannot wipe it.
bool LoadScores();
// Replaces "Tempovaro.qxs" with the table (a new file renamed over the old, so
// a failed write leaves the old file whole). Always true.
bool SaveScores();
inline constexpr const char* kScoreFileName = "Tempovaro.qxs";

// A score file's first 16,000 bytes, read without changing or moving the
// file: LoadScores reads through it, and the journal's import reads a score
// file it must leave exactly as it found it.
struct ScoreFileBytes {
    enum class State { Missing, Unreadable, Read };
    State state = State::Missing;
    QByteArray bytes;      // at most 16,000
    qint64 fileBytes = 0;  // the file's whole size
};
ScoreFileBytes readScoreFile(const QString& path);
// The scores of a whole, well-formed file, empty slots left out, in file
// order; nothing when the file is short or any slot holds values the program
// never writes (a recording time other than 10..60 s, a negative count, a
// date that is not a finite day between 1899 and 9999).
std::optional<std::vector<TQX_Score>> parseScoreFile(const QByteArray& bytes);

// The current local date and time as days since 30 December 1899.
double nowAsDate();
// A local date and time as days since 30 December 1899, time of day as fraction.
double dateTimeToDate(const QDateTime& local);
