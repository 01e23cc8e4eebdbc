#pragma once
// Helpers shared by the device dialog tests.

#include "trigger/QX_Tuning.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QTest>

#include <string>

// Picks an entry of a drop-down list the way a user does: open it, click.
inline void chooseListEntry(QComboBox* box, int index)
{
    box->showPopup();
    QAbstractItemView* view = box->view();
    QVERIFY(view->isVisible());
    const QRect item = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    QCOMPARE(box->currentIndex(), index);
}

// Index of the first entry whose ID (or, with byName, Name) contains text; -1 if none.
inline int findEntry(const QX_DeviceList& list, const std::string& text, bool byName = false, bool exact = true)
{
    for (int i = 0; i < static_cast<int>(list.size()); ++i) {
        const std::string& field = byName ? list[i].Name : list[i].ID;
        if (exact ? field == text : field.find(text) != std::string::npos)
            return i;
    }
    return -1;
}

// The meter's next value when nothing louder arrives.
inline float decayed(float level)
{
    return static_cast<float>(static_cast<double>(level) * 0.9);
}

// Counts the paints a widget receives.
struct PaintCounter : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++count;
        return false;
    }
};
