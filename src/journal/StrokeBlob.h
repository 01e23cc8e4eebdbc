#pragma once
// StrokeBlob: a run's strokes packed into one compact, exact byte string for
// the journal, and back.
//
// Layout (all little-endian, independent of the host):
//   byte 0    format (1)
//   byte 1    flags: bit 0 = the strokes carry notes (any not -1)
//   varint    stroke count
//   per stroke: zigzag varint of the tick minus the previous tick (the first
//               from 0, differences taken modulo 2^64 so any 64-bit ticks
//               survive), the level's 32 bits, and with notes a zigzag varint
//               of the note.
// At 20 strokes per second a sample tick difference takes 2 bytes and a
// 100 ns one 3, so a stroke costs 6 to 8 bytes instead of 16.
//
// Pure functions; any thread.

#include "trigger/StrokeEvent.h"

#include <QByteArray>

#include <optional>
#include <vector>

inline constexpr unsigned char kStrokeBlobFormat = 1;

QByteArray packStrokes(const std::vector<StrokeEvent>& strokes);
// Empty when the bytes are not a stroke blob this program can read
// (unknown format, truncated, trailing bytes, absurd count).
std::optional<std::vector<StrokeEvent>> unpackStrokes(const QByteArray& blob);
