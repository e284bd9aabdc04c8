// frmMain: the front end's main window. Places the converter and its option
// file, lets the user choose MIDI files, places the work files the converter
// reads from its working directory next to them, runs the converter for all
// chosen files and shows its output as it arrives.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "dialogs/cFileDialog.h"
#include "runner/ReadOutput.h"

class QCloseEvent;
class QKeyEvent;

namespace korvalinfe {

class frmHelp;
class frmOption;

class frmMain : public QWidget {
    Q_OBJECT

  public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Places the converter and the option file and reads the sample folder
    // option. False when the program ends here (the option file was just
    // created and the user was asked to restart).
    bool Form_Load();

    void cmdBrowse_Click();
    void cmdConvert_Click();
    void cmdOption_Click();
    void cmdHelp_Click();

    // The converter's file name in the converter folder.
    static QString ConverterName();

    QGroupBox* Frame1 = nullptr;
    QLineEdit* txtSource = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QPushButton* cmdConvert = nullptr;
    QPushButton* cmdOption = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QListWidget* lstFiles = nullptr;
    ReadOutput* ReadOutput1 = nullptr;
    QLabel* lblStatus = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* cmdHelp = nullptr;

    QString sOptionFile;
    QString sSampleOption;
    QString sWorkPatchMap;
    QString sWorkOptionFile;
    QString vCommandLine;

    // The windows opened from here, while they are open.
    QPointer<frmOption> optionWindow;
    QPointer<frmHelp> helpWindow;

  protected:
    // While a conversion runs, closing asks whether to stop it first.
    void closeEvent(QCloseEvent* event) override;
    // Escape while converting offers to stop the run.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Form_Unload();
    void ReadOutput1_Error(const QString& Error, std::int32_t LastDLLError);
    void ReadOutput1_GotChunk(const QString& sChunk, bool LastChunk);
    void ReadOutput1_Complete();

    void buildControls();
    void connectControls();
    // Shows the dialog's choice in lstFiles and txtSource; sDir is its folder.
    void showSelection(const QString& sDir, const QStringList& sFiles);
    // After a failed Browse: no selection anywhere, and no work files left
    // unless a running conversion still needs them.
    void clearSelection();
    // Asks whether to stop the running conversion; on yes asks the runner to
    // end it. True for yes.
    bool askToStop();
    // Winds up a run that was stopped: work files removed, the user's own
    // files back, and the window closed when that was asked for.
    void finishStoppedRun();
    // Puts the default patch map (when the folder has none) and a copy of the
    // option file at the work paths, remembering what was placed.
    void placeWorkFiles();
    // Removes every work file placed since the last clean-up and puts back
    // any file of the user's that an option file copy replaced.
    void removeWorkFiles();

    // A work file put in place by this window. A user's own file that was in
    // the way is kept under sSavedAs until the work file is removed.
    struct PlacedFile {
        QString sPath;
        QString sSavedAs;
    };

    std::unique_ptr<cFileDialog> oFileDialog;
    // The chosen files' folder; the converter runs there.
    QString sWorkFolder;
    std::vector<PlacedFile> placedFiles;
    // The work files of the current selection are in place.
    bool bWorkFilesPlaced = false;
    // The folder of the last files chosen; the next Browse starts there.
    QString sLastFolder;
    // The user asked to stop the running conversion, and to close afterwards.
    bool bStopRequested = false;
    bool bCloseAfterStop = false;
};

}  // namespace korvalinfe
