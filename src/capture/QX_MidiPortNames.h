#pragma once
// How MIDI input ports are named and identified in the port list. The ID is
// GUID text derived from the back-end and the port's name, so a stored ID
// finds the same port after a restart or a replug.

#include <string>

// Our client name on the MIDI back-ends.
inline constexpr const char* kMidiClientName = "Tempovaro";

// True for a port of a client of ours ("Tempovaro", or "Tempovaro-01" as JACK
// names a second client of the same name).
bool isOwnMidiPort(const std::string& rawName);

// The name a person knows: ALSA's "client:port 20:0" without the sequencer
// address, which changes between sessions; other back-ends' names as they are.
std::string midiPortPersonName(bool alsa, const std::string& rawName);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case, from the back-end's
// name ("alsa", "jack"), the person name, and which same-named port this is
// (0 for the first).
std::string midiPortID(const std::string& apiName, const std::string& name, int duplicate);

// 38 characters: braces around 8-4-4-4-12 hexadecimal digits (either case).
bool isGuidText(const std::string& text);
