#include "common/Toolkit.h"

#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QSaveFile>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace korvalinfe {

namespace {

MessageBoxHook& messageBoxHook() {
    static MessageBoxHook hook;
    return hook;
}

EndProgramHook& endProgramHook() {
    static EndProgramHook hook;
    return hook;
}

thread_local int lastSystemError = 0;

QString standardDescription(long number) {
    switch (number) {
        case kErrInvalidArgument:
            return QStringLiteral("Invalid procedure call or argument");
        case kErrSubscriptRange:
            return QStringLiteral("Subscript out of range");
        case kErrFileNotFound:
            return QStringLiteral("File not found");
        case kErrDeviceIo:
            return QStringLiteral("Device I/O error");
        case kErrDiskFull:
            return QStringLiteral("Disk full");
        case kErrPastEndOfFile:
            return QStringLiteral("Input past end of file");
        case kErrPermissionDenied:
            return QStringLiteral("Permission denied");
        case kErrPathFileAccess:
            return QStringLiteral("Path/File access error");
        case kErrPathNotFound:
            return QStringLiteral("Path not found");
        case kErrInvalidPropertyValue:
            return QStringLiteral("Invalid property value");
        default:
            return QStringLiteral("Application-defined or object-defined error");
    }
}

long errorNumberFor(int systemError) {
    switch (systemError) {
        case ENOENT:
            return kErrFileNotFound;
        case ENOTDIR:
            return kErrPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrPermissionDenied;
        case ENOSPC:
        case EDQUOT:
            return kErrDiskFull;
        case EIO:
            return kErrDeviceIo;
        default:
            return kErrPathFileAccess;
    }
}

// The system error code behind a failed QFile operation, as far as Qt keeps it.
int systemErrorOf(const QFileDevice& file) {
    if (errno != 0) return errno;
    return file.error() == QFileDevice::ResourceError ? ENOSPC : EIO;
}

bool isHiddenName(const QString& name) {
    return name.startsWith(u'.');
}

// A regular file or a folder: everything else (sockets, devices, pipes) is a
// "system" entry that the listing never reports.
bool isListable(const QFileInfo& info, bool includeFolders) {
    if (info.isDir()) return includeFolders;
    return info.isFile();
}

}  // namespace

// ---------------------------------------------------------------- program information

void setUpApplication(QApplication& app) {
    QApplication::setApplicationName(QString::fromLatin1(kProgramTitle));
    QApplication::setDesktopFileName(QStringLiteral("korvalinfe"));
    app.setWindowIcon(QIcon(QStringLiteral(":/korvalinfe/korvalinfe.png")));
}

QString App::Path() {
    const QString folder = QCoreApplication::applicationDirPath();
    return folder.isEmpty() ? QDir::currentPath() : folder;
}

QString App::EXEName() {
    const QString file = QCoreApplication::applicationFilePath();
    if (file.isEmpty()) return App::Title();
    return QFileInfo(file).completeBaseName();
}

// ---------------------------------------------------------------- run-time errors

RuntimeError::RuntimeError(long number, QString source, QString description)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      what_(description_.toStdString()) {}

void raiseError(long number, const QString& source, const QString& description) {
    throw RuntimeError(number, source, description);
}

void raiseError(long number) {
    raiseError(number, App::Title(), standardDescription(number));
}

void raiseFileError(int systemError) {
    setLastDllError(systemError);
    raiseError(errorNumberFor(systemError));
}

int lastDllError() {
    return lastSystemError;
}
void setLastDllError(int code) {
    lastSystemError = code;
}

// ---------------------------------------------------------------- message boxes

std::unique_ptr<QMessageBox> makeMessageBox(QWidget* owner, const QString& text, MsgIcon icon,
                                            const QString& caption) {
    // A dialog centres itself on its parent's window, even on one not yet
    // shown, which still sits at the screen's corner. So the box belongs to
    // the nearest window on screen (a window still loading has its opener),
    // or to none and centres on the screen.
    QWidget* parent = owner;
    while (parent && !parent->window()->isVisible()) parent = parent->window()->parentWidget();
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(icon == MsgIcon::Error      ? QMessageBox::Critical
                 : icon == MsgIcon::Warning  ? QMessageBox::Warning
                 : icon == MsgIcon::Question ? QMessageBox::Question
                                             : QMessageBox::Information);
    box->setWindowTitle(caption);
    box->setText(text);
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

void msgBox(QWidget* owner, const QString& text, MsgIcon icon, const QString& caption) {
    if (messageBoxHook()) {
        messageBoxHook()(ShownMessage{text, icon, caption});
        return;
    }
    makeMessageBox(owner, text, icon, caption)->exec();
}

bool askYesNo(QWidget* owner, const QString& text, const QString& caption) {
    if (messageBoxHook())
        return messageBoxHook()(ShownMessage{text, MsgIcon::Question, caption, true});
    const auto box = makeMessageBox(owner, text, MsgIcon::Question, caption);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
}

void setMessageBoxHook(MessageBoxHook hook) {
    messageBoxHook() = std::move(hook);
}

MessageRecorder::MessageRecorder() {
    setMessageBoxHook([this](const ShownMessage& message) {
        messages.push_back(message);
        return answer;
    });
}

MessageRecorder::~MessageRecorder() {
    setMessageBoxHook(nullptr);
}

// ---------------------------------------------------------------- message pumping

void doEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// ---------------------------------------------------------------- windows and controls

void showModeless(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

void endProgram() {
    if (endProgramHook()) {
        endProgramHook()();
        return;
    }
    // Leave without running close handlers or destructors of the windows;
    // every file is closed within the handler that opened it.
    std::fflush(nullptr);
    std::_Exit(0);
}

void setEndProgramHook(EndProgramHook hook) {
    endProgramHook() = std::move(hook);
}

void chooseListEntry(QComboBox* list, const QString& text) {
    const int index = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) raiseError(kErrInvalidPropertyValue);
    list->setCurrentIndex(index);
}

// ---------------------------------------------------------------- files

TextFileReader::TextFileReader(const QString& path) {
    data_ = readBinaryFile(path);
}

bool TextFileReader::atEnd() const {
    return pos_ >= data_.size();
}

QString TextFileReader::readLine() {
    if (atEnd()) raiseError(kErrPastEndOfFile);
    qsizetype end = pos_;
    while (end < data_.size() && data_[end] != '\n' && data_[end] != '\r') ++end;
    const QString line = QString::fromUtf8(data_.constData() + pos_, end - pos_);
    pos_ = end;
    // CR LF is one line end; a lone CR or LF also ends the line.
    if (pos_ < data_.size() && data_[pos_] == '\r') ++pos_;
    if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;
    return line;
}

void TextFileReader::close() {
    data_.clear();
    pos_ = 0;
}

TextFileWriter::TextFileWriter(const QString& path) : file_(path) {
    errno = 0;
    if (QFileInfo(path).isDir()) raiseFileError(EISDIR);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        raiseFileError(systemErrorOf(file_));
}

void TextFileWriter::writeLine(const QString& text) {
    const QByteArray bytes = text.toUtf8() + "\r\n";
    errno = 0;
    if (file_.write(bytes) != bytes.size()) raiseFileError(systemErrorOf(file_));
}

void TextFileWriter::close() {
    if (!file_.isOpen()) return;
    errno = 0;
    const bool flushed = file_.flush();
    file_.close();
    if (!flushed) raiseFileError(systemErrorOf(file_));
}

QByteArray readBinaryFile(const QString& path) {
    QFile file(path);
    errno = 0;
    if (QFileInfo(path).isDir()) raiseFileError(EISDIR);
    if (!file.open(QIODevice::ReadOnly)) raiseFileError(systemErrorOf(file));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) raiseFileError(systemErrorOf(file));
    return bytes;
}

void writeBinaryFile(const QString& path, const QByteArray& bytes) {
    if (QFileInfo(path).isDir()) raiseFileError(EISDIR);
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) raiseFileError(systemErrorOf(file));
    if (file.write(bytes) != bytes.size()) {
        const int error = systemErrorOf(file);
        file.cancelWriting();
        raiseFileError(error);
    }
    if (!file.commit()) raiseFileError(systemErrorOf(file));
}

void fileCopy(const QString& source, const QString& target) {
    // Read first, so that copying a file onto itself leaves it intact.
    const QByteArray bytes = readBinaryFile(source);
    writeBinaryFile(target, bytes);
}

void killFile(const QString& path) {
    QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) raiseFileError(ENOENT);
    if (info.isDir()) raiseFileError(EACCES);
    QFile file(path);
    errno = 0;
    if (!file.remove()) raiseFileError(systemErrorOf(file));
}

QString dirFirst(const QString& path, bool includeFolders) {
    if (path.isEmpty()) return {};
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = slash < 0 ? QStringLiteral(".") : path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    const bool wildcard = name.isEmpty() || name.contains(u'*') || name.contains(u'?');

    if (!wildcard) {
        // An exact name is reported as it is found; the name itself decides
        // nothing, since this system has no hidden attribute.
        const QFileInfo info(path);
        if (!info.exists() || !isListable(info, includeFolders)) return {};
        return name;
    }
    QDir listing(folder);
    if (!listing.exists()) return {};
    // A listed folder's "." entry stands for the folder itself.
    if (name.isEmpty() && includeFolders) return QStringLiteral(".");
    QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot;
    if (includeFolders) filters |= QDir::Dirs;
    const QStringList patterns{name.isEmpty() ? QStringLiteral("*") : name};
    for (const QFileInfo& entry : listing.entryInfoList(patterns, filters, QDir::Name)) {
        if (isHiddenName(entry.fileName())) continue;
        if (isListable(entry, includeFolders)) return entry.fileName();
    }
    return {};
}

// ---------------------------------------------------------------- environment, resources

QString environValue(const QString& name) {
    return qEnvironmentVariable(name.toLocal8Bit().constData());
}

QByteArray loadResData(int number, const QString& type) {
    QFile resource(QStringLiteral(":/%1/%2").arg(type).arg(number));
    if (!resource.open(QIODevice::ReadOnly)) {
        raiseError(kErrResourceNotFound, App::Title(),
                   QStringLiteral("Resource with identifier '%1' not found").arg(number));
    }
    return resource.readAll();
}

}  // namespace korvalinfe
