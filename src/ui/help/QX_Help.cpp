#include "ui/common/QX_Palette.h"
#include "ui/help/QX_Help.h"

#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

const QColor kHeadingText(0, 0, 128);
const QColor kSkyBlue(166, 202, 240);
const QColor kWarning(128, 0, 0);

struct Heading {
    const char* panelName;
    const char* textName;
    int top;
    int textWidth;
    int textHeight;
    bool skyBlue; // the first heading shows its band's colour behind the text
    const char* text;
};

const Heading kHeadings[] = {
    {"Panel1", "StaticText1", 0, 333, 20, false, "What's Tempovaro ?"},
    {"Panel3", "StaticText10", 88, 228, 16, true, "How does Tempovaro work ?"},
    {"Panel2", "StaticText4", 224, 172, 16, true, "Trigger devices"},
    {"Panel4", "StaticText12", 448, 172, 16, true, "View"},
    {"Panel5", "StaticText14", 536, 172, 16, true, "Options"},
};

struct Paragraph {
    const char* name;
    int top;
    int height;
    const char* text;
};

// StaticText17 lies on the second line of StaticText2, whose text fills one
// line, so the two read as one paragraph.
const Paragraph kParagraphs[] = {
    {"StaticText2", 48, 33,
     "Tempovaro is a speed measurement tool for drummers who focus on technical progress."},
    {"StaticText17", 62, 17,
     "It enables you to observe your playing abilities in terms of speed, control and endurance."},
    {"StaticText11", 136, 61,
     "Tempovaro records and displays the number of strokes you play in a certain amount of time. "
     "The measurement automatically starts as soon as you hit the drum. After recording time has "
     "elapsed the final count remains fixed and is shown in lighter color. New records are displayed "
     "in red color. Every result will be added to the score list on the right of the user interface.  "},
    {"StaticText3", 196, 25,
     "Warning: Always do a proper warmup before trying to break top speed records !"},
    {"StaticText5", 272, 21,
     "Tempovaro offers two triggering options, which can be configured in the Device Select dialog."},
    {"StaticText6", 292, 21, "1. Audio"},
    {"StaticText7", 312, 45,
     "You can use an acoustic drum trigger and connect it to your computers soundcard input. In the "
     "device select dialog choose \"Audio\" and the correct device and input channel. Then adjust the "
     "volume slider so that just the loudest peaks pass the red mark at the volume meter."},
    {"StaticText8", 360, 21, "2. MIDI"},
    {"StaticText9", 380, 61,
     "If you have an electronic drum or any other MIDI capable device you can connect it via a MIDI "
     "interface to your computer. In the device select dialog choose \"MIDI\" and then the interface "
     "and preferred MIDI channel. If you play an Edrum set you can isolate one instrument by specifying "
     "a single MIDI note number. To do so simply hit the drum and press the \"Set\" button."},
    {"StaticText13", 496, 33,
     "The main view can alternatively display the speed in beats per minute or Hz. See the view menu "
     "for this setting."},
    {"StaticText15", 584, 31,
     "If you activate \"Auto Reset Measurement\" in the options menu Tempovaro will get ready for a new "
     "attempt five seconds after your last stroke. "},
    {"StaticText16", 616, 54,
     "With the \"Show BPM @ 16th notes\" option you can measure your base speed in quarter notes while "
     "playing 16th notes. "},
};

// What came after the first release, below its page in the same style: a
// heading band, then paragraphs as tall as their text needs.
struct Section {
    const char* name;
    const char* heading;
    std::initializer_list<const char*> paragraphs;
};

const Section kSections[] = {
    {"journal", "Journal and run report",
     {"Every run you play is kept in the practice journal with the time of each stroke: a timed run "
      "when its recording time is up, a run you reset or an endless run when it stops. Open it with "
      "\"Journal\" in the Measurement menu (Ctrl+J). It lists your runs by recording time and period, "
      "charts your progress (every run, the best so far and the best of each week) and exports runs or "
      "the strokes of one run as CSV files. The first time it opens empty it offers to bring in the "
      "scores of your score list. Deleting runs there never changes the score list.",
      "\"Run Report\" in the Measurement menu (Ctrl+R) shows the run you are playing, as you play, or the "
      "last one; a double click on a run in the journal shows that run. It draws your speed over time and "
      "every interval between two strokes, marks suspected double strokes and missed strokes, and lists "
      "figures such as the evenness of your strokes, the fatigue (the last 10 seconds against the first "
      "10) and the hand balance."}},
    {"detection", "Audio detection",
     {"For audio, the Device Select dialog offers two detectors under \"Detection\". Standard is "
      "Tempovaro's original detector and counts up to about 30 strokes per second. Fast follows quicker "
      "rolls and takes each stroke's time at its very start. If one counts strokes you did not play or "
      "misses some, try the other and compare the run reports."}},
    {"endless", "Endless",
     {"Choose \"Endless\" in the Time menu to play as long as you like: the clock starts with your first "
      "stroke and runs until you reset (Space). An endless run makes no score, but the journal keeps it "
      "with its strokes per minute, and its progress chart compares endless runs by their speed."}},
};

constexpr int kPageWidth = 510;
// Where the first release's page ended and the later sections begin.
constexpr int kFirstPageHeight = 670;
constexpr int kBandHeight = 33;
constexpr int kTextWidth = 461;

QFont sansSerif(int pixelSize, bool bold)
{
    // Where MS Sans Serif is missing, Liberation Sans comes closest to its
    // widths; fontconfig's own choice (DejaVu Sans) is so much wider that the
    // fixed-size paragraphs would no longer hold their text.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace

THelpWindow::THelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Help"));
    setFont(sansSerif(11, false));
    setFixedSize(504, 420);
    move(324, 12);

    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setGeometry(0, 0, 504, 420);
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ScrollBox1->verticalScrollBar()->setTracking(true);
    ScrollBox1->setFocusPolicy(Qt::StrongFocus);
    ScrollBox1->setWidgetResizable(false);
    QPalette white = ScrollBox1->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    ScrollBox1->setPalette(white);
    ScrollBox1->viewport()->setAutoFillBackground(true);

    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Page"));
    page->setAutoFillBackground(true);
    page->setPalette(white);
    // The paragraphs below the first page are measured before the page joins
    // the window, so it takes the window's font now.
    page->setFont(font());

    const auto addBand = [page](const char* panelName, const char* textName, int top, const char* caption) {
        auto* band = new QFrame(page);
        band->setObjectName(QString::fromLatin1(panelName));
        band->setFrameStyle(QFrame::Panel | QFrame::Raised);
        band->setLineWidth(1);
        band->setGeometry(0, top, kPageWidth, kBandHeight);

        auto* text = new QLabel(QString::fromLatin1(caption), band);
        text->setObjectName(QString::fromLatin1(textName));
        text->setTextFormat(Qt::PlainText);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        text->setFont(sansSerif(13, true));
        QPalette pal = text->palette();
        pal.setColor(QPalette::WindowText, kHeadingText);
        text->setPalette(pal);
        return text;
    };
    const auto addParagraph = [page](const char* name, const char* body) {
        auto* text = new QLabel(QString::fromLatin1(body), page);
        text->setObjectName(QString::fromLatin1(name));
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return text;
    };

    const auto paintSkyBlue = [](QLabel* text) {
        QPalette pal = text->palette();
        pal.setColor(QPalette::Window, kSkyBlue);
        text->setPalette(pal);
        text->setAutoFillBackground(true);
    };
    for (const Heading& h : kHeadings) {
        QLabel* text = addBand(h.panelName, h.textName, h.top, h.text);
        text->setGeometry(9, 9, h.textWidth, h.textHeight);
        if (h.skyBlue)
            paintSkyBlue(text);
    }

    int top = kFirstPageHeight;
    for (const Section& section : kSections) {
        const QByteArray name(section.name);
        QLabel* heading = addBand(name + "Band", name + "Heading", top, section.heading);
        heading->setGeometry(QRect(QPoint(9, 9), heading->sizeHint()));
        paintSkyBlue(heading);
        top += kBandHeight + 15;
        int n = 0;
        for (const char* body : section.paragraphs) {
            QLabel* text = addParagraph(name + "Text" + QByteArray::number(++n), body);
            const int height = text->heightForWidth(kTextWidth);
            text->setGeometry(12, top, kTextWidth, height);
            top += height + 10;
        }
        top += 6;
    }
    page->setFixedSize(kPageWidth, top + 8);

    for (const Paragraph& p : kParagraphs) {
        QLabel* text = addParagraph(p.name, p.text);
        text->setGeometry(12, p.top, kTextWidth, p.height);
        if (qstrcmp(p.name, "StaticText3") == 0) {
            QPalette pal = text->palette();
            pal.setColor(QPalette::WindowText, kWarning);
            text->setPalette(pal);
        }
    }

    ScrollBox1->setWidget(page);
    ScrollBox1->viewport()->installEventFilter(this);
    ScrollBox1->verticalScrollBar()->installEventFilter(this);

    FormCreate();
}

void THelpWindow::FormCreate()
{
    // The heading bands are the only plain frames on the page; labels and the
    // scroll box are frames of their own subclasses and keep their colours.
    for (QFrame* frame : findChildren<QFrame*>()) {
        if (frame->metaObject() != &QFrame::staticMetaObject)
            continue;
        QPalette pal = frame->palette();
        pal.setColor(QPalette::Window, kWindowColor);
        pal.setColor(QPalette::WindowText, kHeadingText);
        frame->setPalette(pal);
        frame->setAutoFillBackground(true);
    }
}

void THelpWindow::FormActivate()
{
    // The wheel follows the keyboard focus in the original design; with the
    // focus on the scroll box the keys scroll the page as well.
    ScrollBox1->setFocus(Qt::ActiveWindowFocusReason);
}

void THelpWindow::ShowHelp()
{
    show();
    raise();
    activateWindow();
}

void THelpWindow::ScrollBox1MouseWheel(int Delta)
{
    QScrollBar* bar = ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() - Delta / 2);
}

bool THelpWindow::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate)
        FormActivate();
    // Escape closes the page, as it does every dialog; without a window
    // manager there is no frame to close it by.
    if (e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            close();
            return true;
        }
    }
    return QWidget::event(e);
}

bool THelpWindow::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::Wheel) {
        const int delta = static_cast<QWheelEvent*>(e)->angleDelta().y();
        if (delta != 0)
            ScrollBox1MouseWheel(delta);
        // Our own step replaces the scroll area's; letting the event through
        // as well would move the page twice.
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

#include "moc_QX_Help.cpp"
