#include "dialogs/cFileDialog.h"

namespace korvalinfe {

cFileDialog::cFileDialog() = default;
void cFileDialog::ShowOpen() {}
void cFileDialog::ShowSave() {}
void cFileDialog::ParseMultiFileName(QString&, QStringList&, std::int32_t&) const {}
QString cFileDialog::StripNull(const QString& text) { return text; }
std::vector<std::pair<QString, QString>> cFileDialog::filterPairs(const QString&) { return {}; }
QStringList cFileDialog::nameFilters(const QString&) { return {}; }
void cFileDialog::setDialogHook(DialogHook) {}

}  // namespace korvalinfe
