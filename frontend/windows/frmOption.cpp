#include "windows/frmOption.h"

#include <QCloseEvent>

#include "common/Module1.h"
#include "common/Toolkit.h"
#include "windows/FormLayout.h"
#include "windows/OptionLine.h"

namespace korvalinfe {

namespace {

const QString kOptionCaption = QStringLiteral("Option");

// A drop-down list of fixed entries, 1095 by 315 twips, with its top left at
// left, top.
QComboBox* makeList(QWidget* parent, int left, int top, const QStringList& entries) {
    auto* list = new QComboBox(parent);
    list->addItems(entries);
    list->setEditable(false);
    list->setCurrentIndex(-1);  // no entry chosen until the file names one
    place(list, left, top, 1095, 315);
    return list;
}

// One row of the Folders frame: a caption, the folder's box and its "..."
// button, the box and button with their top at top.
void folderRow(QWidget* frame, const QString& caption, int top, QLabel*& label, QLineEdit*& folder,
               QPushButton*& browse) {
    label = addControl<QLabel>(frame, 150, top + 60, 1095, 255, caption);
    folder = addControl<QLineEdit>(frame, 1290, top, 4500, 315);
    browse = addControl<QPushButton>(frame, 5910, top, 345, 315, QStringLiteral("..."));
}

QStringList numberEntries(int first, int last) {
    QStringList entries;
    for (int n = first; n <= last; ++n) entries.append(QString::number(n));
    return entries;
}

}  // namespace

frmOption::frmOption(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmOption"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Option"));
    setFont(formFont());
    buildControls();
    Form_Load();
}

QString frmOption::OptionFile() {
    return AppPath() + QStringLiteral("korvalin.cfg");
}

void frmOption::buildControls() {
    Frame4 = addControl<QGroupBox>(this, 210, 180, 6435, 1095, QStringLiteral("Folders"));
    folderRow(Frame4, QStringLiteral("Sample Folder:"), 240, Label1, txtSampleDir, cmdSampleDir);
    folderRow(Frame4, QStringLiteral("Output Folder:"), 630, Label2, txtOutputDir, cmdOutputDir);

    Frame2 = addControl<QGroupBox>(this, 210, 1380, 3135, 3015, QStringLiteral("General Option"));
    ChkDirtyEnd = addControl<QCheckBox>(Frame2, 240, 360, 2025, 195,
                                        QStringLiteral("XM is meant for looping"));
    ChkTweakVol =
        addControl<QCheckBox>(Frame2, 240, 780, 1635, 285, QStringLiteral("Tweak Volume"));
    Chk8Bit =
        addControl<QCheckBox>(Frame2, 240, 1170, 2235, 375, QStringLiteral("Force 8 bit samples"));
    Label3 = addControl<QLabel>(Frame2, 270, 1770, 1365, 345, QStringLiteral("Max Sample Rate"));
    cbMaxRate =
        makeList(Frame2, 1800, 1710,
                 {QStringLiteral("8000"), QStringLiteral("11025"), QStringLiteral("12000"),
                  QStringLiteral("16000"), QStringLiteral("22050"), QStringLiteral("24000"),
                  QStringLiteral("32000"), QStringLiteral("44100"), QStringLiteral("48000")});
    Label4 = addControl<QLabel>(Frame2, 270, 2190, 1455, 285, QStringLiteral("Max # of Channels"));
    cbMaxCh = makeList(Frame2, 1800, 2130, numberEntries(1, 32));

    Frame1 = addControl<QGroupBox>(this, 3510, 1380, 3135, 1635, QStringLiteral("Convert Method"));
    OptNewMethod = addControl<QRadioButton>(Frame1, 240, 300, 2505, 255,
                                            QStringLiteral("New Method (Recommended)"));
    OptOldMethod = addControl<QRadioButton>(Frame1, 240, 630, 2595, 345,
                                            QStringLiteral("Old Method (Smaller XM's size)"));
    ChkQuantisize =
        addControl<QCheckBox>(Frame1, 390, 1080, 1095, 405, QStringLiteral("Quantisize"));
    cbQuantisize = makeList(Frame1, 1590, 1140, numberEntries(1, 16));
    methodGroup = new QButtonGroup(this);
    methodGroup->addButton(OptNewMethod);
    methodGroup->addButton(OptOldMethod);
    OptNewMethod->setChecked(true);
    ChkQuantisize->setEnabled(false);
    cbQuantisize->setEnabled(false);

    Frame3 = addControl<QGroupBox>(this, 3510, 3120, 3135, 1275, QStringLiteral("MIDI Options"));
    ChkNoPan = addControl<QCheckBox>(Frame3, 240, 300, 2595, 375,
                                     QStringLiteral("Disable MIDI controlled panning"));
    Label6 = addControl<QLabel>(Frame3, 240, 870, 1515, 255, QStringLiteral("Percussion Channel"));
    cbPercussion = makeList(Frame3, 1830, 810, numberEntries(1, 9));

    // The method buttons and the Quantisize box act on every change of their
    // value, whether the user or GetSettings makes it.
    connect(OptNewMethod, &QRadioButton::toggled, this, [this](bool on) {
        if (on) OptNewMethod_Click();
    });
    connect(OptOldMethod, &QRadioButton::toggled, this, [this](bool on) {
        if (on) OptOldMethod_Click();
    });
    connect(ChkQuantisize, &QCheckBox::toggled, this, [this](bool) { ChkQuantisize_Click(); });
    connect(cmdSampleDir, &QPushButton::clicked, this, [this] { cmdSampleDir_Click(); });
    connect(cmdOutputDir, &QPushButton::clicked, this, [this] { cmdOutputDir_Click(); });

    setTabOrderChain({Frame3,       cbPercussion,  ChkNoPan,     Label6,       Frame1,
                      cbQuantisize, ChkQuantisize, OptOldMethod, OptNewMethod, Frame2,
                      ChkTweakVol,  cbMaxRate,     cbMaxCh,      Chk8Bit,      ChkDirtyEnd,
                      Label3,       Label4,        Frame4,       txtOutputDir, cmdOutputDir,
                      cmdSampleDir, txtSampleDir,  Label2,       Label1});

    setFixedSize(twips(210 + 6435 + 210), twips(1380 + 3015 + 210));
}

void frmOption::Form_Load() {
    GetSettings();
}

void frmOption::GetSettings() {
    const QString optionFile = OptionFile();
    if (!FileExists(optionFile)) return;
    aSettingLines.clear();
    try {
        {
            TextFileReader file(optionFile);
            // Every non-empty line is kept, however many there are, so that a
            // long file is read as a whole and not dropped at the next save.
            while (!file.atEnd()) {
                const QString line = file.readLine();
                doEvents();
                if (!line.isEmpty()) aSettingLines.push_back(line);
            }
            file.close();
        }
        // A value that is not an entry of its list skips only its own line.
        QStringList rejected;
        for (QString& line : aSettingLines) {
            try {
                applySettingLine(line);
            } catch (const RuntimeError&) {
                const QString value = optionValue(line, StringTokenizer(line));
                rejected.append(QStringLiteral("korvalin.cfg: the line \"%1\" has the value "
                                               "\"%2\", which this window cannot show; the line "
                                               "is skipped and not saved again.")
                                    .arg(line, value));
            }
            line.clear();
        }
        if (!rejected.isEmpty())
            msgBox(this, rejected.join(QStringLiteral("\r\n")), MsgIcon::Warning, kOptionCaption);
        if (OptNewMethod->isChecked()) cbQuantisize->setEnabled(false);
    } catch (const RuntimeError& error) {
        msgBox(this, error.Description(), MsgIcon::Error, kOptionCaption);
    }
}

void frmOption::applySettingLine(const QString& sLine) {
    const QString word = StringTokenizer(sLine);
    const QString value = optionValue(sLine, word);
    if (word == u"-sampd") {
        txtSampleDir->setText(value);
        sLoadedSampleDir = txtSampleDir->text();
    } else if (word == u"-outd") {
        txtOutputDir->setText(value);
    } else if (word == u"-dirtyend") {
        ChkDirtyEnd->setChecked(true);
    } else if (word == u"-tweakvol") {
        ChkTweakVol->setChecked(true);
    } else if (word == u"-8bit") {
        Chk8Bit->setChecked(true);
    } else if (word == u"-maxrate") {
        chooseListEntry(cbMaxRate, value);
    } else if (word == u"-maxch") {
        chooseListEntry(cbMaxCh, value);
    } else if (word == u"-small") {
        OptOldMethod->setChecked(true);
    } else if (word == u"-qnt") {
        ChkQuantisize->setChecked(true);
        // Earlier versions wrote "-qnt " without a value when no entry was
        // chosen; that line only ticks the box.
        if (!value.isEmpty()) chooseListEntry(cbQuantisize, value);
    } else if (word == u"-nopan") {
        ChkNoPan->setChecked(true);
    } else if (word == u"-perch") {
        chooseListEntry(cbPercussion, value);
    }
}

QStringList frmOption::WriteSettings() {
    const QString optionFile = OptionFile();
    QStringList missing;
    if (!FileExists(optionFile)) return missing;
    // Each folder line is written when its folder exists. A folder that does
    // not exist is named, so the converter never falls back on a default
    // without the user knowing.
    auto folderLine = [&missing](TextFileWriter& file, const QString& word, const QString& name,
                                 const QString& folder) {
        if (trimBlanks(folder).isEmpty()) return;
        if (DirExists(folder)) {
            file.writeLine(word + optionFileFolder(folder));
        } else {
            missing.append(
                QStringLiteral("%1 \"%2\" does not exist; it is not saved.").arg(name, folder));
        }
    };
    try {
        TextFileWriter file(optionFile);
        folderLine(file, QStringLiteral("-sampd "), QStringLiteral("Sample Folder"),
                   txtSampleDir->text());
        folderLine(file, QStringLiteral("-outd "), QStringLiteral("Output Folder"),
                   txtOutputDir->text());
        if (ChkDirtyEnd->isChecked()) file.writeLine(QStringLiteral("-dirtyend "));
        if (ChkTweakVol->isChecked()) file.writeLine(QStringLiteral("-tweakvol "));
        if (Chk8Bit->isChecked()) file.writeLine(QStringLiteral("-8bit "));
        if (cbMaxRate->currentIndex() >= 0)
            file.writeLine(QStringLiteral("-maxrate ") + cbMaxRate->currentText());
        if (cbMaxCh->currentIndex() >= 0)
            file.writeLine(QStringLiteral("-maxch ") + cbMaxCh->currentText());
        if (OptOldMethod->isChecked()) file.writeLine(QStringLiteral("-small "));
        // Written whenever ticked, also while the new method disables the box,
        // but only with a value: the converter would take the next line's
        // option word as the value of a bare "-qnt".
        if (ChkQuantisize->isChecked() && cbQuantisize->currentIndex() >= 0)
            file.writeLine(QStringLiteral("-qnt ") + cbQuantisize->currentText());
        if (ChkNoPan->isChecked()) file.writeLine(QStringLiteral("-nopan "));
        if (cbPercussion->currentIndex() >= 0)
            file.writeLine(QStringLiteral("-perch ") + cbPercussion->currentText());
        file.close();
    } catch (const RuntimeError& error) {
        msgBox(this, error.Description(), MsgIcon::Error, kOptionCaption);
    }
    return missing;
}

void frmOption::closeEvent(QCloseEvent* event) {
    Form_Unload();
    QWidget::closeEvent(event);
}

void frmOption::Form_Unload() {
    const QStringList missing = WriteSettings();
    if (!missing.isEmpty())
        msgBox(this, missing.join(QStringLiteral("\r\n")), MsgIcon::Warning, kOptionCaption);
    // The main window takes the sample folder only at start.
    if (txtSampleDir->text() != sLoadedSampleDir) {
        msgBox(this,
               QStringLiteral("Sample Directory was change, please restart program to take it "
                              "effect."),
               MsgIcon::Warning, App::Title());
        hide();
        endProgram();
    }
}

void frmOption::cmdSampleDir_Click() {
    const QString folder = BrowseForFolder(this, QStringLiteral("Please select a folder."));
    if (!folder.isEmpty()) txtSampleDir->setText(folder);
}

void frmOption::cmdOutputDir_Click() {
    const QString folder = BrowseForFolder(this, QStringLiteral("Please select a folder."));
    if (!folder.isEmpty()) txtOutputDir->setText(folder);
}

void frmOption::OptNewMethod_Click() {
    ChkQuantisize->setEnabled(false);
    cbQuantisize->setEnabled(false);
}

void frmOption::OptOldMethod_Click() {
    ChkQuantisize->setEnabled(true);
    cbQuantisize->setEnabled(true);
}

void frmOption::ChkQuantisize_Click() {
    cbQuantisize->setEnabled(ChkQuantisize->isChecked());
}

}  // namespace korvalinfe
