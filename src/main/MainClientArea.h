#pragma once
// The main window's client area (private to the window's own files).

#include "main/QX_Main.h"
#include "ui/common/QX_Palette.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

// The client area: paints the background and the clock and reports its size
// changes, which drive the whole layout.
class TMainForm::ClientArea : public QWidget {
public:
    explicit ClientArea(TMainForm* form)
        : QWidget(form)
        , m_form(form)
    {
        setObjectName(QStringLiteral("ClientArea"));
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), kWindowColor);
        if (!m_form->m_image6.isNull())
            painter.drawImage(event->rect(), m_form->m_image6, event->rect());
        m_form->FormPaint(painter, event->rect());
    }
    void resizeEvent(QResizeEvent*) override { m_form->FormResize(); }
    // A click beside the figure ends whatever the menu bar kept of the keyboard.
    void mousePressEvent(QMouseEvent* event) override
    {
        m_form->giveKeysToScoreList();
        QWidget::mousePressEvent(event);
    }

private:
    TMainForm* m_form;
};
