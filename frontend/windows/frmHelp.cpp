#include "windows/frmHelp.h"

#include <QPalette>
#include <QStringList>

#include "windows/FormLayout.h"

namespace korvalinfe {

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
    // The same font as the other windows; the text box takes it over.
    setFont(formFont());

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    place(Text1, 90, 90, 5205, 4815);
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

    setFixedSize(twips(90 + 5205 + 90), twips(90 + 4815 + 90));
}

}  // namespace korvalinfe
