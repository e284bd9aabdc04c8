#include "windows/frmHelp.h"

#include <QPalette>
#include <QStringList>

namespace korvalinfe {

namespace {

// Layout in twips, at 15 twips per pixel.
constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) {
    return twips / kTwipsPerPixel;
}

}  // namespace

QString frmHelp::helpText() {
    static const QStringList lines{
        QStringLiteral("Korvalin FrontEnd - the front end of korvalin, the MIDI to XM converter"),
        QString(),
        QStringLiteral("What's New:"),
        QString(),
        QStringLiteral("v0.16  02/10/2005"),
        QStringLiteral("- Some bug fixed"),
        QString(),
        QStringLiteral("v0.15  15/10/2005"),
        QStringLiteral("- Some bug fixed"),
        QStringLiteral("- Fixed can't convert file from other directory"),
        QStringLiteral("- Add help"),
        QString(),
        QStringLiteral("v0.12  01/09/2005"),
        QStringLiteral("- Korvalin Front End"),
    };
    QString text;
    for (const QString& line : lines) text += line + QStringLiteral("\r\n");
    return text;
}

frmHelp::frmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Help"));
    setObjectName(QStringLiteral("frmHelp"));

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(px(90), px(90), px(5205), px(4815));
    Text1->setReadOnly(true);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = Text1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    Text1->setPalette(palette);
    // The text box shows line breaks, not the CR of each CR LF.
    QString shown = helpText();
    shown.remove(u'\r');
    Text1->setPlainText(shown);

    setFixedSize(px(90) * 2 + px(5205), px(90) * 2 + px(4815));
}

}  // namespace korvalinfe
