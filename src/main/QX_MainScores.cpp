// The main window's score list: the scores of the chosen recording time in
// the order the user picked by clicking a column's heading, and the list's
// keys and mouse wheel.

#include "main/QX_Main.h"
#include "ui/common/QX_Palette.h"

#include "main/DisplayText.h"
#include "main/ScoreGrid.h"
#include "persistence/QX_Global.h"
#include "ui/common/TextContrast.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

void TMainForm::FillScoreGrid()
{
    const std::int32_t timeLimit = ProgramSettings.TimeLimit;
    PanelCategoryText->setText(timeLimit > 0 ? QString::number(timeLimit / 1000) + QStringLiteral(" Seconds")
                                             : QStringLiteral("Endless"));
    ResultGrid->SetRowCount(MaxScores + 1);
    if (timeLimit < 0) {
        // Endless keeps no scores: the rows of the last category stay, greyed,
        // and still readable on the list's pale blue.
        ResultGrid->setEnabled(false);
        ResultGrid->SetFontColor(
            readableGreyedText(ResultGrid->palette().color(QPalette::Disabled, QPalette::Text), kPanelColor));
        return;
    }
    const bool wasEnabled = ResultGrid->isEnabled();
    ResultGrid->setEnabled(true);
    ResultGrid->SetFontColor(Qt::black);
    // It is the window's only focusable control; give the keys back to it.
    if (!wasEnabled && isActiveWindow())
        ResultGrid->setFocus();

    // The table stays in the order shown, which decides the score AddScore
    // drops from a full table.
    if (ProgramSettings.SortByStrokes != 0)
        SortScoresByStrokes(0, MaxScores - 1);
    else
        SortScoresByDate(0, MaxScores - 1);

    const std::int32_t seconds = timeLimit / 1000;
    int row = 0;
    for (const TQX_Score& score : Scores) {
        if (score.Date == 0.0)
            break;
        if (score.Seconds == seconds) {
            ++row;
            ResultGrid->SetCell(0, row, QString::number(score.Strokes));
            ResultGrid->SetCell(1, row, ScoreDateText(score.Date));
        }
    }
    for (int r = row + 1; r <= MaxScores; ++r) {
        ResultGrid->SetCell(0, r, QString());
        ResultGrid->SetCell(1, r, QString());
    }
}

void TMainForm::ResultGridDrawCell(QPainter& painter, int ACol, int ARow, const QRect& Rect)
{
    painter.fillRect(Rect, ARow == 0 ? kWindowColor : ResultGrid->Color());
    painter.setPen(ResultGrid->FontColor());
    painter.setFont(ResultGrid->font());
    const QRect textRect(Rect.left() + 2, Rect.top() + 2, Rect.width(), Rect.height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, ResultGrid->Cell(ACol, ARow));
}

void TMainForm::ResultGridKeyDown(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space)
        ResetMeasurement();
    if (event->key() == Qt::Key_F1 && m_companions.ShowHelp)
        m_companions.ShowHelp();
}

void TMainForm::ResultGridMouseDown(Qt::MouseButton, int X, int Y)
{
    if (Y < ScoreGrid::kRowHeight) {
        ProgramSettings.SortByStrokes = X < ScoreGrid::kColWidth + ScoreGrid::kLineWidth ? 1 : 0;
        FillScoreGrid();
    }
}

void TMainForm::ResultGridMouseWheelDown()
{
    if (ResultGrid->TopRow() + ResultGrid->VisibleRowCount() < ResultGrid->RowCount())
        ResultGrid->SetTopRow(ResultGrid->TopRow() + 1);
}

void TMainForm::ResultGridMouseWheelUp()
{
    if (ResultGrid->TopRow() > ScoreGrid::kFixedRows)
        ResultGrid->SetTopRow(ResultGrid->TopRow() - 1);
}
