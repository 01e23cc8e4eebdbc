#pragma once
// Live counting from an ALSA capture device, and the device list.

#include <cstdint>
#include <cstdio>
#include <string>

// Returns the exit status: 0, or 1 when the device cannot be opened.
// With report, the run's figures are printed at the end instead of each stroke.
int countAudioLive(const std::string& deviceId, const std::string& line, float level, std::int32_t timeLimitMs,
                   bool fastDetector, bool report);

void listAudioDevices(std::FILE* out);

// Set by SIGINT: live modes end with their summary.
bool interruptRequested();
void installInterruptHandler();
