#include "windows/frmMain.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPalette>
#include <QScrollBar>
#include <QStringList>
#include <QTextCursor>
#include <cerrno>
#include <utility>

#include "common/Module1.h"
#include "common/Toolkit.h"
#include "windows/FormLayout.h"
#include "windows/OptionLine.h"
#include "windows/frmHelp.h"
#include "windows/frmOption.h"

namespace korvalinfe {

namespace {

constexpr QChar kSeparator = u'/';

// The folder of the program's own files without its trailing '/', except for
// the root: the default sample and output folder of a new option file.
QString programFolder() {
    QString folder = AppPath();
    if (folder.size() > 1 && folder.endsWith(kSeparator)) folder.chop(1);
    return folder;
}

// A free name next to sPath under which a user's own file is kept meanwhile.
QString savedName(const QString& sPath) {
    QString candidate = sPath + QStringLiteral(".saved");
    for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = sPath + QStringLiteral(".saved") + QString::number(n);
    return candidate;
}

// True when anything, even a dangling link or an unreadable file, lies at sPath.
bool entryExists(const QString& sPath) {
    const QFileInfo info(sPath);
    return info.exists() || info.isSymLink();
}

void renameOrRaise(const QString& from, const QString& to) {
    errno = 0;
    if (!QFile::rename(from, to)) raiseFileError(errno != 0 ? errno : EACCES);
}

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Korvalin FrontEnd - Convert MIDI to XM v"));
    setFont(formFont());
    buildControls();
}

frmMain::~frmMain() = default;

QString frmMain::ConverterName() {
    return QStringLiteral("korvalin");
}

void frmMain::buildControls() {
    Frame1 = addControl<QGroupBox>(this, 90, 60, 7395, 4875, QStringLiteral("Midi to convert:"));

    txtSource = addControl<QLineEdit>(Frame1, 120, 270, 5925, 315);
    txtSource->setReadOnly(true);

    cmdBrowse = addControl<QPushButton>(Frame1, 6150, 270, 1095, 345, QStringLiteral("Browse..."));
    cmdConvert = addControl<QPushButton>(Frame1, 6150, 720, 1095, 345, QStringLiteral("Convert!"));
    cmdOption = addControl<QPushButton>(Frame1, 6150, 1170, 1095, 345, QStringLiteral("Option..."));

    Text1 = addControl<QPlainTextEdit>(Frame1, 150, 720, 5895, 3675);
    Text1->setReadOnly(true);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette output = Text1->palette();
    output.setColor(QPalette::Base, Qt::black);
    output.setColor(QPalette::Text, Qt::green);
    Text1->setPalette(output);

    lstFiles = addControl<QListWidget>(Frame1, 6270, 2130, 975, 1425);

    ReadOutput1 = new ReadOutput(Frame1);
    ReadOutput1->hide();

    lblStatus = addControl<QLabel>(Frame1, 150, 4470, 5895, 255, QStringLiteral("Status: Idle"));

    // Its font is set before it is placed: the caption's room depends on it.
    Label1 = new QLabel(QStringLiteral("Korvalin"), Frame1);
    Label1->setFont(formFont(12, true));
    place(Label1, 6240, 4440, 1065, 375);

    // On the window itself, drawn over the frame.
    cmdHelp = addControl<QPushButton>(this, 6240, 1680, 1095, 345, QStringLiteral("Help"));
    cmdHelp->raise();

    setTabOrderChain({Frame1, txtSource, cmdBrowse, cmdConvert, Text1, cmdOption, lstFiles,
                      lblStatus, Label1, cmdHelp});

    connectControls();
    setFixedSize(twips(90 + 7395 + 90), twips(60 + 4875 + 90));
}

void frmMain::connectControls() {
    connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });
    connect(cmdConvert, &QPushButton::clicked, this, [this] { cmdConvert_Click(); });
    connect(cmdOption, &QPushButton::clicked, this, [this] { cmdOption_Click(); });
    connect(cmdHelp, &QPushButton::clicked, this, [this] { cmdHelp_Click(); });
    connect(ReadOutput1, &ReadOutput::Error, this,
            [this](const QString& error, std::int32_t code) { ReadOutput1_Error(error, code); });
    connect(ReadOutput1, &ReadOutput::GotChunk, this,
            [this](const QString& chunk, bool last) { ReadOutput1_GotChunk(chunk, last); });
    connect(ReadOutput1, &ReadOutput::Complete, this, [this] { ReadOutput1_Complete(); });
}

bool frmMain::Form_Load() {
    setWindowTitle(windowTitle() + QString::number(App::Major()) + QStringLiteral(".") +
                   QString::number(App::Minor()) + QString::number(App::Revision()));
    oFileDialog = std::make_unique<cFileDialog>();

    const QString converter = WindowsPath() + ConverterName();
    try {
        // The converter that runs is always the one this program carries: a
        // copy left by an earlier version, or altered since, is replaced.
        RefreshResource(kResConverter, converter);
    } catch (const RuntimeError& error) {
        // Without the converter nothing converts, but the options still work.
        msgBox(this,
               QStringLiteral("Cannot write the converter ") + converter + QStringLiteral(": ") +
                   error.Description(),
               MsgIcon::Error, QStringLiteral("Error"));
    }

    sOptionFile = AppPath() + QStringLiteral("korvalin.cfg");
    const QString defaultSampleOption =
        QStringLiteral("-sampd ") + optionFileFolder(programFolder());

    if (FileExists(sOptionFile)) {
        try {
            TextFileReader file(sOptionFile);
            if (!file.atEnd()) {
                // Only the first line is looked at.
                const QString line = file.readLine();
                sSampleOption = line.left(6) == u"-sampd" ? line : defaultSampleOption;
            }
            file.close();
        } catch (const RuntimeError& error) {
            sSampleOption = defaultSampleOption;
            msgBox(this, QStringLiteral("Error: ") + error.Description(), MsgIcon::Error,
                   QStringLiteral("Error"));
        }
        return true;
    }

    try {
        TextFileWriter file(sOptionFile);
        for (const QString& line : defaultOptionLines(programFolder())) file.writeLine(line);
        file.close();
    } catch (const RuntimeError& error) {
        // No option file can be kept: the converter then runs on its defaults
        // with the program folder as sample folder.
        sSampleOption = defaultSampleOption;
        msgBox(this, QStringLiteral("Error: ") + error.Description(), MsgIcon::Error,
               QStringLiteral("Error"));
        return true;
    }
    msgBox(this,
           QStringLiteral("korvalin.cfg was created, please restart program to take it effect."),
           MsgIcon::Warning, App::Title());
    endProgram();
    return false;
}

void frmMain::cmdBrowse_Click() {
    try {
        oFileDialog->DialogTitle(QStringLiteral("Choose Midi Files"));
        oFileDialog->CancelError(false);
        oFileDialog->hwnd(this);
        oFileDialog->flags(cFileDialog::kExplorer | cFileDialog::kFileMustExist |
                           cFileDialog::kAllowMultiSelect);
        // Where the user's music is: the last chosen files' folder, else home.
        oFileDialog->InitDir(sLastFolder.isEmpty() ? QDir::homePath() : sLastFolder);
        oFileDialog->Filter(QStringLiteral("Midi Files (*.mid)|*.mid"));
        oFileDialog->FilterIndex(1);
        oFileDialog->ShowOpen();

        lstFiles->clear();
        // A cancelled dialog keeps the previous selection, which is then used again.
        if (oFileDialog->Filename().isEmpty()) return;

        QString sDir;
        QStringList sFiles;
        std::int32_t lFileCount = 0;
        oFileDialog->ParseMultiFileName(sDir, sFiles, lFileCount);
        showSelection(sDir, sFiles);

        const QString folder = sDir.endsWith(kSeparator) ? sDir : sDir + kSeparator;
        sLastFolder = folder;
        sWorkFolder = folder;
        ReadOutput1->WorkingDirectory(sWorkFolder);
        sWorkPatchMap = folder + QStringLiteral("patch.cfg");
        sWorkOptionFile = folder + QStringLiteral("korvalin.cfg");
        bWorkFilesPlaced = false;
        placeWorkFiles();

        QString files;
        for (int i = 0; i < lstFiles->count(); ++i)
            files += shellQuoted(lstFiles->item(i)->text()) + QStringLiteral(" ");
        vCommandLine = QStringLiteral("korvalin ") + sampleOptionForShell(sSampleOption) +
                       QStringLiteral(" ") + files;
    } catch (const RuntimeError& error) {
        msgBox(this, QStringLiteral("Error: ") + error.Description(), MsgIcon::Error,
               QStringLiteral("Browse"));
        clearSelection();
    }
}

void frmMain::showSelection(const QString& sDir, const QStringList& sFiles) {
    if (sFiles.size() > 1) {
        QString source = sDir + QStringLiteral(" ");
        const QString prefix = sDir.endsWith(kSeparator) ? sDir : sDir + kSeparator;
        for (const QString& name : sFiles) {
            lstFiles->addItem(prefix + name);
            source += QStringLiteral("\"") + name + QStringLiteral("\" ");
        }
        txtSource->setText(source);
    } else {
        const QString path = cFileDialog::StripNull(oFileDialog->Filename());
        lstFiles->addItem(path);
        txtSource->setText(path);
    }
}

void frmMain::clearSelection() {
    // A half-made selection would run a command line that no longer matches
    // the list; Convert now finds nothing selected instead.
    lstFiles->clear();
    txtSource->clear();
    vCommandLine.clear();
    sWorkFolder.clear();
    ReadOutput1->WorkingDirectory(QString());
    if (ReadOutput1->Processing()) return;
    lblStatus->setText(QStringLiteral("Status: Idle"));
    removeWorkFiles();
}

void frmMain::placeWorkFiles() {
    auto isPlaced = [this](const QString& path) {
        for (const PlacedFile& placed : placedFiles)
            if (placed.sPath == path) return true;
        return false;
    };

    // A patch map already in the folder is used unchanged. The program
    // folder's own patch map is kept for good once written.
    if (!entryExists(sWorkPatchMap)) {
        ExtractResource(kResPatchMap, sWorkPatchMap);
        if (sWorkPatchMap != AppPath() + QStringLiteral("patch.cfg"))
            placedFiles.push_back({sWorkPatchMap, QString()});
    }

    if (sWorkOptionFile != sOptionFile) {
        if (!isPlaced(sWorkOptionFile) && entryExists(sWorkOptionFile)) {
            // The user's own option file makes way for the copy and comes back
            // when the work files are removed.
            const QString saved = savedName(sWorkOptionFile);
            renameOrRaise(sWorkOptionFile, saved);
            placedFiles.push_back({sWorkOptionFile, saved});
            fileCopy(sOptionFile, sWorkOptionFile);
        } else {
            fileCopy(sOptionFile, sWorkOptionFile);
            if (!isPlaced(sWorkOptionFile)) placedFiles.push_back({sWorkOptionFile, QString()});
        }
    }
    bWorkFilesPlaced = true;
}

void frmMain::removeWorkFiles() {
    std::vector<PlacedFile> failed;
    QString firstError;
    for (auto it = placedFiles.rbegin(); it != placedFiles.rend(); ++it) {
        try {
            if (entryExists(it->sPath)) killFile(it->sPath);
            if (!it->sSavedAs.isEmpty()) renameOrRaise(it->sSavedAs, it->sPath);
        } catch (const RuntimeError& error) {
            // Kept for the next clean-up, so a user's file is never given up.
            failed.push_back(*it);
            if (firstError.isEmpty())
                firstError = it->sPath + QStringLiteral(": ") + error.Description();
        }
    }
    placedFiles.assign(failed.rbegin(), failed.rend());
    bWorkFilesPlaced = false;
    if (!firstError.isEmpty())
        msgBox(this, QStringLiteral("Error: ") + firstError, MsgIcon::Error,
               QStringLiteral("Error"));
}

void frmMain::cmdConvert_Click() {
    try {
        if (lstFiles->count() == 0) {
            msgBox(this, QStringLiteral("No Midi files select."), MsgIcon::Warning,
                   QStringLiteral("Convert"));
            return;
        }
        // During a run the runner refuses a second command; the running
        // one's output and status stay as they are.
        if (!ReadOutput1->Processing()) {
            // A finished run removed the work files; a new run needs them again.
            if (!bWorkFilesPlaced) placeWorkFiles();
            Text1->clear();
            lblStatus->setText(QStringLiteral("Converting..."));
            doEvents();
        }

        ReadOutput1->SetCommand(trimBlanks(vCommandLine));
        ReadOutput1->ProcessCommand();
        if (bStopRequested && !ReadOutput1->Processing()) finishStoppedRun();
    } catch (const RuntimeError& error) {
        msgBox(this,
               error.Description() + QStringLiteral(" - ") + error.Source() +
                   QStringLiteral(" - ") + QString::number(error.Number()),
               MsgIcon::Error, QStringLiteral("Convert"));
    }
}

void frmMain::ReadOutput1_GotChunk(const QString& sChunk, bool /*LastChunk*/) {
    if (sChunk.isEmpty()) return;
    // The text box breaks lines at line feeds; a carriage return has no
    // place in it.
    QString text = sChunk;
    text.remove(u'\r');
    // The view follows the output unless the user has scrolled up to read.
    QScrollBar* bar = Text1->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(Text1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    if (following) bar->setValue(bar->maximum());
}

void frmMain::ReadOutput1_Error(const QString& Error, std::int32_t LastDLLError) {
    msgBox(this,
           QStringLiteral("Error!\r\nDescription: ") + Error +
               QStringLiteral("\r\nLastDLLError: ") + QString::number(LastDLLError),
           MsgIcon::Error, QStringLiteral("Error"));
}

void frmMain::ReadOutput1_Complete() {
    Text1->moveCursor(QTextCursor::End);
    Text1->ensureCursorVisible();
    lblStatus->setText(QStringLiteral("Done!"));
    unsetCursor();
    removeWorkFiles();
}

void frmMain::cmdOption_Click() {
    if (!optionWindow) optionWindow = new frmOption(this);
    showModeless(optionWindow);
}

void frmMain::cmdHelp_Click() {
    if (!helpWindow) {
        helpWindow = new frmHelp(this);
        helpWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    showModeless(helpWindow);
}

bool frmMain::askToStop() {
    if (!askYesNo(this, QStringLiteral("The converter is still running. Stop it?"),
                  QStringLiteral("Convert")))
        return false;
    // The runner ends the converter's whole process group before its next
    // read; cmdConvert_Click then winds the run up.
    bStopRequested = true;
    ReadOutput1->CancelProcess();
    return true;
}

void frmMain::finishStoppedRun() {
    bStopRequested = false;
    unsetCursor();
    if (lblStatus->text() != u"Done!") lblStatus->setText(QStringLiteral("Stopped."));
    removeWorkFiles();
    if (std::exchange(bCloseAfterStop, false)) close();
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && ReadOutput1->Processing()) {
        if (!bStopRequested) askToStop();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (ReadOutput1->Processing()) {
        // The window closes once the stopped run is cleaned up; "No" keeps
        // both the window and the run.
        if (bStopRequested || askToStop()) bCloseAfterStop = true;
        event->ignore();
        return;
    }
    // The options window writes the option file as it closes; closing it
    // first keeps the settings when the main window ends the program.
    if (optionWindow) optionWindow->close();
    Form_Unload();
    QWidget::closeEvent(event);
}

void frmMain::Form_Unload() {
    // Work files placed for a run that never came are taken away again, so a
    // user's own option file returns; a running converter still needs them.
    if (!ReadOutput1->Processing() && !placedFiles.empty()) removeWorkFiles();
    oFileDialog.reset();
}

}  // namespace korvalinfe
