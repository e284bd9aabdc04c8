// The main window: start-up, titles, Browse, Convert through the command
// runner, stopping a run, and the removal of the work files.
#include <signal.h>

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTest>

#include "main_option_fixture.h"
#include "windows/frmMain.h"
#include "windows/frmOption.h"

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

// A converter that leaves a child of its own behind and takes a second.
const char kSlowConverter[] =
    "#!/bin/sh\n"
    "sleep 30 > /dev/null 2>&1 &\n"
    "echo $! > \"$(dirname \"$0\")/child.pid\"\n"
    "echo started; sleep 1; echo finished\n";

class MainWindowTest : public WindowFixture {
  protected:
    QString converter() const { return converterDir + frmMain::ConverterName(); }
    // Creates the files and lets the dialog choose them.
    void choose(const QString& folder, const QStringList& names) {
        chosen = QStringList();
        for (const QString& name : names) {
            writeAll(folder + name, "MThd");
            chosen->append(folder + name);
        }
    }
    // A window past its start, on an option file with these lines, running
    // script in place of the converter (nullptr: the embedded converter).
    std::unique_ptr<frmMain> started(const QStringList& optionLines,
                                     const char* script = kFakeConverter) {
        writeAll(optionFile(), crlfLines(optionLines));
        auto window = std::make_unique<frmMain>();
        EXPECT_TRUE(window->Form_Load());
        if (script) {
            writeAll(converter(), script);
            QFile::setPermissions(converter(), QFile::ReadOwner | QFile::ExeOwner);
        }
        return window;
    }
    QString music = makeFolder(QStringLiteral("music"));
};

TEST_F(MainWindowTest, FirstStartWritesFourLinesAndEnds) {
    EXPECT_FALSE(frmMain().Form_Load());
    EXPECT_EQ(readAll(optionFile()), defaultOptionFile());
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              "korvalin.cfg was created, please restart program to take it effect.");
    EXPECT_EQ(messages.messages[0].caption, "KorvalinFE");
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(QFileInfo(converter()).isExecutable());

    frmMain window;  // the next start goes on
    EXPECT_TRUE(window.Form_Load());
    EXPECT_EQ(programEnds, 1);
}

// Nothing is appended to a title, and a message box is centred on its window,
// or on the screen while that window is not shown.
TEST_F(MainWindowTest, TitlesAreExactlyTheCaptions) {
    setUpApplication(*qApp);
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("renamed"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "renamed");  // no display name of its own
    QCoreApplication::setApplicationName(name);

    auto window = started({"-sampd /p"});
    EXPECT_EQ(window->windowTitle(), "Korvalin FrontEnd - Convert MIDI to XM v0.16");
    window->move(300, 200);
    QWidget* loading = new frmOption(window.get());  // a window of its own, not yet shown
    const std::tuple<QWidget*, bool> cases[] = {
        {window->cmdConvert, false}, {window->cmdConvert, true}, {loading, true}};
    for (const auto& [owner, shown] : cases) {
        window->setVisible(shown);
        auto box = makeMessageBox(owner, "No Midi files select.", MsgIcon::Warning, "Convert");
        box->show();
        EXPECT_EQ(box->windowTitle(), "Convert");
        const QRect around = shown ? window->frameGeometry() : box->screen()->availableGeometry();
        EXPECT_LE((box->frameGeometry().center() - around.center()).manhattanLength(), 4) << shown;
    }
}

// A converter that differs from the embedded one is replaced at start; the
// same one is left alone; one that cannot be replaced is named in a message.
TEST_F(MainWindowTest, StartPutsTheEmbeddedConverterInPlace) {
    const QByteArray embedded = loadResData(kResConverter);
    const QDateTime old(QDate(2001, 2, 3), QTime(4, 5));
    for (const QByteArray& before : {QByteArray("#!/bin/sh\necho old\n"), embedded, QByteArray()}) {
        QFile::remove(converter());
        if (before.isEmpty()) {  // a place that cannot be written, even by root
            ASSERT_TRUE(QFile::link(QStringLiteral("/proc/version"), converter()));
        } else {
            writeAll(converter(), before);
            QFile file(converter());
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            file.setFileTime(old, QFileDevice::FileModificationTime);
        }
        messages.messages.clear();
        started({"-sampd /p"}, nullptr);
        EXPECT_EQ(messages.messages.size(), before.isEmpty() ? 1u : 0u);
        if (before.isEmpty()) {
            EXPECT_TRUE(messages.messages[0].text.startsWith("Cannot write the converter " +
                                                             converter() + ": "));
            continue;
        }
        EXPECT_EQ(readAll(converter()), embedded);
        EXPECT_TRUE(QFileInfo(converter()).isExecutable());
        EXPECT_EQ(QFileInfo(converter()).lastModified() == old, before == embedded);
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
    chosen = std::nullopt;  // a cancelled Browse chooses the same files again
    window->cmdBrowse_Click();
    EXPECT_EQ(window->lstFiles->count(), 3);
}

// Browse starts at home, then where the last files were chosen. A Browse that
// fails leaves no selection anywhere, so Convert finds nothing selected.
TEST_F(MainWindowTest, FailedBrowseLeavesNoSelection) {
    auto window = started({"-sampd /p"});
    choose(music, {"a.mid"});
    window->cmdBrowse_Click();
    chosen = QStringList{root.path() + "/gone/b.mid"};  // a folder nothing can be written to
    window->cmdBrowse_Click();
    EXPECT_EQ(startedIn, (QStringList{QDir::homePath(), music}));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, "Browse");
    EXPECT_EQ((QStringList{window->txtSource->text(), window->vCommandLine,
                           window->lblStatus->text(), QString::number(window->lstFiles->count())}),
              (QStringList{"", "", "Status: Idle", "0"}));
    EXPECT_EQ(entriesOf(music), QStringList{"a.mid"});
    window->cmdConvert_Click();
    EXPECT_EQ(messages.messages.back().text, "No Midi files select.");
}

// A patch map or option file of the user's own in the chosen folder is there
// unchanged after the run, also when Browse ran twice; in the program folder
// the program's own files are neither copied over nor deleted.
TEST_F(MainWindowTest, UsersOwnWorkFilesSurviveTheRun) {
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
    choose(makeFolder("both"), {"x.mid"});  // placed, then the window closes without a run
    window->cmdBrowse_Click();
    window->close();
    EXPECT_EQ(entriesOf(makeFolder("both")), (QStringList{"korvalin.cfg", "patch.cfg", "x.mid"}));
    EXPECT_EQ(readAll(makeFolder("both") + "korvalin.cfg"), "-perch 3\r\n");
}

// Closing the window or pressing Escape during a run asks; yes ends the
// converter with its whole process group, removes the work files and puts
// the user's option file back; no lets the run go on.
TEST_F(MainWindowTest, RunningConversionCanBeStopped) {
    const std::tuple<bool, bool> cases[] = {{true, true}, {true, false}, {false, true}};
    for (const auto& [closing, yes] : cases) {
        SCOPED_TRACE(::testing::Message() << "closing " << closing << ", yes " << yes);
        auto window = started({"-sampd /p"}, kSlowConverter);
        writeAll(music + "korvalin.cfg", "-nopan \r\n");
        choose(music, {"a.mid"});
        window->cmdBrowse_Click();
        window->show();
        messages.messages.clear();
        messages.answer = yes;
        // The user acts while the converter is at work.
        QObject::connect(window->ReadOutput1, &ReadOutput::GotChunk, window.get(),
                         [&window, closing = closing](const QString& chunk, bool) {
                             if (!chunk.contains("started")) return;
                             closing ? (void)window->close()
                                     : QTest::keyClick(window->Text1, Qt::Key_Escape);
                         });
        window->cmdConvert_Click();
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_TRUE(messages.messages[0].question);
        EXPECT_EQ(window->lblStatus->text(), yes ? "Stopped." : "Done!");
        EXPECT_EQ(window->Text1->toPlainText().contains("finished"), !yes);
        EXPECT_EQ(window->isVisible(), !(closing && yes));
        EXPECT_EQ(entriesOf(music), (QStringList{"a.mid", "korvalin.cfg"}));
        EXPECT_EQ(readAll(music + "korvalin.cfg"), "-nopan \r\n");
        const QString child = QString::fromLatin1(readAll(converterDir + "child.pid")).trimmed();
        const QByteArray stat = readAll("/proc/" + child + "/stat");
        const bool gone = stat.isEmpty() || stat.mid(stat.lastIndexOf(')') + 2, 1) == "Z";
        EXPECT_EQ(gone, yes);
        if (!gone) ::kill(child.toInt(), SIGKILL);
    }
}

TEST_F(MainWindowTest, ConverterRunsInTheChosenFolderWithShellSafeWords) {
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

// The whole way with the embedded converter: a one-note song becomes a module.
TEST_F(MainWindowTest, ConvertsAMidiFileIntoAModule) {
    const QString ocarina = QStringLiteral("/usr/share/midi/freepats/Tone_000/079_Ocarina.pat");
    if (!QFileInfo::exists(ocarina)) GTEST_SKIP() << "freepats is not installed";
    const QString samples = makeFolder(QStringLiteral("samples"));
    ASSERT_TRUE(QFile::link(ocarina, samples + "ocarina.pat"));
    auto window = started({"-sampd " + samples, "-outd " + music}, nullptr);
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
