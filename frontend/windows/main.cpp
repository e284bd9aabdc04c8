// KorvalinFE: the graphical front end of the korvalin MIDI to XM converter.
#include <QApplication>
#include <QIcon>

#include "common/Toolkit.h"
#include "windows/frmMain.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(korvalinfe::kProgramTitle));
    QApplication::setApplicationDisplayName(QString::fromLatin1(korvalinfe::kProductName));
    QApplication::setDesktopFileName(QStringLiteral("korvalinfe"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/korvalinfe/korvalinfe.png")));

    korvalinfe::frmMain window;
    if (!window.Form_Load()) return 0;
    window.show();
    return QApplication::exec();
}
