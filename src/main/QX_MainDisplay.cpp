// The main window's display: the figure and its unit in the colours of the
// measurement's state, the stopwatch, the hint line, and the layout that
// places them in proportion to the client area.

#include "main/QX_Main.h"

#include "main/DisplayText.h"
#include "main/MainClientArea.h"
#include "main/MainMenu.h"
#include "main/MainWindowLayout.h"
#include "main/ScoreGrid.h"
#include "main/StopwatchClock.h"
#include "persistence/QX_Global.h"
#include "ui/common/QX_Graphics.h"

#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int kSmallFigureAbove = 9999;
const QColor kFigureLight{151, 160, 176};
const QColor kFigureRunning{0, 0, 0};
const QColor kFigureRecord{222, 0, 0};
const QColor kUnitColor{171, 184, 204};
} // namespace

void TMainForm::FormPaint(QPainter& painter, const QRect& dirty)
{
    if (m_image4.isNull() || !dirty.intersects(m_image4.rect()))
        return;
    if (m_clockPaintPending) {
        // The paint DrawClock asked for shows the picture it has just composed;
        // forcing a new one here would redraw the clock at every tick.
        m_clockPaintPending = false;
    } else {
        m_paintingClient = true;
        ClockDrawnSeconds = -1;
        DrawClock();
        ClockDrawnSeconds = -1;
        m_paintingClient = false;
    }
    if (ProgramSettings.ShowClock && !m_clockOverlay.isNull())
        painter.drawImage(0, 0, m_clockOverlay);
}

int TMainForm::clientWidth() const
{
    return m_client->width();
}

int TMainForm::clientHeight() const
{
    return m_client->height();
}

void TMainForm::setLabelText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

void TMainForm::setLabelFontSize(QLabel* label, int points)
{
    QFont font = label->font();
    font.setPointSize(std::max(1, points));
    label->setFont(font);
    label->adjustSize();
}

void TMainForm::setLabelColor(QLabel* label, QColor color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

void TMainForm::placeValueLabelTop()
{
    LabelValue->move(LabelValue->x(), roundEven(clientHeight() * 0.42) - LabelValue->height() / 2);
}

void TMainForm::centreLabel(QLabel* label)
{
    label->move(clientWidth() / 2 - label->width() / 2, label->y());
}

void TMainForm::showState(TMeasureState NewState)
{
    switch (NewState) {
    case msReady:
        setLabelColor(LabelValue, kFigureLight);
        setLabelFontSize(LabelValue, ValueFontSize);
        placeValueLabelTop();
        break;
    case msRunning:
        setLabelColor(LabelValue, kFigureRunning);
        break;
    case msFinished:
        setLabelColor(LabelValue, kFigureLight);
        break;
    case msRecord:
        setLabelColor(LabelValue, ProgramSettings.DisplayMode == kDisplayModeCount ? kFigureRecord : kFigureLight);
        break;
    case msUndefined:
        break;
    }
}

void TMainForm::showHint(const QString& hint)
{
    setLabelText(m_deviceHint, hint);
    m_deviceHint->setVisible(!hint.isEmpty());
    placeDeviceHint();
}

void TMainForm::placeDeviceHint()
{
    m_deviceHint->move(clientWidth() / 2 - m_deviceHint->width() / 2,
                       roundEven(clientHeight() * 0.93) - m_deviceHint->height() / 2);
}

QString TMainForm::deviceHint() const
{
    return m_deviceHint->isHidden() ? QString() : m_deviceHint->text();
}

void TMainForm::showValue(std::int32_t count, float strokesPerSecond, bool newStroke)
{
    switch (ProgramSettings.DisplayMode) {
    case kDisplayModeCount:
        if (newStroke)
            showCount(count);
        break;
    case kDisplayModeBpm: {
        const float bpm = strokesPerSecond * 60.0f * ProgramSettings.BpmFactor;
        setLabelText(LabelValue, FormatFixed(bpm, 4, 0, QLocale::system().decimalPoint()));
        break;
    }
    case kDisplayModeFrequency:
        setLabelText(LabelValue, FormatFixed(strokesPerSecond, 3, 1, QLocale::system().decimalPoint()));
        break;
    default:
        break;
    }
    centreLabel(LabelValue);
}

void TMainForm::showClock(std::int32_t seconds)
{
    ClockSeconds = seconds;
    DrawClock();
}

void TMainForm::showCount(std::int32_t count)
{
    if (count > kSmallFigureAbove) {
        setLabelFontSize(LabelValue, ValueFontSizeSmall);
        placeValueLabelTop();
    }
    setLabelText(LabelValue, QString::number(count));
    centreLabel(LabelValue);
}

void TMainForm::ApplyDisplayMode()
{
    ResultGrid->setVisible(ProgramSettings.ShowScores != 0);
    switch (ProgramSettings.DisplayMode) {
    case kDisplayModeCount:
        setLabelText(LabelUnit, QStringLiteral("Strokes"));
        setLabelText(LabelValue, QStringLiteral("0"));
        m_menu->Count->setChecked(true);
        break;
    case kDisplayModeBpm:
        setLabelText(LabelUnit, ProgramSettings.BpmFactor == 0.25f ? QStringLiteral("BPM@16th") : QStringLiteral("BPM"));
        setLabelText(LabelValue, QStringLiteral("0"));
        m_menu->Speed->setChecked(true);
        break;
    case kDisplayModeFrequency:
        setLabelText(LabelUnit, QStringLiteral("Hz"));
        setLabelText(LabelValue, QStringLiteral("0.0"));
        m_menu->Frequency->setChecked(true);
        break;
    default:
        break;
    }
    centreLabel(LabelUnit);
}

void TMainForm::DrawClock()
{
    if (!ProgramSettings.ShowClock)
        return;
    if (ClockSeconds == ClockDrawnSeconds)
        return;
    ClockDrawnSeconds = ClockSeconds;
    if (m_image3.isNull() || m_image4.isNull())
        return;

    composeClock(m_image4, m_image3, ClockSeconds, ProgramSettings.TimeLimit);
    m_clockOverlay = clockOverlay(m_image4);
    ++m_clockDrawCount;
    if (!m_paintingClient) {
        m_clockPaintPending = true;
        m_client->update(m_image4.rect());
    }
}

void TMainForm::FormResize()
{
    const int cw = clientWidth();
    const int ch = clientHeight();

    ValueFontSize = roundEven(ch * 0.24);
    ValueFontSizeSmall = roundEven(ch * 0.12);
    setLabelFontSize(LabelValue, ValueFontSize);
    setLabelFontSize(LabelUnit, roundEven(cw * 0.025));
    LabelValue->move(cw / 2 - LabelValue->width() / 2, LabelValue->y());
    LabelUnit->move(cw / 2 - LabelUnit->width() / 2, LabelUnit->y());
    LabelValue->move(LabelValue->x(), roundEven(ch * 0.42) - LabelValue->height() / 2);
    LabelUnit->move(LabelUnit->x(), roundEven(ch * 0.7) - LabelUnit->height() / 2);

    if (!ResampleBitmap(m_image1, 0, 0, m_image1.width(), m_image1.height(), m_image6, cw, ch)) {
        // No background picture (or no room): the window colour shows instead.
        m_image6 = QImage();
    }

    const int faceWidth = roundEven(cw * 0.22);
    const int faceHeight = roundEven(faceWidth * 1.342);
    if (faceWidth > 0 && faceHeight > 0) {
        m_image3 = QImage(faceWidth, faceHeight, QImage::Format_BGR888);
        m_image3.fill(Qt::black);
        if (!m_image2.isNull()) {
            QPainter painter(&m_image3);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter.drawImage(QRect(0, 0, faceWidth, faceHeight), m_image2);
        }
        m_image4 = QImage(faceWidth, faceHeight, QImage::Format_BGR888);
    } else {
        m_image3 = QImage();
        m_image4 = QImage();
    }

    const int gridHeight = (roundEven(ch * 0.64) / 18) * 18 + 1;
    const int gridLeft = std::min(roundEven(cw * 0.85), cw - 140);
    const int gridTop = roundEven(ch * 0.11);
    ResultGrid->setGeometry(gridLeft, gridTop, 140, gridHeight);
    ResultGrid->ClearSelection();

    PanelCategory->setGeometry(ResultGrid->x(), ResultGrid->y() + ResultGrid->height() - 1, ResultGrid->width(), 19);
    PanelCategoryText->setGeometry(1, 2, PanelCategory->width() - 2, PanelCategory->height() - 2);

    setLabelColor(LabelUnit, kUnitColor);
    placeDeviceHint();

    ClockDrawnSeconds = -1;
    DrawClock();
    ClockDrawnSeconds = -1;
    m_client->update();
}
