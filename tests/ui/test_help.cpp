// The help window: the page's size and colours, the wheel step of half the
// wheel delta, and that showing it again reuses the one window.

#include "QtTestPrograms.h"
#include "ui/help/QX_Help.h"

#include <QApplication>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

void sendWheel(QWidget* target, int delta)
{
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(pos, target->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

QColor textColor(const THelpWindow& help, const char* name)
{
    auto* label = help.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->palette().color(QPalette::WindowText) : QColor();
}

} // namespace

class TestHelp : public QObject {
    Q_OBJECT
private slots:
    // The first page keeps its layout; the journal, the run report, the
    // detector choice and Endless follow it, no paragraph cut short, and
    // the scroll bar reaches the end.
    void laterSectionsFollowTheFirstPageWhole()
    {
        THelpWindow help;
        help.show();
        QWidget* page = help.ScrollBox1->widget();
        const QScrollArea* box = help.ScrollBox1;
        QCOMPARE(box->verticalScrollBar()->maximum(), page->height() - box->viewport()->height());
        QCOMPARE(help.size(), QSize(504, 420));
        QCOMPARE(help.findChild<QWidget*>(QStringLiteral("Panel5"))->geometry().top(), 536);
        int bottom = 670;
        QString text;
        for (const char* section : {"journal", "detection", "endless"}) {
            auto* band = help.findChild<QWidget*>(QStringLiteral("%1Band").arg(section));
            QVERIFY2(band && band->geometry().top() >= bottom, section);
            const QRegularExpression paragraphs(QStringLiteral("^%1Text").arg(section));
            for (QLabel* paragraph : page->findChildren<QLabel*>(paragraphs)) {
                QVERIFY(paragraph->geometry().bottom() < page->height());
                QVERIFY2(paragraph->height() >= paragraph->heightForWidth(paragraph->width()),
                         qPrintable(paragraph->objectName()));
                bottom = std::max(bottom, paragraph->geometry().bottom());
                text += paragraph->text();
            }
        }
        for (const char* topic : {"Journal", "Run Report", "Detection", "Endless", "Fast"})
            QVERIFY2(text.contains(QLatin1String(topic)), topic);
    }

    void headingsAndWarningColours()
    {
        THelpWindow help;
        QCOMPARE(textColor(help, "StaticText3"), QColor(128, 0, 0));
        QCOMPARE(textColor(help, "StaticText7"), help.palette().color(QPalette::WindowText));
        for (const char* heading : {"StaticText1", "StaticText10", "StaticText4", "StaticText12", "StaticText14"})
            QCOMPARE(textColor(help, heading), QColor(0, 0, 128));
        auto* band = help.findChild<QWidget*>(QStringLiteral("Panel4"));
        QVERIFY(band);
        QCOMPARE(band->palette().color(QPalette::Window), QColor(200, 208, 225));
        auto* first = help.findChild<QLabel*>(QStringLiteral("StaticText1"));
        auto* second = help.findChild<QLabel*>(QStringLiteral("StaticText10"));
        QVERIFY(!first->autoFillBackground());
        QVERIFY(second->autoFillBackground());
        QCOMPARE(second->palette().color(QPalette::Window), QColor(166, 202, 240));
    }

    void wheelMovesHalfTheDelta_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("expected"); // -1: the bar's maximum
        QTest::newRow("notch away") << 100 << 120 << 40;
        QTest::newRow("notch toward") << 100 << -120 << 160;
        QTest::newRow("half notch") << 100 << 60 << 70;
        QTest::newRow("-1 div 2 is 0") << 100 << -1 << 100;
        QTest::newRow("1 div 2 is 0") << 100 << 1 << 100;
        QTest::newRow("-3 div 2 is -1") << 100 << -3 << 101;
        QTest::newRow("top stays") << 0 << 120 << 0;
        QTest::newRow("bottom stays") << -1 << -120 << -1;
    }

    void wheelMovesHalfTheDelta()
    {
        QFETCH(int, start);
        QFETCH(int, delta);
        QFETCH(int, expected);
        THelpWindow help;
        help.show();
        QScrollBar* bar = help.ScrollBox1->verticalScrollBar();
        QVERIFY(bar->maximum() > 200);
        bar->setValue(start < 0 ? bar->maximum() : start);
        sendWheel(help.ScrollBox1->viewport(), delta);
        QCOMPARE(bar->value(), expected < 0 ? bar->maximum() : expected);
    }

    void wheelOverTheScrollBarUsesTheSameStep()
    {
        THelpWindow help;
        help.show();
        QScrollBar* bar = help.ScrollBox1->verticalScrollBar();
        bar->setValue(200);
        sendWheel(bar, 120);
        QCOMPARE(bar->value(), 140);
    }

    void showingTwiceKeepsOneWindowWithTheFocusOnThePage()
    {
        THelpWindow help;
        help.ShowHelp();
        QVERIFY(QTest::qWaitForWindowActive(&help));
        QTRY_VERIFY(help.ScrollBox1->hasFocus());
        help.close();
        QVERIFY(!help.isVisible());
        help.ShowHelp();
        help.ShowHelp();
        QVERIFY(help.isVisible());
        int helpWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            helpWindows += qobject_cast<THelpWindow*>(w) != nullptr;
        QCOMPARE(helpWindows, 1);
    }

    void escapeClosesThePageAndOtherKeysScrollIt()
    {
        THelpWindow help;
        help.ShowHelp();
        QVERIFY(QTest::qWaitForWindowActive(&help));
        QTRY_VERIFY(help.ScrollBox1->hasFocus());
        QScrollBar* bar = help.ScrollBox1->verticalScrollBar();
        QTest::keyClick(help.ScrollBox1, Qt::Key_PageDown);
        QVERIFY(bar->value() > 0);
        QVERIFY(help.isVisible());
        QTest::keyClick(help.ScrollBox1, Qt::Key_Escape);
        QVERIFY(!help.isVisible());
    }
};

TEMPOVARO_QTEST(TestHelp)
#include "test_help.moc"
