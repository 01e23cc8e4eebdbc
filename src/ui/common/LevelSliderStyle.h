#pragma once
// LevelSliderStyle: the look of the device dialog's input level bar. Set on
// that one slider; the slider owns it (it is the slider's child).
//
// - The thumb is kThumbLengthPx long along the bar, wherever the style would
//   draw its own length; drawing, hit-testing and the value under the mouse
//   all take the length from pixelMetric, so they agree.
// - The bar's minimum is its top (full level), but styles that colour the
//   groove fill it from the minimum to the thumb, which would grow the fill as
//   the level falls. Drawing the mirrored value on the mirrored axis puts the
//   thumb and the ticks on the same pixels and lets the fill rise from the
//   bottom with the level.
//
// User-interface thread only. Units: pixels.

#include <QProxyStyle>

class LevelSliderStyle : public QProxyStyle {
public:
    static constexpr int kThumbLengthPx = 26;

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};
