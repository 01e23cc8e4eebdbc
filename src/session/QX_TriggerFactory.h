#pragma once
// Builds the trigger device that a set of device settings describes. The
// measurement session builds every device through here (the device dialog's
// preview too), so tests can hand it a device they feed themselves.

#include "analysis/RunRecord.h"
#include "persistence/QX_Global.h"
#include "trigger/QX_TriggerDevice.h"

#include <functional>
#include <memory>

// Audio (type 1): the device for AudioDevice.ID, with the detector that
// AudioDetector names, with SetInputLine(line, level) applied; MIDI (type 2): the port for MidiDevice.ID with the channel of
// MidiChannel.ID (0 for empty or non-numeric text), filtering on the global
// DeviceProperties.MidiNoteNr; any other type: none. Not started.
std::unique_ptr<TQX_TriggerDevice> CreateTriggerDevice(const TQX_DeviceProperties& Properties);

// The device the settings describe, as a run records it: its stable ID, the
// name the drummer saw (the ID when no name was kept), and the line and
// detector (audio) or channel and note (MIDI) that counted.
RunDevice runDeviceFromSettings(const TQX_DeviceProperties& Properties);

// The channel number in MidiChannel.ID: a decimal integer, else 0 (all channels).
std::int32_t MidiChannelNumber(const std::string& channelID);

// Replaces the construction above until reset with an empty function.
using TriggerDeviceFactory = std::function<std::unique_ptr<TQX_TriggerDevice>(const TQX_DeviceProperties&)>;
void SetTriggerDeviceFactory(TriggerDeviceFactory factory);
