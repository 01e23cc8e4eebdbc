#include "ui/common/LevelSliderStyle.h"

#include <QStyleOptionSlider>

int LevelSliderStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    if (metric == PM_SliderLength)
        return kThumbLengthPx;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

void LevelSliderStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                          QPainter* painter, const QWidget* widget) const
{
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    QStyleOptionSlider mirrored(*slider);
    mirrored.upsideDown = !slider->upsideDown;
    mirrored.sliderPosition = slider->maximum - (slider->sliderPosition - slider->minimum);
    mirrored.sliderValue = slider->maximum - (slider->sliderValue - slider->minimum);
    QProxyStyle::drawComplexControl(control, &mirrored, painter, widget);
}
