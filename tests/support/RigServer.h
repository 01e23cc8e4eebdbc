#pragma once
// The sound server a rig test plays through, chosen when its program is
// built: one source, one program per server. PulseAudio unless the program
// is built with TEMPOVARO_RIG_PIPEWIRE.

#ifdef TEMPOVARO_RIG_PIPEWIRE
#include "PipeWireServer.h"
using RigServer = PipeWireServer;
inline constexpr const char* kRigDevice = "pipewire";
#else
#include "PulseServer.h"
using RigServer = PulseServer;
inline constexpr const char* kRigDevice = "pulse";
#endif
