#include "ui/help/QX_About.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

// The project has no public home yet; these reserved documentation addresses
// stand in for it.
const char* const TAboutBox::MailAddress = "tempovaro@example.org";
const char* const TAboutBox::WebAddress = "www.example.org";

namespace {

QFont arial(int pixelSize, bool bold, bool underline = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

// A right-aligned label that grows to the left when its text is wider than
// designed, so the right edge stays where the layout puts it.
QLabel* rightAligned(QWidget* parent, const char* name, const QString& text, const QFont& font, QRect designed,
                     bool wrap = false)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setWordWrap(wrap);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setAutoFillBackground(false);
    QRect r = designed;
    if (!wrap) {
        const int textWidth = label->fontMetrics().horizontalAdvance(text) + 1;
        if (textWidth > r.width())
            r.setLeft(r.right() + 1 - textWidth);
    }
    label->setGeometry(r);
    return label;
}

void setLabelTextColor(QLabel* label, const QColor& color)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(300, 210);

    ProgramIcon = new QLabel(this);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(0, 0, 300, 210);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/ABOUT")));

    ProductName = rightAligned(this, "ProductName", QStringLiteral("Tempovaro"), arial(19, true),
                               QRect(185, 49, 101, 22));
    Version = rightAligned(this, "Version", QStringLiteral("Version 1.1"), arial(13, false), QRect(220, 77, 66, 16));
    setLabelTextColor(Version, Qt::black);
    Copy = rightAligned(this, "Copy", QStringLiteral("\u00A9 2026 Tempovaro"), arial(13, false),
                        QRect(219, 97, 69, 16));
    setLabelTextColor(Copy, Qt::black);
    Mail = rightAligned(this, "Mail", QString::fromLatin1(MailAddress), arial(13, false, true),
                        QRect(159, 117, 126, 16));
    setLabelTextColor(Mail, QColor(0, 0, 128));
    Mail->setCursor(Qt::PointingHandCursor);
    Mail->installEventFilter(this);
    Comments = rightAligned(this, "Comments", QString::fromLatin1(WebAddress), arial(13, false, true),
                            QRect(142, 138, 143, 16), true);
    setLabelTextColor(Comments, QColor(0, 0, 128));
    Comments->setCursor(Qt::PointingHandCursor);
    Comments->installEventFilter(this);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(210, 170, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
}

void TAboutBox::OKButtonClick()
{
    accept();
}

void TAboutBox::MailClick()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + Mail->text()));
}

void TAboutBox::CommentsClick()
{
    QDesktopServices::openUrl(QUrl::fromUserInput(Comments->text()));
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* e)
{
    // A click is a release over the link; pressing on it and letting go
    // elsewhere opens nothing.
    if (e->type() == QEvent::MouseButtonRelease && (watched == Mail || watched == Comments)) {
        const auto* mouse = static_cast<QMouseEvent*>(e);
        const auto* link = static_cast<QLabel*>(watched);
        if (mouse->button() == Qt::LeftButton && link->rect().contains(mouse->position().toPoint())) {
            if (link == Mail)
                MailClick();
            else
                CommentsClick();
        }
    }
    return QDialog::eventFilter(watched, e);
}

void TAboutBox::showEvent(QShowEvent* e)
{
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(e);
}

#include "moc_QX_About.cpp"
