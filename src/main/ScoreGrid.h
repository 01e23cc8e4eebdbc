#pragma once
// ScoreGrid: a small string grid for the score list. Two columns of 59 pixels,
// rows of 17 pixels with one-pixel lines between cells, a header row that
// stays put, a vertical scroll bar and a one-pixel frame. The owner paints the
// cells and handles clicks, keys and the wheel through the On* hooks; the grid
// keeps the cell texts, the top visible row and a current cell that is never
// drawn (the score list shows no selection).
//
// Threads: user-interface thread only. Coordinates given to the hooks are
// relative to the inside of the frame; rows count the header as row 0.

#include <QAbstractScrollArea>
#include <QColor>
#include <QString>

#include <array>
#include <functional>
#include <vector>

class ScoreGrid : public QAbstractScrollArea {
public:
    static constexpr int kColCount = 2;
    static constexpr int kColWidth = 59;
    static constexpr int kRowHeight = 17;
    static constexpr int kLineWidth = 1;
    static constexpr int kFixedRows = 1;

    explicit ScoreGrid(QWidget* parent = nullptr);

    int RowCount() const { return static_cast<int>(m_cells.size()); }
    void SetRowCount(int rows);
    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString& text);

    // First body row shown under the header (1 when scrolled to the top).
    int TopRow() const { return m_topRow; }
    void SetTopRow(int row);
    // Body rows that fit completely under the header.
    int VisibleRowCount() const;

    QColor Color() const { return m_color; }
    void SetColor(QColor color);
    QColor FontColor() const { return m_fontColor; }
    void SetFontColor(QColor color);

    // The current cell moved by clicks and arrow keys; -1 when there is none.
    int CurrentRow() const { return m_currentRow; }
    int CurrentCol() const { return m_currentCol; }
    void ClearSelection();

    // Where a cell lies inside the frame (header at the top, body rows from TopRow).
    QRect CellRect(int col, int row) const;

    std::function<void(QPainter&, int col, int row, const QRect& rect)> OnDrawCell;
    std::function<void(Qt::MouseButton, int x, int y)> OnMouseDown;
    std::function<void(QKeyEvent*)> OnKeyDown;
    std::function<void()> OnMouseWheelDown;
    std::function<void()> OnMouseWheelUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateScrollBar();
    void moveCurrentRow(int row);
    int maxTopRow() const;

    std::vector<std::array<QString, kColCount>> m_cells;
    int m_topRow = 1;
    int m_currentRow = -1;
    int m_currentCol = -1;
    int m_wheelRemainder = 0;
    bool m_syncingScrollBar = false;
    QColor m_color{Qt::white};
    QColor m_fontColor{Qt::black};
};
