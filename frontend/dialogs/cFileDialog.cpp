#include "dialogs/cFileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <utility>

#include "common/Toolkit.h"

namespace korvalinfe {

namespace {

constexpr qsizetype kSingleBufferSize = 1024;
constexpr qsizetype kMultiBufferSize = 8192;
const QChar kNul(u'\0');

cFileDialog::DialogHook& dialogHook() {
    static cFileDialog::DialogHook hook;
    return hook;
}

// Shows the toolkit's own file dialog for request; the chosen paths, or an
// empty list for a cancel.
QStringList runDialog(cFileDialog::Request& request) {
    QFileDialog dialog(request.owner, request.title, request.initDir);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (request.save)
        dialog.setFileMode(QFileDialog::AnyFile);
    else if (request.flags & cFileDialog::kAllowMultiSelect)
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else if (request.flags & cFileDialog::kFileMustExist)
        dialog.setFileMode(QFileDialog::ExistingFile);
    else
        dialog.setFileMode(QFileDialog::AnyFile);
    if (request.save && !(request.flags & cFileDialog::kOverwritePrompt))
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.nameFilters.isEmpty()) {
        dialog.setNameFilters(request.nameFilters);
        const qsizetype index = request.filterIndex - 1;
        if (index >= 0 && index < request.nameFilters.size())
            dialog.selectNameFilter(request.nameFilters[index]);
    }
    if (!request.defaultExt.isEmpty()) dialog.setDefaultSuffix(request.defaultExt);
    if (!request.filename.isEmpty()) dialog.selectFile(request.filename);
    if (dialog.exec() != QDialog::Accepted) return {};
    const qsizetype chosen = request.nameFilters.indexOf(dialog.selectedNameFilter());
    if (chosen >= 0) request.filterIndex = static_cast<std::int32_t>(chosen + 1);
    return dialog.selectedFiles();
}

// The folder that holds path, without a trailing '/' except for "/".
QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

}  // namespace

cFileDialog::cFileDialog() = default;

QString cFileDialog::StripNull(const QString& text) {
    const qsizetype nul = text.indexOf(kNul);
    return nul < 0 ? text : text.left(nul);
}

std::vector<std::pair<QString, QString>> cFileDialog::filterPairs(const QString& sFilter) {
    QString split = sFilter;
    split.replace(u'|', kNul).replace(u':', kNul);
    const QStringList parts = split.split(kNul);
    std::vector<std::pair<QString, QString>> pairs;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) pairs.emplace_back(parts[i], parts[i + 1]);
    // A description without its pattern lists nothing.
    return pairs;
}

QStringList cFileDialog::nameFilters(const QString& sFilter) {
    QStringList filters;
    for (const auto& [description, pattern] : filterPairs(sFilter)) {
        // The toolkit separates patterns by blanks; the filter text by ';'.
        const QString patterns = pattern.split(u';', Qt::SkipEmptyParts).join(u' ').trimmed();
        const QString suffix = QStringLiteral("(") + patterns + u')';
        QString label = description.trimmed();
        if (label.endsWith(suffix)) label.chop(suffix.size());
        label = label.trimmed();
        filters.append(label.isEmpty() ? suffix : label + u' ' + suffix);
    }
    return filters;
}

void cFileDialog::setDialogHook(DialogHook hook) {
    dialogHook() = std::move(hook);
}

std::optional<QStringList> cFileDialog::show(Request& request) {
    request.owner = owner;
    request.title = sDialogTitle;
    request.initDir = sInitDir;
    request.nameFilters = nameFilters(sFilter);
    request.filterIndex = lFilterIndex;
    request.defaultExt = sDefaultExt;
    // The initial name is one path; a previous multiple selection offers none.
    request.filename = sFilename.contains(kNul) ? QString() : sFilename;

    std::optional<QStringList> chosen;
    if (dialogHook())
        chosen = dialogHook()(request);
    else
        chosen = runDialog(request);
    if (!chosen || chosen->isEmpty()) return std::nullopt;
    lFilterIndex = request.filterIndex;
    if (!(request.flags & kNoChangeDir)) QDir::setCurrent(folderOf(chosen->first()));
    return chosen;
}

void cFileDialog::raiseCancel(const char* className) const {
    raiseError(kErrCancel, App::EXEName() + QLatin1String(className),
               QStringLiteral("User selected cancel."));
}

void cFileDialog::ShowOpen() {
    Request request;
    request.flags = lFlags;
    const bool multi = (lFlags & kAllowMultiSelect) != 0;
    if (multi) request.flags |= kExplorer;
    const qsizetype bufferSize = multi ? kMultiBufferSize : kSingleBufferSize;
    if (sFilename.size() > bufferSize) raiseError(kErrInvalidArgument);

    const std::optional<QStringList> chosen = show(request);
    if (!chosen) {
        if (bCancelError) raiseCancel(".cFileDialog");
        return;
    }
    const QStringList& paths = *chosen;
    if (!multi) {
        sFilename = paths.first();
    } else if (paths.size() == 1) {
        // One file: its full path, ended like the list of several.
        sFilename = paths.first() + kNul + kNul;
    } else {
        // Several files: the folder, then each name, NUL-separated, two NULs at the end.
        const QString folder = folderOf(paths.first());
        const QDir base(folder);
        sFilename = folder;
        for (const QString& path : paths) sFilename += kNul + base.relativeFilePath(path);
        sFilename += kNul;
        sFilename += kNul;
    }
}

void cFileDialog::ShowSave() {
    Request request;
    request.save = true;
    request.flags = lFlags;
    if (sFilename.size() > kSingleBufferSize) raiseError(kErrInvalidArgument);

    const std::optional<QStringList> chosen = show(request);
    if (!chosen) {
        // The save dialog's cancel names its class as "cFilenDialog"; callers
        // that compare the source rely on that text.
        if (bCancelError) raiseCancel(".cFilenDialog");
        return;
    }
    sFilename = StripNull(chosen->first());
}

void cFileDialog::ParseMultiFileName(QString& sDir, QStringList& sFiles,
                                     std::int32_t& lFileCount) const {
    const qsizetype end = sFilename.indexOf(QString(2, kNul));
    if (end < 0) raiseError(kErrInvalidArgument);
    const QString list = sFilename.left(end);

    if (!list.contains(kNul)) {
        // One file: the full path.
        lFileCount = 1;
        const qsizetype slash = sFilename.lastIndexOf(u'/', end);
        if (slash < 0) {
            sDir.clear();
            sFiles = QStringList{StripNull(sFilename)};
        } else {
            sDir = sFilename.left(slash + 1);
            sFiles = QStringList{StripNull(sFilename.mid(slash + 1))};
        }
        return;
    }
    const QStringList pieces = list.split(kNul);
    sDir = pieces.first();
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        sFiles.append(pieces[i]);
        ++lFileCount;
    }
}

}  // namespace korvalinfe
