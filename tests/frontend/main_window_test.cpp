// The main window: start-up, Browse, Convert through the command runner, and
// the removal of the work files.
#include <QTimer>

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
    void SetUp() override {
        WindowFixture::SetUp();
        music = makeFolder(QStringLiteral("music"));
    }
    void installConverter(const QByteArray& script = kFakeConverter) {
        const QString path = converterDir + frmMain::ConverterName();
        writeAll(path, script);
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
    static QStringList listed(const frmMain& window) {
        QStringList items;
        for (int i = 0; i < window.lstFiles->count(); ++i) items.append(window.lstFiles->item(i)->text());
        return items;
    }
    QString music;
};

TEST_F(MainWindowTest, FirstStartWritesFourLinesAndEnds) {
    EXPECT_FALSE(frmMain().Form_Load());
    EXPECT_EQ(readAll(optionFile()),
              crlfLines({"-sampd " + appFolder(), "-outd " + appFolder(), "-8bit ", "-maxch 32"}));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              QStringLiteral("korvalin.cfg was created, please restart program to take it effect."));
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("KorvalinFE"));
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(QFileInfo(converterDir + frmMain::ConverterName()).isExecutable());

    frmMain window;  // the next start goes on
    EXPECT_TRUE(window.Form_Load());
    EXPECT_EQ(programEnds, 1);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Korvalin FrontEnd - Convert MIDI to XM v0.16"));
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

TEST_F(MainWindowTest, ThreeFilesGiveListSourceCommandLineAndWorkFiles) {
    auto window = started({"-sampd /srv/pats", "-maxch 16"});
    choose(music, {"a.mid", "b.mid", "c.mid"});
    window->cmdBrowse_Click();
    const QString dir = music.chopped(1);
    EXPECT_EQ(listed(*window), (QStringList{dir + "/a.mid", dir + "/b.mid", dir + "/c.mid"}));
    EXPECT_EQ(window->txtSource->text(), dir + " \"a.mid\" \"b.mid\" \"c.mid\" ");
    EXPECT_EQ(window->vCommandLine, "korvalin -sampd /srv/pats \"" + dir + "/a.mid\" \"" + dir +
                                        "/b.mid\" \"" + dir + "/c.mid\" ");
    EXPECT_EQ(readAll(music + "patch.cfg"), loadResData(kResPatchMap));
    EXPECT_EQ(readAll(music + "korvalin.cfg"), readAll(optionFile()));
}

TEST_F(MainWindowTest, OneFileWithAnEmptyOptionFile) {
    auto window = started({});
    choose(music, {"song.mid"});
    window->cmdBrowse_Click();
    EXPECT_EQ(window->txtSource->text(), music + "song.mid");
    EXPECT_EQ(window->vCommandLine, "korvalin  \"" + music + "song.mid\" ");
    EXPECT_EQ(window->sWorkOptionFile, music + "korvalin.cfg");
}

TEST_F(MainWindowTest, ConvertWithNothingChosenWarns) {
    auto window = started({"-sampd /p"});
    window->cmdConvert_Click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("No Midi files select."));
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Convert"));
    EXPECT_EQ(window->lblStatus->text(), QStringLiteral("Status: Idle"));
}

TEST_F(MainWindowTest, FilesInTheProgramFolderAreNeitherCopiedNorDeleted) {
    installConverter();
    writeAll(appDir + "patch.cfg", "0 mine.pat 0 1000\r\n");
    auto window = started({"-sampd /p", "-nopan "});
    choose(appDir, {"a.mid"});
    const QStringList before = entriesOf(appDir);
    window->cmdBrowse_Click();
    window->cmdConvert_Click();
    EXPECT_EQ(window->lblStatus->text(), QStringLiteral("Done!"));
    EXPECT_EQ(readAll(optionFile()), crlfLines({"-sampd /p", "-nopan "}));
    EXPECT_EQ(readAll(appDir + "patch.cfg"), QByteArray("0 mine.pat 0 1000\r\n"));
    EXPECT_EQ(entriesOf(appDir), before);
}

// A patch map or option file of the user's own in the chosen folder is there
// unchanged after the run, also when Browse ran twice.
TEST_F(MainWindowTest, UsersOwnWorkFilesSurviveTheRun) {
    installConverter();
    auto window = started({"-sampd /p"});
    const std::pair<bool, bool> cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const auto& [ownMap, ownOptions] : cases) {
        SCOPED_TRACE(::testing::Message() << "own map " << ownMap << ", own options " << ownOptions);
        const QString folder = makeFolder(QStringLiteral("case%1%2").arg(ownMap).arg(ownOptions));
        if (ownMap) writeAll(folder + "patch.cfg", "own map\r\n");
        if (ownOptions) writeAll(folder + "korvalin.cfg", "-perch 3\r\n");
        choose(folder, {"x.mid"});
        const QStringList before = entriesOf(folder);
        window->cmdBrowse_Click();
        window->cmdBrowse_Click();
        window->cmdConvert_Click();
        EXPECT_TRUE(window->Text1->toPlainText().endsWith("patch=yes\ncfg=-sampd /p\n"));
        EXPECT_EQ(entriesOf(folder), before);
        EXPECT_EQ(readAll(folder + "patch.cfg"), ownMap ? QByteArray("own map\r\n") : QByteArray());
        EXPECT_EQ(readAll(folder + "korvalin.cfg"), ownOptions ? QByteArray("-perch 3\r\n") : QByteArray());
    }
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
                  "one.mid\narg=" + odd + "$(echo two).mid\npatch=yes\ncfg=-sampd \"" + samples + "\"\n");
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
    EXPECT_TRUE(messages.messages[0].text.startsWith("Error!\r\nDescription: CreateProcess failed.\r\n"));
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

TEST_F(MainWindowTest, ConvertDuringARunIsRefusedAndKeepsItsOutput) {
    installConverter("#!/bin/sh\necho first\nsleep 1\necho second\n");
    auto window = started({"-sampd /p"});
    choose(music, {"a.mid"});
    window->cmdBrowse_Click();
    QTimer::singleShot(300, window.get(), [&window] { window->cmdConvert->click(); });
    window->cmdConvert_Click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              QStringLiteral("Error!\r\nDescription: Currently processing a command!\r\nLastDLLError: 1201"));
    EXPECT_EQ(window->Text1->toPlainText(), QStringLiteral("first\nsecond\n"));
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
