#pragma once
// A device, input line or MIDI port as the device lists offer it and the
// settings store it. Copied whole; identifiers compare exactly.

#include <string>
#include <vector>

struct QX_Device {
    std::string Name;   // shown to the user (UTF-8)
    std::string ID;     // opens the device again; stored in the settings
    float Level = 0.0f; // input line mix level 0..1, -1.0 when unreadable; 0 for devices and ports
};

using QX_DeviceList = std::vector<QX_Device>;
