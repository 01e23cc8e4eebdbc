#include "main/ScoreGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

namespace {
constexpr int kColPitch = ScoreGrid::kColWidth + ScoreGrid::kLineWidth;
constexpr int kRowPitch = ScoreGrid::kRowHeight + ScoreGrid::kLineWidth;
// One notch of a classic wheel; finer wheels add up to it before a row moves.
constexpr int kWheelNotch = 120;
const QColor kHeaderLineColor{0, 0, 0};
const QColor kBodyLineColor{192, 192, 192};
} // namespace

ScoreGrid::ScoreGrid(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_cells(1000)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    QPalette framePalette = palette();
    framePalette.setColor(QPalette::WindowText, Qt::black);
    setPalette(framePalette);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(false);
    updateScrollBar();
}

void ScoreGrid::SetRowCount(int rows)
{
    rows = std::max(rows, kFixedRows + 1);
    m_cells.resize(static_cast<std::size_t>(rows));
    if (m_currentRow >= rows)
        m_currentRow = rows - 1;
    updateScrollBar();
    SetTopRow(m_topRow);
    viewport()->update();
}

QString ScoreGrid::Cell(int col, int row) const
{
    if (col < 0 || col >= kColCount || row < 0 || row >= RowCount())
        return {};
    return m_cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void ScoreGrid::SetCell(int col, int row, const QString& text)
{
    if (col < 0 || col >= kColCount || row < 0 || row >= RowCount())
        return;
    QString& cell = m_cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
    if (cell == text)
        return;
    cell = text;
    viewport()->update();
}

int ScoreGrid::VisibleRowCount() const
{
    // Body rows start under the header row and its line; a row counts when its
    // whole 17-pixel cell is inside the frame.
    const int height = viewport()->height();
    return std::max(0, (height - kRowHeight) / kRowPitch);
}

int ScoreGrid::maxTopRow() const
{
    return std::max(kFixedRows, RowCount() - VisibleRowCount());
}

void ScoreGrid::SetTopRow(int row)
{
    row = std::clamp(row, kFixedRows, maxTopRow());
    if (row == m_topRow && verticalScrollBar()->value() == row)
        return;
    m_topRow = row;
    m_syncingScrollBar = true;
    verticalScrollBar()->setValue(row);
    m_syncingScrollBar = false;
    viewport()->update();
}

void ScoreGrid::SetColor(QColor color)
{
    m_color = color;
    viewport()->update();
}

void ScoreGrid::SetFontColor(QColor color)
{
    m_fontColor = color;
    viewport()->update();
}

void ScoreGrid::ClearSelection()
{
    m_currentRow = -1;
    m_currentCol = -1;
}

QRect ScoreGrid::CellRect(int col, int row) const
{
    const int y = row < kFixedRows ? 0 : (row - m_topRow + kFixedRows) * kRowPitch;
    return QRect(col * kColPitch, y, kColWidth, kRowHeight);
}

void ScoreGrid::updateScrollBar()
{
    QScrollBar* bar = verticalScrollBar();
    m_syncingScrollBar = true;
    bar->setRange(kFixedRows, maxTopRow());
    bar->setSingleStep(1);
    bar->setPageStep(std::max(1, VisibleRowCount()));
    m_syncingScrollBar = false;
    m_topRow = std::clamp(m_topRow, kFixedRows, maxTopRow());
    if (bar->value() != m_topRow) {
        m_syncingScrollBar = true;
        bar->setValue(m_topRow);
        m_syncingScrollBar = false;
    }
}

void ScoreGrid::scrollContentsBy(int, int)
{
    if (m_syncingScrollBar)
        return;
    m_topRow = verticalScrollBar()->value();
    viewport()->update();
}

void ScoreGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void ScoreGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const int width = viewport()->width();
    const int height = viewport()->height();
    painter.fillRect(0, 0, width, height, m_color);

    auto drawCell = [&](int col, int row) {
        const QRect rect = CellRect(col, row);
        painter.save();
        painter.setClipRect(rect);
        if (OnDrawCell) {
            OnDrawCell(painter, col, row, rect);
        } else {
            painter.setPen(m_fontColor);
            painter.drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, Cell(col, row));
        }
        painter.restore();
    };

    int shownRows = 0;
    for (int col = 0; col < kColCount; ++col)
        drawCell(col, 0);
    for (int row = m_topRow; row < RowCount(); ++row) {
        if (CellRect(0, row).top() >= height)
            break;
        for (int col = 0; col < kColCount; ++col)
            drawCell(col, row);
        ++shownRows;
    }

    const int gridRight = kColCount * kColPitch - 1;
    painter.setPen(kBodyLineColor);
    for (int i = 1; i <= shownRows; ++i) {
        const int y = kRowHeight + i * kRowPitch;
        painter.drawLine(0, y, gridRight, y);
    }
    for (int col = 0; col < kColCount; ++col) {
        const int x = col * kColPitch + kColWidth;
        painter.drawLine(x, kRowPitch, x, height - 1);
    }
    painter.setPen(kHeaderLineColor);
    painter.drawLine(0, kRowHeight, gridRight, kRowHeight);
    for (int col = 0; col < kColCount; ++col) {
        const int x = col * kColPitch + kColWidth;
        painter.drawLine(x, 0, x, kRowHeight);
    }
}

void ScoreGrid::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (pos.y() >= kRowPitch && pos.x() < kColCount * kColPitch) {
        const int row = m_topRow + (pos.y() - kRowPitch) / kRowPitch;
        if (row < RowCount()) {
            m_currentRow = row;
            m_currentCol = pos.x() / kColPitch;
        }
    }
    if (OnMouseDown)
        OnMouseDown(event->button(), pos.x(), pos.y());
    event->accept();
}

void ScoreGrid::wheelEvent(QWheelEvent* event)
{
    m_wheelRemainder += event->angleDelta().y();
    while (m_wheelRemainder >= kWheelNotch) {
        m_wheelRemainder -= kWheelNotch;
        if (OnMouseWheelUp)
            OnMouseWheelUp();
        else
            SetTopRow(m_topRow - 1);
    }
    while (m_wheelRemainder <= -kWheelNotch) {
        m_wheelRemainder += kWheelNotch;
        if (OnMouseWheelDown)
            OnMouseWheelDown();
        else
            SetTopRow(m_topRow + 1);
    }
    event->accept();
}

void ScoreGrid::moveCurrentRow(int row)
{
    m_currentRow = std::clamp(row, kFixedRows, RowCount() - 1);
    if (m_currentCol < 0)
        m_currentCol = 0;
    const int visible = std::max(1, VisibleRowCount());
    if (m_currentRow < m_topRow)
        SetTopRow(m_currentRow);
    else if (m_currentRow >= m_topRow + visible)
        SetTopRow(m_currentRow - visible + 1);
}

void ScoreGrid::keyPressEvent(QKeyEvent* event)
{
    if (OnKeyDown)
        OnKeyDown(event);
    const int from = m_currentRow < kFixedRows ? m_topRow - 1 : m_currentRow;
    const int page = std::max(1, VisibleRowCount());
    switch (event->key()) {
    case Qt::Key_Down:
        moveCurrentRow(from + 1);
        break;
    case Qt::Key_Up:
        moveCurrentRow(m_currentRow < kFixedRows ? m_topRow : from - 1);
        break;
    case Qt::Key_PageDown:
        moveCurrentRow(from + page);
        break;
    case Qt::Key_PageUp:
        moveCurrentRow(from - page);
        break;
    case Qt::Key_Home:
        moveCurrentRow(kFixedRows);
        break;
    case Qt::Key_End:
        moveCurrentRow(RowCount() - 1);
        break;
    case Qt::Key_Left:
        m_currentCol = 0;
        break;
    case Qt::Key_Right:
        m_currentCol = kColCount - 1;
        break;
    default:
        break;
    }
    event->accept();
}
