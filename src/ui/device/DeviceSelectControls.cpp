#include "ui/device/DeviceSelectControls.h"

#include <QColor>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace DeviceControls {

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    l->move(left, top);
    l->adjustSize();
    return l;
}

QComboBox* listBox(QWidget* parent, const char* name, int top, int rows)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(false);
    box->setMaxVisibleItems(rows);
    box->setGeometry(96, top, 233, 21);
    return box;
}

QRadioButton* radio(QWidget* parent, const char* name, const QString& text, QRect geometry)
{
    auto* button = new QRadioButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    return button;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    // No button is the dialog's default: Enter presses only a focused button
    // (see keyPressEvent), never OK from inside a list.
    b->setAutoDefault(false);
    return b;
}

QPixmap markPicture()
{
    QImage image(5, 10, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < 10; ++y) {
        const int lastColumn = std::min(std::min(y, 9 - y), 4);
        for (int x = 0; x <= lastColumn; ++x)
            image.setPixelColor(x, y, QColor(255, 0, 0));
    }
    return QPixmap::fromImage(image);
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette pal = widget->palette();
    if (pal.color(QPalette::Active, QPalette::WindowText) == color
        && pal.color(QPalette::Inactive, QPalette::WindowText) == color && widget->testAttribute(Qt::WA_SetPalette))
        return;
    pal.setColor(QPalette::Active, QPalette::WindowText, color);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, color);
    widget->setPalette(pal);
}

} // namespace DeviceControls
