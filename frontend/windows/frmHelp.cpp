#include "windows/frmHelp.h"

namespace korvalinfe {

frmHelp::frmHelp(QWidget* parent) : QWidget(parent) {}
QString frmHelp::helpText() { return {}; }

}  // namespace korvalinfe
