// The main window: start-up, Browse (list, source text, work files, command
// line), Convert through the command runner, and the clean-up at Complete.
#include <QFile>
#include <QTimer>

#include "main_option_fixture.h"
#include "windows/frmHelp.h"
#include "windows/frmMain.h"
#include "windows/frmOption.h"

namespace korvalinfe::testing {
namespace {

// Stands in for the converter: shows where it runs, the words the shell gave
// it, and the work files it finds there.
const char kFakeConverter[] =
    "#!/bin/sh\n"
    "echo \"cwd=$(pwd)\"\n"
    "for word in \"$@\"; do echo \"arg=$word\"; done\n"
    "if [ -f patch.cfg ]; then echo patch=yes; else echo patch=no; fi\n"
    "if [ -f korvalin.cfg ]; then echo \"cfg=$(head -n 1 korvalin.cfg | tr -d '\\r')\"; fi\n";

class MainWindowTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        music = makeFolder(QStringLiteral("music"));
    }

    void writeOptionFile(const QStringList& lines) { writeAll(optionFile(), crlfLines(lines)); }

    void installFakeConverter() {
        const QString path = converterDir + frmMain::ConverterName();
        writeAll(path, kFakeConverter);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Creates the files and lets the dialog choose them.
    void choose(const QString& folder, const QStringList& names) {
        QStringList paths;
        for (const QString& name : names) {
            paths.append(folder + name);
            writeAll(folder + name, "MThd");
        }
        chosen = paths;
    }

    QStringList listed(const frmMain& window) const {
        QStringList items;
        for (int i = 0; i < window.lstFiles->count(); ++i) items.append(window.lstFiles->item(i)->text());
        return items;
    }

    QString music;
};

TEST_F(MainWindowTest, FirstStartWritesFourLinesAndEnds) {
    {
        frmMain window;
        EXPECT_FALSE(window.Form_Load());
    }
    EXPECT_EQ(readAll(optionFile()),
              crlfLines({QStringLiteral("-sampd ") + appFolder(),
                         QStringLiteral("-outd ") + appFolder(), QStringLiteral("-8bit "),
                         QStringLiteral("-maxch 32")}));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              QStringLiteral("korvalin.cfg was created, please restart program to take it effect."));
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("KorvalinFE"));
    EXPECT_EQ(programEnds, 1);
    // The converter was put in place from the embedded program.
    EXPECT_TRUE(QFileInfo(converterDir + frmMain::ConverterName()).isExecutable());

    // The next start goes on.
    frmMain window;
    EXPECT_TRUE(window.Form_Load());
    EXPECT_EQ(programEnds, 1);
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Korvalin FrontEnd - Convert MIDI to XM v0.16"));
    EXPECT_EQ(window.sSampleOption, QStringLiteral("-sampd ") + appFolder());
}

TEST_F(MainWindowTest, ProgramFolderWithABlankIsQuotedInTheNewOptionFile) {
    const QString app = makeFolder(QStringLiteral("my app"));
    overrideAppPath(app);
    const QString folder = app.left(app.size() - 1);
    {
        frmMain window;
        EXPECT_FALSE(window.Form_Load());
    }
    EXPECT_EQ(readAll(app + "korvalin.cfg"),
              crlfLines({"-sampd \"" + folder + "\"", "-outd \"" + folder + "\"",
                         QStringLiteral("-8bit "), QStringLiteral("-maxch 32")}));
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    EXPECT_EQ(window.sSampleOption, "-sampd \"" + folder + "\"");
}

TEST_F(MainWindowTest, SampleOptionComesFromTheFirstLineOnly) {
    struct Case {
        const char* name;
        QByteArray content;
        QString expected;
    };
    const Case cases[] = {
        {"sample folder first", "-sampd /srv/pats\r\n-outd /tmp\r\n", QStringLiteral("-sampd /srv/pats")},
        {"output folder first", "-outd /tmp\r\n-sampd /srv/pats\r\n",
         QStringLiteral("-sampd ") + appFolder()},
        {"empty file", "", QString()},
        {"quoted folder", "-sampd \"/srv/my pats\"\r\n", QStringLiteral("-sampd \"/srv/my pats\"")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAll(optionFile(), c.content);
        frmMain window;
        ASSERT_TRUE(window.Form_Load());
        EXPECT_EQ(window.sSampleOption, c.expected);
    }
}

TEST_F(MainWindowTest, ThreeFilesGiveListSourceAndCommandLine) {
    writeOptionFile({QStringLiteral("-sampd /srv/pats"), QStringLiteral("-maxch 16")});
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    choose(music, {QStringLiteral("a.mid"), QStringLiteral("b.mid"), QStringLiteral("c.mid")});
    window.cmdBrowse_Click();

    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title, QStringLiteral("Choose Midi Files"));
    EXPECT_EQ(requests[0].initDir, appFolder());
    EXPECT_TRUE(requests[0].flags & cFileDialog::kAllowMultiSelect);
    const QString dir = music.left(music.size() - 1);
    EXPECT_EQ(listed(window), (QStringList{dir + "/a.mid", dir + "/b.mid", dir + "/c.mid"}));
    EXPECT_EQ(window.txtSource->text(), dir + " \"a.mid\" \"b.mid\" \"c.mid\" ");
    EXPECT_EQ(window.vCommandLine, "korvalin -sampd /srv/pats \"" + dir + "/a.mid\" \"" + dir +
                                       "/b.mid\" \"" + dir + "/c.mid\" ");
    // The work files lie next to the chosen files.
    EXPECT_EQ(readAll(music + "patch.cfg"), loadResData(kResPatchMap));
    EXPECT_EQ(readAll(music + "korvalin.cfg"), readAll(optionFile()));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(MainWindowTest, OneFileAndEmptySampleOption) {
    writeAll(optionFile(), QByteArray());
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    choose(music, {QStringLiteral("song.mid")});
    window.cmdBrowse_Click();
    EXPECT_EQ(listed(window), QStringList{music + "song.mid"});
    EXPECT_EQ(window.txtSource->text(), music + "song.mid");
    EXPECT_EQ(window.vCommandLine, "korvalin  \"" + music + "song.mid\" ");
    EXPECT_EQ(window.sWorkPatchMap, music + "patch.cfg");
    EXPECT_EQ(window.sWorkOptionFile, music + "korvalin.cfg");
    EXPECT_TRUE(QFileInfo::exists(music + "patch.cfg"));
}

TEST_F(MainWindowTest, CancelledDialogRepeatsThePreviousSelection) {
    writeOptionFile({QStringLiteral("-sampd /p")});
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    choose(music, {QStringLiteral("a.mid"), QStringLiteral("b.mid")});
    window.cmdBrowse_Click();
    const QString line = window.vCommandLine;
    chosen.reset();
    window.cmdBrowse_Click();
    EXPECT_EQ(listed(window).size(), 2);
    EXPECT_EQ(window.vCommandLine, line);
}

TEST_F(MainWindowTest, ConvertWithNothingChosenWarns) {
    writeOptionFile({QStringLiteral("-sampd /p")});
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    window.cmdConvert_Click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("No Midi files select."));
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Convert"));
    EXPECT_EQ(window.lblStatus->text(), QStringLiteral("Status: Idle"));
}

TEST_F(MainWindowTest, FilesInTheProgramFolderAreNeitherCopiedNorDeleted) {
    writeOptionFile({QStringLiteral("-sampd /p"), QStringLiteral("-nopan ")});
    writeAll(appDir + "patch.cfg", "0 mine.pat 0 1000\r\n");
    installFakeConverter();
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    const QStringList before = entriesOf(appDir);
    choose(appDir, {QStringLiteral("a.mid"), QStringLiteral("b.mid")});
    window.cmdBrowse_Click();
    window.cmdConvert_Click();
    EXPECT_EQ(window.lblStatus->text(), QStringLiteral("Done!"));
    EXPECT_EQ(readAll(optionFile()), crlfLines({QStringLiteral("-sampd /p"), QStringLiteral("-nopan ")}));
    EXPECT_EQ(readAll(appDir + "patch.cfg"), QByteArray("0 mine.pat 0 1000\r\n"));
    QStringList expected = before + QStringList({"a.mid", "b.mid"});
    expected.sort();
    EXPECT_EQ(entriesOf(appDir), expected);
}

// A patch map or option file of the user's own in the chosen folder is used
// or replaced during the run, and is there unchanged afterwards.
TEST_F(MainWindowTest, UsersOwnWorkFilesSurviveTheRun) {
    struct Case {
        const char* name;
        bool ownPatchMap;
        bool ownOptionFile;
    };
    const Case cases[] = {
        {"neither", false, false},
        {"own patch map", true, false},
        {"own option file", false, true},
        {"both", true, true},
    };
    writeOptionFile({QStringLiteral("-sampd /p"), QStringLiteral("-tweakvol ")});
    installFakeConverter();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = makeFolder(QStringLiteral("case%1").arg(++n));
        if (c.ownPatchMap) writeAll(folder + "patch.cfg", "own map\r\n");
        if (c.ownOptionFile) writeAll(folder + "korvalin.cfg", "-perch 3\r\n");
        choose(folder, {QStringLiteral("x.mid")});
        QStringList before = entriesOf(folder);

        frmMain window;
        ASSERT_TRUE(window.Form_Load());
        window.cmdBrowse_Click();
        // Browsing twice must not take the first copy for the user's file.
        window.cmdBrowse_Click();
        EXPECT_EQ(readAll(folder + "korvalin.cfg"), readAll(optionFile()));
        if (c.ownPatchMap) {
            EXPECT_EQ(readAll(folder + "patch.cfg"), QByteArray("own map\r\n"));
        }
        window.cmdConvert_Click();
        EXPECT_TRUE(window.Text1->toPlainText().contains("cfg=-sampd /p"));
        EXPECT_TRUE(window.Text1->toPlainText().contains("patch=yes"));

        EXPECT_EQ(entriesOf(folder), before);
        if (c.ownPatchMap) {
            EXPECT_EQ(readAll(folder + "patch.cfg"), QByteArray("own map\r\n"));
        }
        if (c.ownOptionFile) {
            EXPECT_EQ(readAll(folder + "korvalin.cfg"), QByteArray("-perch 3\r\n"));
        }
    }
}

TEST_F(MainWindowTest, ConverterRunsInTheChosenFolderWithShellSafeWords) {
    const QString samples = makeFolder(QStringLiteral("my samples"));
    const QString sampleFolder = samples.left(samples.size() - 1);
    writeOptionFile({QStringLiteral("-sampd \"") + sampleFolder + u'"'});
    installFakeConverter();
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    const QString odd = makeFolder(QStringLiteral("odd $HOME `x` \"q\" dir"));
    choose(odd, {QStringLiteral("one.mid"), QStringLiteral("$(echo two).mid")});
    window.cmdBrowse_Click();
    QDir::setCurrent(root.path());  // the run must not depend on the current directory
    window.cmdConvert_Click();

    const QString shown = window.Text1->toPlainText();
    const QString folder = odd.left(odd.size() - 1);
    EXPECT_EQ(shown, "cwd=" + folder + "\narg=-sampd\narg=" + sampleFolder + "\narg=" + odd +
                         "one.mid\narg=" + odd + "$(echo two).mid\npatch=yes\ncfg=-sampd \"" +
                         sampleFolder + "\"\n");
    EXPECT_EQ(window.lblStatus->text(), QStringLiteral("Done!"));
    EXPECT_EQ(entriesOf(odd), (QStringList{"$(echo two).mid", "one.mid"}));
}

TEST_F(MainWindowTest, FailedRunsLeaveNoWorkFilesAfterTheNextRun) {
    writeOptionFile({QStringLiteral("-sampd /p")});
    installFakeConverter();
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    const QString first = makeFolder(QStringLiteral("first"));
    choose(first, {QStringLiteral("a.mid")});
    window.cmdBrowse_Click();

    // The interpreter cannot start: the runner reports it, the window stays usable.
    window.ReadOutput1->Interpreter(root.path() + QStringLiteral("/no-such-shell"));
    window.cmdConvert_Click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(messages.messages[0].text.startsWith(
        QStringLiteral("Error!\r\nDescription: CreateProcess failed.\r\nLastDLLError: ")));
    EXPECT_TRUE(window.cmdBrowse->isEnabled());
    window.ReadOutput1->Interpreter(QStringLiteral("/bin/sh"));

    // A new selection elsewhere, then a run that ends: both folders are clean.
    choose(music, {QStringLiteral("b.mid")});
    window.cmdBrowse_Click();
    window.cmdConvert_Click();
    EXPECT_EQ(window.lblStatus->text(), QStringLiteral("Done!"));
    EXPECT_EQ(entriesOf(first), QStringList{"a.mid"});
    EXPECT_EQ(entriesOf(music), QStringList{"b.mid"});

    // Converting the same selection again puts the work files back for it.
    window.cmdConvert_Click();
    EXPECT_TRUE(window.Text1->toPlainText().contains("patch=yes"));
    EXPECT_EQ(entriesOf(music), QStringList{"b.mid"});
}

TEST_F(MainWindowTest, ConvertDuringARunIsRefusedAndKeepsItsOutput) {
    writeOptionFile({QStringLiteral("-sampd /p")});
    const QString path = converterDir + frmMain::ConverterName();
    writeAll(path, "#!/bin/sh\necho first\nsleep 1\necho second\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    choose(music, {QStringLiteral("a.mid")});
    window.cmdBrowse_Click();
    QTimer::singleShot(300, &window, [&window] { window.cmdConvert->click(); });
    window.cmdConvert_Click();

    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              QStringLiteral("Error!\r\nDescription: Currently processing a command!\r\n"
                             "LastDLLError: 1201"));
    EXPECT_EQ(window.Text1->toPlainText(), QStringLiteral("first\nsecond\n"));
    EXPECT_EQ(window.lblStatus->text(), QStringLiteral("Done!"));
    EXPECT_EQ(entriesOf(music), QStringList{"a.mid"});
}

TEST_F(MainWindowTest, ClosingWithoutConvertingPutsTheUsersFileBack) {
    writeOptionFile({QStringLiteral("-sampd /p")});
    writeAll(music + "korvalin.cfg", "-nopan \r\n");
    {
        frmMain window;
        ASSERT_TRUE(window.Form_Load());
        choose(music, {QStringLiteral("a.mid")});
        window.cmdBrowse_Click();
        EXPECT_EQ(readAll(music + "korvalin.cfg"), readAll(optionFile()));
        window.close();
    }
    EXPECT_EQ(readAll(music + "korvalin.cfg"), QByteArray("-nopan \r\n"));
    EXPECT_EQ(entriesOf(music), (QStringList{"a.mid", "korvalin.cfg"}));
}

// The whole path with the embedded converter: a one-note song becomes a module.
TEST_F(MainWindowTest, ConvertsAMidiFileIntoAModule) {
    const QString ocarina =
        QStringLiteral("/usr/share/midi/freepats/Tone_000/079_Ocarina.pat");
    if (!QFileInfo::exists(ocarina)) GTEST_SKIP() << "freepats is not installed";
    const QString samples = makeFolder(QStringLiteral("samples"));
    ASSERT_TRUE(QFile::link(ocarina, samples + "ocarina.pat"));
    writeOptionFile({QStringLiteral("-sampd ") + samples, QStringLiteral("-outd ") + music,
                     QStringLiteral("-maxch 32")});

    // Format 0, 480 ticks a quarter: program 79, one quarter note C5.
    const QByteArray song = QByteArray::fromHex(
        "4d546864000000060000000101e0"
        "4d54726b00000010"
        "00c04f" "00904864" "83608048" "40" "00ff2f00");
    writeAll(music + "song.mid", song);
    chosen = QStringList{music + "song.mid"};

    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    window.cmdBrowse_Click();
    window.cmdConvert_Click();
    EXPECT_EQ(window.lblStatus->text(), QStringLiteral("Done!"));
    const QString shown = window.Text1->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("Converting"))) << shown.toStdString();
    const QByteArray module = readAll(music + "song.xm");
    EXPECT_TRUE(module.startsWith("Extended Module: ")) << shown.toStdString();
    EXPECT_GT(module.size(), 336);
    EXPECT_EQ(entriesOf(music), (QStringList{"song.mid", "song.xm"}));
}

TEST_F(MainWindowTest, OptionAndHelpWindowsOpenOnce) {
    writeOptionFile({QStringLiteral("-sampd /p")});
    frmMain window;
    ASSERT_TRUE(window.Form_Load());
    window.cmdOption_Click();
    QPointer<frmOption> first = window.optionWindow;
    window.cmdOption_Click();
    EXPECT_EQ(window.optionWindow, first);
    EXPECT_TRUE(first->isVisible());
    window.cmdHelp_Click();
    EXPECT_TRUE(window.helpWindow->isVisible());
}

}  // namespace
}  // namespace korvalinfe::testing
