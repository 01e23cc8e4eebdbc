#pragma once
// Counting an attempt again from what was kept of it: the audio recording
// through a fresh detector of the attempt's kind, or the MIDI events through
// a fresh MIDI device, with the attempt's recording time. The same code
// serves the Recount button and tempovaro-count --verify.
//
// Threads: any; nothing is shared. Files are read whole, then counted.

#include "trigger/StrokeEvent.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class AuditDetector { Standard, Fast, Midi };

// The strokes the detector counts in a mono 16-bit 44,100 Hz recording (any
// format libsndfile reads), or nothing when the file cannot be read or has
// another shape.
//
// A recording that begins where the live detector began is counted exactly
// as live (settleSamples 0). One cut from a longer input begins in the
// middle of the room's sound, and a detector fed that abrupt start may take
// it for a stroke: strokes before settleSamples are then not counted and do
// not start the recording time. The cut lies a second before the first
// stroke, so half a second of settling leaves every stroke of the attempt in.
inline constexpr std::int64_t kAuditSettleSamples = 22050;
std::optional<std::int32_t> recountAudioFile(const std::string& path, AuditDetector detector,
                                             std::int32_t timeLimitMs, std::int64_t settleSamples);

// The same for samples already in memory.
std::int32_t recountSamples(const std::vector<std::int16_t>& samples, AuditDetector detector,
                            std::int32_t timeLimitMs, std::int64_t settleSamples);

// MIDI: one event per line, "tick note velocity" (tick in 100 ns units).
std::string midiEventsText(const std::vector<StrokeEvent>& events);
// The events of such a text; nothing for a malformed line.
std::optional<std::vector<StrokeEvent>> parseMidiEvents(const std::string& text);
// The strokes a MIDI device counts from these events (every note accepted).
std::int32_t recountMidiEvents(const std::vector<StrokeEvent>& events, std::int32_t timeLimitMs);
