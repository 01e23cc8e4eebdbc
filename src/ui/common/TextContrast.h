#pragma once
// Keeps greyed text readable: the style's colour for disabled text is made
// for its own light grey windows and all but vanishes on our pale blues.
// Pure functions on opaque colours (alpha is ignored), any thread.

#include <QColor>

// The mid grey our windows use for greyed text where the style's own is too pale.
inline const QColor kReadableGreyText{128, 128, 128};

// Greyed text needs at least this contrast to its background (the legibility
// floor for large or incidental text in the web accessibility guidelines).
inline constexpr double kMinimumGreyedContrast = 3.0;

// The contrast ratio of the accessibility guidelines: (L1 + 0.05) / (L2 + 0.05)
// of the relative luminances of the sRGB colours, lighter over darker; 1 for
// equal colours, 21 for black on white.
double contrastRatio(const QColor& a, const QColor& b);

// `greyed` where it keeps kMinimumGreyedContrast against `background`,
// otherwise kReadableGreyText.
QColor readableGreyedText(const QColor& greyed, const QColor& background);
