#pragma once
// Pixel helpers on QImage, shared by the main window (background, stopwatch
// needle) and the level meter (tube pictures).
//
// A 24-bit picture is QImage::Format_BGR888: three bytes blue, green, red per
// pixel. A 32-bit picture is Format_RGB32 or Format_ARGB32, read as the bytes
// blue, green, red, unused on this little-endian platform. Rows are reached
// through scanLine(), since QImage pads every row to a multiple of 4 bytes.
//
// All functions are for the user-interface thread (or any one thread per
// image); they keep no state between calls.

#include <QtGlobal>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>

// Scales the rectangle (SrcLeft, SrcTop, SrcWidth, SrcHeight) of Source to a
// new 24-bit Dest of DestWidth x DestHeight with a bicubic filter in fixed
// point. Destination pixels whose 4x4 neighbourhood would leave the source
// take the nearest source pixel instead. Returns false, leaving Dest as it
// was, when any size is below 1 or Source is neither 24 nor 32 bits.
// Source and Dest may be the same image.
bool ResampleBitmap(const QImage& Source, int SrcLeft, int SrcTop, int SrcWidth, int SrcHeight,
                    QImage& Dest, int DestWidth, int DestHeight);

// Draws the line from (X1, Y1) to (X2, Y2) (rounded to whole pixels) in Color
// (0x00BBGGRR, red in the low byte). Slanted lines are anti-aliased by
// spreading each step over two pixels; horizontal and vertical lines are
// drawn with a plain 1-pixel pen and leave out their end point.
void DrawSmoothLine(QImage& Bitmap, quint32 Color, float X1, float Y1, float X2, float Y2);

// Mixes (R, G, B) into the pixel (X, Y) with weight Alpha (1 = the colour,
// 0 = unchanged). Pixels outside the image are left alone.
void BlendPixel(QImage& Bitmap, int X, int Y, quint8 R, quint8 G, quint8 B, double Alpha);

// One of the built-in pictures ("BACKGROUND", "STOPWATCH", "ICON", "ABOUT",
// "BAROMETER", "BARO_OFF", with or without the ":/" prefix) as a 24-bit
// image; a null image when it is missing or damaged.
QImage LoadPicture(const QString& resourceName);

namespace qx_graphics_detail {

// The cubic convolution kernel (a = -0.75) over distances 0..2, in 2048
// steps, scaled by 1024 and rounded half to even.
using KernelTable = std::array<std::int32_t, 2048>;
KernelTable BuildKernelTable();

// Index of a distance in the kernel table (the distance is a 32-bit float).
int KernelIndex(float Distance);

// A headerless 24-bit device-independent bitmap (40-byte information header,
// bottom-up rows padded to 4 bytes) as a 24-bit image; null when malformed.
QImage DecodeDib(const QByteArray& Bytes);

} // namespace qx_graphics_detail
