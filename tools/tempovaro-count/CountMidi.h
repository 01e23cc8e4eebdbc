#pragma once
// MIDI input for tempovaro-count, kept apart so builds without MIDI support
// replace only CountMidi.cpp.

#include <cstdint>
#include <cstdio>
#include <string>

// Counts Note On messages from portId live (channel 0 = all, note -1 = all,
// timeLimitMs -1 = endless) and prints them like the audio mode. Returns the
// program's exit status: 0, or 1 when the port cannot be found or opened, or
// stops delivering (its JACK server or source went away; the summary then
// covers the time until then). With report, the run's figures are printed
// at the end instead of each stroke.
int countMidiLive(const std::string& portId, int channel, int note /* -1 = all */, std::int32_t timeLimitMs,
                  bool report);

// Prints the MIDI input ports, one per line.
void listMidiPorts(std::FILE* out);
