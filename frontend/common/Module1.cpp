#include "common/Module1.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <cerrno>
#include <utility>

#include "common/Toolkit.h"

namespace korvalinfe {

namespace {

BrowseForFolderHook& browseHook() {
    static BrowseForFolderHook hook;
    return hook;
}

QString& appPathOverride() {
    static QString folder;
    return folder;
}

QString& windowsPathOverride() {
    static QString folder;
    return folder;
}

// Creates folder (and its parents) when missing; a failure shows up later,
// when a file is created there.
void ensureFolder(const QString& folder) {
    QDir().mkpath(folder);
}

}  // namespace

QString BrowseForFolder(QWidget* hwndOwner, const QString& sPrompt) {
    if (browseHook()) return browseHook()(hwndOwner, sPrompt);
    // Only file-system folders can be chosen; a cancel gives an empty text.
    return QFileDialog::getExistingDirectory(hwndOwner, sPrompt, QString(),
                                             QFileDialog::ShowDirsOnly);
}

void setBrowseForFolderHook(BrowseForFolderHook hook) {
    browseHook() = std::move(hook);
}

QString withTrailingSlash(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

QString chooseAppPath(const QString& programFolder, bool programFolderWritable,
                      const QString& dataFolder) {
    return withTrailingSlash(programFolderWritable ? programFolder : dataFolder);
}

QString userDataFolder() {
    QString base = environValue(QStringLiteral("XDG_DATA_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = environValue(QStringLiteral("HOME")) + QStringLiteral("/.local/share");
    return withTrailingSlash(base) + QStringLiteral("KorvalinFE");
}

QString AppPath() {
    if (!appPathOverride().isEmpty()) return withTrailingSlash(appPathOverride());
    const QString program = App::Path();
    const bool writable = ::access(QFile::encodeName(program).constData(), W_OK) == 0;
    const QString path = chooseAppPath(program, writable, userDataFolder());
    if (!writable) ensureFolder(path);
    return path;
}

QString WindowsPath() {
    if (!windowsPathOverride().isEmpty()) return withTrailingSlash(windowsPathOverride());
    const QString path = withTrailingSlash(userDataFolder() + QStringLiteral("/bin"));
    ensureFolder(path);
    return path;
}

void overrideAppPath(const QString& folder) {
    appPathOverride() = folder;
}
void overrideWindowsPath(const QString& folder) {
    windowsPathOverride() = folder;
}

bool DirExists(const QString& sPath) {
    return !dirFirst(sPath, true).isEmpty();
}

bool FileExists(const QString& sPath) {
    const QByteArray name = QFile::encodeName(sPath);
    if (name.isEmpty()) return false;
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Opening a folder for reading succeeds here, but a folder is no file.
    struct stat info {};
    const bool isFile = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
    ::close(fd);
    return isFile;
}

namespace {

// The converter program must stay executable for everyone who may run it.
void makeExecutable(std::uint16_t iResource, const QString& sPath) {
    if (iResource != kResConverter) return;
    QFile program(sPath);
    const auto executable = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    if ((program.permissions() & executable) == executable) return;
    errno = 0;
    if (!program.setPermissions(program.permissions() | executable))
        raiseFileError(errno != 0 ? errno : EACCES);
}

}  // namespace

void ExtractResource(std::uint16_t iResource, const QString& sPath) {
    if (!dirFirst(sPath, false).isEmpty()) return;
    writeBinaryFile(sPath, loadResData(iResource));
    makeExecutable(iResource, sPath);
}

void RefreshResource(std::uint16_t iResource, const QString& sPath) {
    const QByteArray bytes = loadResData(iResource);
    if (FileExists(sPath)) {
        if (readBinaryFile(sPath) != bytes) {
            if (::access(QFile::encodeName(sPath).constData(), W_OK) != 0) raiseFileError(errno);
            writeBinaryFile(sPath, bytes);
        }
    } else {
        writeBinaryFile(sPath, bytes);
    }
    makeExecutable(iResource, sPath);
}

}  // namespace korvalinfe
