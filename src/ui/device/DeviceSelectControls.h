#pragma once
// Small builders for the device dialog's controls, each placed at the fixed
// position the dialog's layout gives it.

#include <QRect>
#include <QString>

class QColor;
class QComboBox;
class QLabel;
class QPixmap;
class QPushButton;
class QRadioButton;
class QWidget;

namespace DeviceControls {

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top);
// A drop-down list at the dialog's list column.
QComboBox* listBox(QWidget* parent, const char* name, int top, int rows);
QRadioButton* radio(QWidget* parent, const char* name, const QString& text, QRect geometry);
// A push button that is never the dialog's default.
QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry);
// The red mark beside the meter: a triangle pointing right, 5 x 10 pixels,
// everything else transparent.
QPixmap markPicture();
// The colour of an enabled label; a disabled one keeps the greyed look.
void setTextColor(QWidget* widget, const QColor& color);

} // namespace DeviceControls
