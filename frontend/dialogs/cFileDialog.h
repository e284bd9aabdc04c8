// cFileDialog: the open and save file dialogs behind a small property
// interface. The caller sets properties, calls ShowOpen or ShowSave and reads
// Filename. After a multiple-selection open, Filename holds the selection in
// the NUL-separated form that ParseMultiFileName splits:
//   one file:       "<full path>\0\0"
//   several files:  "<folder>\0<name>\0<name>...\0\0"
// so a caller that wants one plain path uses StripNull(Filename()).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QWidget;

namespace korvalinfe {

class cFileDialog {
  public:
    // Dialog flags (the caller's flags word).
    enum : std::int32_t {
        kReadOnly = 0x1,
        kOverwritePrompt = 0x2,
        kHideReadOnly = 0x4,
        kNoChangeDir = 0x8,  // keep the current directory
        kAllowMultiSelect = 0x200,
        kPathMustExist = 0x800,
        kFileMustExist = 0x1000,
        kExplorer = 0x80000,
    };
    static constexpr long kErrCancel = 32755;

    cFileDialog();

    bool CancelError() const { return bCancelError; }
    void CancelError(bool bCancelErrorVal) { bCancelError = bCancelErrorVal; }
    QString Filename() const { return sFilename; }
    void Filename(const QString& sFilenameVal) { sFilename = sFilenameVal; }
    QString FileTitle() const { return sFileTitle; }
    void FileTitle(const QString& sFileTitleVal) { sFileTitle = sFileTitleVal; }
    QString Filter() const { return sFilter; }
    void Filter(const QString& sFilterVal) { sFilter = sFilterVal; }
    std::int32_t FilterIndex() const { return lFilterIndex; }
    void FilterIndex(std::int32_t lFilterIndexVal) { lFilterIndex = lFilterIndexVal; }
    QString DefaultExt() const { return sDefaultExt; }
    void DefaultExt(const QString& sDefaultExtVal) { sDefaultExt = sDefaultExtVal; }
    QString DialogTitle() const { return sDialogTitle; }
    void DialogTitle(const QString& sTitle) { sDialogTitle = sTitle; }
    std::int32_t flags() const { return lFlags; }
    void flags(std::int32_t lFlagsVal) { lFlags = lFlagsVal; }
    QWidget* hwnd() const { return owner; }
    void hwnd(QWidget* hwndVal) { owner = hwndVal; }
    QString InitDir() const { return sInitDir; }
    void InitDir(const QString& sInitDirVal) { sInitDir = sInitDirVal; }

    // Shows the open dialog; on success Filename holds the result. A cancel
    // raises kErrCancel when CancelError is set, otherwise Filename is kept.
    // Unless kNoChangeDir is set, the chosen files' folder becomes the current
    // directory.
    void ShowOpen();
    // The same with the save dialog; Filename is always one plain path.
    void ShowSave();

    // Splits the Filename of a multiple-selection open into the folder and the
    // names; appends to sFiles and counts in lFileCount. A Filename without the
    // closing pair of NULs raises kErrInvalidArgument.
    void ParseMultiFileName(QString& sDir, QStringList& sFiles, std::int32_t& lFileCount) const;

    // The characters before the first NUL; the whole text when it holds none.
    static QString StripNull(const QString& text);

    // The filter's (description, pattern) pairs: "|" and ":" both separate.
    static std::vector<std::pair<QString, QString>> filterPairs(const QString& sFilter);
    // The same pairs as the name filters of the toolkit's dialog, each
    // "Description (pattern pattern)"; a description that already ends in its
    // parenthesised patterns is not given them twice.
    static QStringList nameFilters(const QString& sFilter);

    // What a dialog was asked to show; passed to the test hook.
    struct Request {
        bool save = false;
        QString title;
        QString initDir;
        QString filename;  // initial file name
        QStringList nameFilters;
        std::int32_t filterIndex = 1;
        std::int32_t flags = 0;  // as copied into the dialog, kExplorer added for multi
        QString defaultExt;
        QWidget* owner = nullptr;
    };
    // Returns the chosen full paths, or nullopt (or an empty list) for a cancel.
    using DialogHook = std::function<std::optional<QStringList>(const Request&)>;
    // Replaces every dialog by hook (tests; nullptr restores the real dialogs).
    static void setDialogHook(DialogHook hook);

  private:
    std::optional<QStringList> show(Request& request);
    void raiseCancel(const char* className) const;

    bool bCancelError = false;
    QString sFilename;
    QString sFileTitle;
    QString sFilter;
    QString sDefaultExt;
    QString sInitDir;
    QString sDialogTitle;
    std::int32_t lFilterIndex = 1;
    std::int32_t lFlags = 0;
    QWidget* owner = nullptr;
};

}  // namespace korvalinfe
