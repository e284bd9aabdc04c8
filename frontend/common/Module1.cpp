#include "common/Module1.h"

namespace korvalinfe {

QString BrowseForFolder(QWidget*, const QString&) { return {}; }
void setBrowseForFolderHook(BrowseForFolderHook) {}
QString AppPath() { return {}; }
QString WindowsPath() { return {}; }
void overrideAppPath(const QString&) {}
void overrideWindowsPath(const QString&) {}
QString chooseAppPath(const QString&, bool, const QString&) { return {}; }
QString userDataFolder() { return {}; }
bool DirExists(const QString&) { return false; }
bool FileExists(const QString&) { return false; }
void ExtractResource(std::uint16_t, const QString&) {}
QString withTrailingSlash(const QString& folder) { return folder; }

}  // namespace korvalinfe
