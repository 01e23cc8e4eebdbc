#pragma once
// A device, input line or MIDI port as the device lists offer it and the
// settings store it. Copied whole; identifiers compare exactly.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct QX_Device {
    std::string Name;   // shown to the user (UTF-8)
    std::string ID;     // opens the device again; stored in the settings
    float Level = 0.0f; // input line mix level 0..1, -1.0 when unreadable; 0 for devices and ports
};

using QX_DeviceList = std::vector<QX_Device>;

// The MIDI note setting (-1 all notes, 0..127 one note) is read by the MIDI
// reader thread at every message while the user-interface thread may write
// it. The reader only needs the old or the new number, never a torn one, and
// nothing else is published through it, so relaxed order suffices on both
// sides. The setting must be aligned for std::atomic_ref.
inline std::int32_t loadMidiNoteNr(const std::int32_t& noteNr)
{
    return std::atomic_ref<const std::int32_t>(noteNr).load(std::memory_order_relaxed);
}

inline void storeMidiNoteNr(std::int32_t& noteNr, std::int32_t value)
{
    std::atomic_ref<std::int32_t>(noteNr).store(value, std::memory_order_relaxed);
}
