#pragma once
// The stopwatch clock of the main window: the scaled stopwatch picture with
// the elapsed seconds as a filled sector, the needle, and the mark of the
// recording time. Pure drawing on images, user-interface thread.
//
// Units: seconds since the measurement started, the time limit in
// milliseconds (negative: endless, no mark). Pictures are 24-bit
// QImage::Format_BGR888; the dial's centre sits at 47 % of the width and 60 %
// of the height, as on the stopwatch picture.

#include <QImage>

#include <cstdint>

// Makes `canvas` the stopwatch `face` (same size and format) with the clock
// for `seconds` drawn on it.
void composeClock(QImage& canvas, const QImage& face, std::int32_t seconds, std::int32_t timeLimitMs);

// The canvas drawn "transparent": every pixel of its bottom-left colour (the
// picture's backdrop) left out.
QImage clockOverlay(const QImage& canvas);
