// KorvalinFE: the graphical front end of the korvalin MIDI to XM converter.
#include <QApplication>

#include "common/Toolkit.h"
#include "windows/frmMain.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    korvalinfe::setUpApplication(app);

    korvalinfe::frmMain window;
    if (!window.Form_Load()) return 0;
    window.show();
    return QApplication::exec();
}
