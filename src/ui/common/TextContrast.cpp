#include "ui/common/TextContrast.h"

#include <algorithm>
#include <cmath>

namespace {

// sRGB channel (0..255) to linear light.
double linear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double relativeLuminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.red()) + 0.7152 * linear(rgb.green()) + 0.0722 * linear(rgb.blue());
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableGreyedText(const QColor& greyed, const QColor& background)
{
    return contrastRatio(greyed, background) >= kMinimumGreyedContrast ? greyed : kReadableGreyText;
}
