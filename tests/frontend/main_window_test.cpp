// The main window: start-up, Browse, Convert through the command runner, and
// the removal of the work files.
#include "main_option_fixture.h"
#include "windows/frmMain.h"

namespace korvalinfe::testing {
namespace {

// Stands in for the converter: where it runs, the words the shell gave it,
// and the work files it finds there.
const char kFakeConverter[] =
    "#!/bin/sh\n"
    "echo \"cwd=$(pwd)\"\n"
    "for word in \"$@\"; do echo \"arg=$word\"; done\n"
    "if [ -f patch.cfg ]; then echo patch=yes; else echo patch=no; fi\n"
    "if [ -f korvalin.cfg ]; then echo \"cfg=$(head -n 1 korvalin.cfg | tr -d '\\r')\"; fi\n";

class MainWindowTest : public WindowFixture {
  protected:
    void installConverter() {
        const QString path = converterDir + frmMain::ConverterName();
        writeAll(path, kFakeConverter);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Creates the files and lets the dialog choose them.
    void choose(const QString& folder, const QStringList& names) {
        chosen = QStringList();
        for (const QString& name : names) {
            writeAll(folder + name, "MThd");
            chosen->append(folder + name);
        }
    }
    // A window past its start, on an option file with these lines.
    std::unique_ptr<frmMain> started(const QStringList& optionLines) {
        writeAll(optionFile(), crlfLines(optionLines));
        auto window = std::make_unique<frmMain>();
        EXPECT_TRUE(window->Form_Load());
        return window;
    }
    void expectOneMessage(const QString& text, const QString& caption) {
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, text);
        EXPECT_EQ(messages.messages[0].caption, caption);
    }
    QString music = makeFolder(QStringLiteral("music"));
};

TEST_F(MainWindowTest, FirstStartWritesFourLinesAndEnds) {
    EXPECT_FALSE(frmMain().Form_Load());
    EXPECT_EQ(readAll(optionFile()), defaultOptionFile());
    expectOneMessage("korvalin.cfg was created, please restart program to take it effect.",
                     "KorvalinFE");
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(QFileInfo(converterDir + frmMain::ConverterName()).isExecutable());

    frmMain window;  // the next start goes on
    EXPECT_TRUE(window.Form_Load());
    EXPECT_EQ(programEnds, 1);
}

TEST_F(MainWindowTest, SampleOptionComesFromTheFirstLineOnly) {
    const std::pair<QStringList, QString> cases[] = {
        {{"-sampd /srv/pats", "-outd /tmp"}, QStringLiteral("-sampd /srv/pats")},
        {{"-outd /tmp", "-sampd /srv/pats"}, "-sampd " + appFolder()},
        {{}, QString()},  // an empty file
    };
    for (const auto& [lines, expected] : cases) {
        SCOPED_TRACE(expected.toStdString());
        EXPECT_EQ(started(lines)->sSampleOption, expected);
    }
}

TEST_F(MainWindowTest, BrowseFillsListSourceCommandLineAndWorkFiles) {
    auto window = started({"-sampd /srv/pats", "-maxch 16"});
    choose(music, {"a.mid", "b.mid", "c.mid"});
    window->cmdBrowse_Click();
    const QString dir = music.chopped(1);
    QStringList listed;
    for (int i = 0; i < window->lstFiles->count(); ++i) listed << window->lstFiles->item(i)->text();
    EXPECT_EQ(listed, (QStringList{dir + "/a.mid", dir + "/b.mid", dir + "/c.mid"}));
    EXPECT_EQ(window->txtSource->text(), dir + " \"a.mid\" \"b.mid\" \"c.mid\" ");
    EXPECT_EQ(window->vCommandLine, "korvalin -sampd /srv/pats \"" + dir + "/a.mid\" \"" + dir +
                                        "/b.mid\" \"" + dir + "/c.mid\" ");
    EXPECT_EQ(readAll(music + "patch.cfg"), loadResData(kResPatchMap));
    EXPECT_EQ(readAll(music + "korvalin.cfg"), readAll(optionFile()));

    window = started({});  // one file, with an empty option file
    choose(music, {"song.mid"});
    window->cmdBrowse_Click();
    EXPECT_EQ(window->txtSource->text(), music + "song.mid");
    EXPECT_EQ(window->vCommandLine, "korvalin  \"" + music + "song.mid\" ");
    EXPECT_EQ(window->sWorkOptionFile, music + "korvalin.cfg");
}

TEST_F(MainWindowTest, ConvertWithNothingChosenWarns) {
    auto window = started({"-sampd /p"});
    window->cmdConvert_Click();
    expectOneMessage("No Midi files select.", "Convert");
    EXPECT_EQ(window->lblStatus->text(), QStringLiteral("Status: Idle"));
}

// A patch map or option file of the user's own in the chosen folder is there
// unchanged after the run, also when Browse ran twice; in the program folder
// the program's own files are neither copied over nor deleted.
TEST_F(MainWindowTest, UsersOwnWorkFilesSurviveTheRun) {
    installConverter();
    auto window = started({"-sampd /p"});
    const std::tuple<QString, QByteArray, QByteArray> cases[] = {
        {makeFolder("none"), "", ""},
        {makeFolder("map"), "own map\r\n", ""},
        {makeFolder("options"), "", "-perch 3\r\n"},
        {makeFolder("both"), "own map\r\n", "-perch 3\r\n"},
        {appDir, "0 mine.pat 0 1000\r\n", "-sampd /p\r\n"},
    };
    for (const auto& [folder, map, options] : cases) {
        SCOPED_TRACE(folder.toStdString());
        if (!map.isEmpty()) writeAll(folder + "patch.cfg", map);
        if (!options.isEmpty()) writeAll(folder + "korvalin.cfg", options);
        choose(folder, {"x.mid"});
        const QStringList before = entriesOf(folder);
        window->cmdBrowse_Click();
        window->cmdBrowse_Click();
        window->cmdConvert_Click();
        EXPECT_EQ(window->lblStatus->text(), QStringLiteral("Done!"));
        EXPECT_TRUE(window->Text1->toPlainText().endsWith("patch=yes\ncfg=-sampd /p\n"));
        EXPECT_EQ(entriesOf(folder), before);
        EXPECT_EQ(readAll(folder + "patch.cfg"), map);
        EXPECT_EQ(readAll(folder + "korvalin.cfg"), options);
    }
}

TEST_F(MainWindowTest, ClosingWithoutConvertingPutsTheUsersFileBack) {
    writeAll(music + "korvalin.cfg", "-nopan \r\n");
    auto window = started({"-sampd /p"});
    choose(music, {"a.mid"});
    window->cmdBrowse_Click();
    window->close();
    EXPECT_EQ(readAll(music + "korvalin.cfg"), QByteArray("-nopan \r\n"));
    EXPECT_EQ(entriesOf(music), (QStringList{"a.mid", "korvalin.cfg"}));
}

TEST_F(MainWindowTest, ConverterRunsInTheChosenFolderWithShellSafeWords) {
    installConverter();
    const QString samples = makeFolder(QStringLiteral("my samples")).chopped(1);
    auto window = started({"-sampd \"" + samples + "\""});
    const QString odd = makeFolder(QStringLiteral("odd $HOME `x` \"q\" dir"));
    choose(odd, {"one.mid", "$(echo two).mid"});
    window->cmdBrowse_Click();
    window->cmdConvert_Click();
    EXPECT_EQ(window->Text1->toPlainText(),
              "cwd=" + odd.chopped(1) + "\narg=-sampd\narg=" + samples + "\narg=" + odd +
                  "one.mid\narg=" + odd + "$(echo two).mid\npatch=yes\ncfg=-sampd \"" + samples +
                  "\"\n");
    EXPECT_EQ(entriesOf(odd), (QStringList{"$(echo two).mid", "one.mid"}));
}

TEST_F(MainWindowTest, FailedRunLeavesNoWorkFilesAfterTheNextRun) {
    installConverter();
    auto window = started({"-sampd /p"});
    const QString first = makeFolder(QStringLiteral("first"));
    choose(first, {"a.mid"});
    window->cmdBrowse_Click();
    window->ReadOutput1->Interpreter(root.path() + QStringLiteral("/no-such-shell"));
    window->cmdConvert_Click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              QStringLiteral("Error!\r\nDescription: CreateProcess failed.\r\nLastDLLError: 2"));
    window->ReadOutput1->Interpreter(QStringLiteral("/bin/sh"));

    choose(music, {"b.mid"});
    window->cmdBrowse_Click();
    window->cmdConvert_Click();
    EXPECT_EQ(window->lblStatus->text(), QStringLiteral("Done!"));
    EXPECT_EQ(entriesOf(first), QStringList{"a.mid"});
    EXPECT_EQ(entriesOf(music), QStringList{"b.mid"});
    // Converting the same selection again puts the work files back for it.
    window->cmdConvert_Click();
    EXPECT_TRUE(window->Text1->toPlainText().contains("patch=yes"));
    EXPECT_EQ(entriesOf(music), QStringList{"b.mid"});
}

// The whole way with the embedded converter: a one-note song becomes a module.
TEST_F(MainWindowTest, ConvertsAMidiFileIntoAModule) {
    const QString ocarina = QStringLiteral("/usr/share/midi/freepats/Tone_000/079_Ocarina.pat");
    if (!QFileInfo::exists(ocarina)) GTEST_SKIP() << "freepats is not installed";
    const QString samples = makeFolder(QStringLiteral("samples"));
    ASSERT_TRUE(QFile::link(ocarina, samples + "ocarina.pat"));
    auto window = started({"-sampd " + samples, "-outd " + music});
    // Format 0, 480 ticks a quarter: program 79, one quarter note.
    writeAll(music + "song.mid", QByteArray::fromHex("4d546864000000060000000101e04d54726b00000010"
                                                     "00c04f00904864836080484000ff2f00"));
    chosen = QStringList{music + "song.mid"};
    window->cmdBrowse_Click();
    window->cmdConvert_Click();
    EXPECT_EQ(window->lblStatus->text(), QStringLiteral("Done!"));
    EXPECT_TRUE(readAll(music + "song.xm").startsWith("Extended Module: "))
        << window->Text1->toPlainText().toStdString();
    EXPECT_EQ(entriesOf(music), (QStringList{"song.mid", "song.xm"}));
}

}  // namespace
}  // namespace korvalinfe::testing
