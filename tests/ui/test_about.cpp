// The about box: the links hand the right addresses to the desktop, the
// labels show their whole text with the right edge where designed, and OK
// or Enter ends the modal run.

#include "QtTestPrograms.h"
#include "ui/help/QX_About.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void linksOpenMailAndWebPage()
    {
        UrlRecorder recorder;
        for (const char* scheme : {"mailto", "http", "https"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder, "open");
        TAboutBox about;
        about.show();
        QTest::mouseClick(about.Mail, Qt::LeftButton);
        QTest::mouseClick(about.Comments, Qt::LeftButton);
        QTest::mouseClick(about.Version, Qt::LeftButton);
        // Pressed on a link but let go beside it: no click.
        QTest::mousePress(about.Mail, Qt::LeftButton);
        QTest::mouseRelease(about.Mail, Qt::LeftButton, {}, QPoint(-5, about.Mail->height() / 2));
        for (const char* scheme : {"mailto", "http", "https"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));

        QCOMPARE(recorder.urls.size(), 2);
        QCOMPARE(recorder.urls[0].scheme(), QStringLiteral("mailto"));
        QCOMPARE(recorder.urls[0].path(), about.Mail->text());
        QVERIFY(recorder.urls[0].path().endsWith(QStringLiteral("@example.org")));
        QVERIFY(recorder.urls[1].scheme().startsWith(QStringLiteral("http")));
        QVERIFY(recorder.urls[1].host().endsWith(QStringLiteral("example.org")));
    }

    void labelsShowTheirWholeTextRightAligned()
    {
        TAboutBox about;
        QCOMPARE(about.size(), QSize(300, 210));
        QCOMPARE(about.ProgramIcon->geometry(), QRect(0, 0, 300, 210));
        QCOMPARE(about.ProductName->text(), QStringLiteral("Tempovaro"));
        QCOMPARE(about.Version->text(), QStringLiteral("Version 1.1"));
        const struct {
            QLabel* label;
            int designedRight;
        } rows[] = {{about.ProductName, 185 + 101}, {about.Version, 220 + 66}, {about.Copy, 219 + 69},
                    {about.Mail, 159 + 126}};
        for (const auto& row : rows) {
            QCOMPARE(row.label->geometry().right() + 1, row.designedRight);
            QVERIFY(row.label->width() >= row.label->fontMetrics().horizontalAdvance(row.label->text()));
            QVERIFY(row.label->alignment() & Qt::AlignRight);
        }
    }

    void okAndEnterEndTheModalRun()
    {
        TAboutBox about;
        QTimer::singleShot(0, &about, [&] { QTest::mouseClick(about.OKButton, Qt::LeftButton); });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
        QVERIFY(!about.isVisible());
        QTimer::singleShot(0, &about, [&] { QTest::keyClick(&about, Qt::Key_Return); });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
    }
};

TEMPOVARO_QTEST(TestAbout)
#include "test_about.moc"
