// Toolkit services the front end's windows and procedures rest on: message
// boxes, message pumping, CR LF text files, whole-file copy and delete,
// directory listing, environment, embedded resources, program information,
// the run-time error type, and showing and ending windows.
//
// Services that would block a test (message boxes, ending the program) can be
// replaced by hooks that record instead.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QApplication;
class QComboBox;
class QMessageBox;
class QWidget;

namespace korvalinfe {

// ---------------------------------------------------------------- program information

inline constexpr const char* kProgramTitle = "KorvalinFE";
inline constexpr int kVersionMajor = 0;
inline constexpr int kVersionMinor = 1;
inline constexpr int kVersionRevision = 6;

// Names the application and sets its icon. No display name is set: the
// toolkit would append it to every window and message box title.
void setUpApplication(QApplication& app);

struct App {
    // Folder of the running executable, without a trailing '/' except for "/".
    static QString Path();
    // File name of the running executable without extension.
    static QString EXEName();
    // The program's title, used as caption of the notices that end the program.
    static QString Title() { return QString::fromLatin1(kProgramTitle); }
    static int Major() { return kVersionMajor; }
    static int Minor() { return kVersionMinor; }
    static int Revision() { return kVersionRevision; }
};

// ---------------------------------------------------------------- run-time errors

// Error numbers raised by the services below.
enum ErrorNumber : long {
    kErrInvalidArgument = 5,         // "Invalid procedure call or argument"
    kErrSubscriptRange = 9,          // "Subscript out of range"
    kErrFileNotFound = 53,           // "File not found"
    kErrDeviceIo = 57,               // "Device I/O error"
    kErrDiskFull = 61,               // "Disk full"
    kErrPastEndOfFile = 62,          // "Input past end of file"
    kErrPermissionDenied = 70,       // "Permission denied"
    kErrPathFileAccess = 75,         // "Path/File access error"
    kErrPathNotFound = 76,           // "Path not found"
    kErrResourceNotFound = 326,      // "Resource with identifier 'n' not found"
    kErrInvalidPropertyValue = 380,  // "Invalid property value"
};

// A failure with number, description and source. Classes raise it to their
// caller; handlers catch it in their error branch.
class RuntimeError : public std::exception {
  public:
    RuntimeError(long number, QString source, QString description);
    long Number() const { return number_; }
    const QString& Source() const { return source_; }
    const QString& Description() const { return description_; }
    const char* what() const noexcept override { return what_.c_str(); }

  private:
    long number_;
    QString source_;
    QString description_;
    std::string what_;
};

// Raises RuntimeError(number, source, description).
[[noreturn]] void raiseError(long number, const QString& source, const QString& description);
// Raises a standard error with the program title as source and the standard
// description of that number.
[[noreturn]] void raiseError(long number);
// Raises the error that corresponds to a system error code (errno) of a file operation.
[[noreturn]] void raiseFileError(int systemError);

// The last system error code (errno) recorded by a platform call of these services.
int lastDllError();
void setLastDllError(int code);

// ---------------------------------------------------------------- message boxes

enum class MsgIcon { Error, Warning, Information, Question };

struct ShownMessage {
    QString text;
    MsgIcon icon;
    QString caption;
    bool question = false;  // asked with Yes and No buttons
};

// Modal message box; returns when the user has closed it.
void msgBox(QWidget* owner, const QString& text, MsgIcon icon, const QString& caption);
// Modal question with Yes and No (No is the default); true for Yes.
bool askYesNo(QWidget* owner, const QString& text, const QString& caption);

// The box msgBox shows, not yet shown: titled exactly by caption, and centred
// on owner's window when that is on screen, else on the nearest window on
// screen that opened it, else on the screen.
std::unique_ptr<QMessageBox> makeMessageBox(QWidget* owner, const QString& text, MsgIcon icon,
                                            const QString& caption);

// Replaces every message box by a call of hook, whose result answers a
// question (nullptr restores real boxes).
using MessageBoxHook = std::function<bool(const ShownMessage&)>;
void setMessageBoxHook(MessageBoxHook hook);

// Records the message boxes shown during its lifetime instead of showing
// them; questions get answer.
class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;
    std::vector<ShownMessage> messages;
    bool answer = true;
};

// ---------------------------------------------------------------- message pumping

// Handles every event that is waiting, running the handlers they call, then
// returns; never waits for new events.
void doEvents();

// ---------------------------------------------------------------- windows and controls

// Shows a window not modal, bringing it forward when it is already shown.
void showModeless(QWidget* window);

// Ends the program at once: no further handler runs and no window gets a close
// event. With a test hook installed the hook runs instead and this returns, so
// callers return straight after calling it.
void endProgram();
using EndProgramHook = std::function<void()>;
void setEndProgramHook(EndProgramHook hook);

// Chooses the entry of a drop-down list that equals text; a text that is no
// entry raises kErrInvalidPropertyValue and leaves the choice unchanged.
void chooseListEntry(QComboBox* list, const QString& text);

// ---------------------------------------------------------------- files

// Reads a text file line by line. The line end (CR LF, or a lone LF or CR) is
// not part of the line. Text is taken as UTF-8, the system's 8-bit encoding.
class TextFileReader {
  public:
    // Opens an existing file; raises a RuntimeError when it cannot be opened.
    explicit TextFileReader(const QString& path);
    bool atEnd() const;
    // The next line; raises kErrPastEndOfFile when atEnd() is true.
    QString readLine();
    void close();

  private:
    QByteArray data_;
    qsizetype pos_ = 0;
};

// Creates a text file or replaces its content; every line is followed by CR LF.
class TextFileWriter {
  public:
    explicit TextFileWriter(const QString& path);
    // Raises a RuntimeError when the line cannot be written.
    void writeLine(const QString& text);
    // Flushes and closes; raises a RuntimeError when the data could not be written.
    void close();

  private:
    QFile file_;
};

// Reads a whole file as bytes; raises a RuntimeError on failure.
QByteArray readBinaryFile(const QString& path);
// Creates (or replaces) path with bytes unchanged. The data goes to a temporary
// file that replaces the target only when complete, so a failed write never
// leaves a truncated file behind.
void writeBinaryFile(const QString& path, const QByteArray& bytes);
// Copies a whole file, replacing a target of the same name.
void fileCopy(const QString& source, const QString& target);
// Removes one file.
void killFile(const QString& path);

// Directory listing: the first name that matches path (a file or folder path,
// whose last component may hold the wildcards '*' and '?'; a path ending in
// '/' lists the folder), or an empty text when nothing matches. Folders match
// only when includeFolders is set; sockets, devices and other special files
// never match; names starting with '.' are hidden and never match a wildcard.
QString dirFirst(const QString& path, bool includeFolders);

// ---------------------------------------------------------------- environment, resources

// The value of an environment variable, or an empty text when it is unset.
QString environValue(const QString& name);

// Embedded resource number n of type "CUSTOM" as bytes; raises
// kErrResourceNotFound when there is none.
QByteArray loadResData(int number, const QString& type = QStringLiteral("CUSTOM"));

}  // namespace korvalinfe
