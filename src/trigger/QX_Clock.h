#pragma once
// The millisecond tick: a monotonic count of milliseconds truncated to 32 bits,
// so it wraps every 49.7 days. Callers take every difference modulo 2^32.
//
// Tests and the command-line tool replace the source with setTickSource();
// the source is a plain function so any thread can read the tick without a
// lock. Set it before starting capture threads and restore it (nullptr) after.

#include <cstdint>

using TickSource = std::uint32_t (*)();

std::uint32_t tickCountMs();
void setTickSource(TickSource source);
