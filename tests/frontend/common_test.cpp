// Shared procedures, embedded resources, the toolkit services they rest on,
// and the help window's text.
#include <QComboBox>

#include "common/Module1.h"
#include "common/Toolkit.h"
#include "main_option_fixture.h"
#include "windows/frmHelp.h"

namespace korvalinfe::testing {
namespace {

TEST(Module1, AppPathEndsInExactlyOneSlash) {
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"/opt/korvalin", true, "/opt/korvalin/"},
        {"/opt/korvalin/", true, "/opt/korvalin/"},
        {"/", true, "/"},
        {"/usr/bin", false, "/home/u/.local/share/KorvalinFE/"},
    };
    for (const auto& [program, writable, expected] : cases) {
        SCOPED_TRACE(program);
        EXPECT_EQ(chooseAppPath(program, writable, "/home/u/.local/share/KorvalinFE"), expected);
    }
    const QString real = AppPath();
    EXPECT_TRUE(real.endsWith(u'/') && !real.endsWith(QStringLiteral("//"))) << real.toStdString();
    EXPECT_TRUE(QDir(real).exists());
}

TEST(Module1, FileExistsAndDirExists) {
    QTemporaryDir dir;
    writeAll(dir.filePath("song.mid"), "MThd");
    QDir(dir.path()).mkdir("folder");
    const std::tuple<QString, bool, bool> cases[] = {
        {dir.filePath("folder"), false, true},
        {dir.filePath("folder") + "/", false, true},
        {dir.filePath("song.mid"), true, true},
        {dir.filePath("none.mid"), false, false},
        {QString(), false, false},
    };
    for (const auto& [path, file, folder] : cases) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(FileExists(path), file);
        EXPECT_EQ(DirExists(path), folder);
    }
}

TEST(Module1, ExtractResourceWritesExactBytesAndNeverReplacesAFile) {
    QTemporaryDir dir;
    const QString map = dir.filePath("patch.cfg");
    ExtractResource(kResPatchMap, map);
    const QByteArray bytes = readAll(map);
    EXPECT_EQ(bytes.size(), 5481);
    EXPECT_TRUE(bytes.startsWith("0   acpiano.pat     0  1000\r\n"));
    EXPECT_EQ(bytes, readAll(KORVALIN_SOURCE_DIR "/frontend/common/default_patch.cfg"));

    const QString converter = dir.filePath("korvalin");
    ExtractResource(kResConverter, converter);
    EXPECT_EQ(readAll(converter), readAll(KORVALIN_BIN));
    EXPECT_TRUE(QFile::permissions(converter) & QFileDevice::ExeOwner);

    writeAll(map, "0 mine.pat 0 1000\r\n");
    ExtractResource(kResPatchMap, map);
    EXPECT_EQ(readAll(map), "0 mine.pat 0 1000\r\n");
}

TEST(Module1, ExtractResourceFailuresAreRaisedAndLeaveNoFile) {
    QTemporaryDir dir;
    const std::tuple<int, QString, long> cases[] = {
        {999, dir.filePath("x.bin"), kErrResourceNotFound},
        {kResPatchMap, dir.filePath("missing/patch.cfg"), 0},  // any file error
    };
    for (const auto& [resource, path, number] : cases) {
        SCOPED_TRACE(path.toStdString());
        try {
            ExtractResource(static_cast<std::uint16_t>(resource), path);
            ADD_FAILURE() << "no error raised";
        } catch (const RuntimeError& error) {
            EXPECT_TRUE(number == 0 || error.Number() == number) << error.Number();
        }
        EXPECT_FALSE(QFile::exists(path));
    }
}

TEST(Toolkit, TextFileReaderTakesEveryLineEnd) {
    QTemporaryDir dir;
    const QString path = dir.filePath("korvalin.cfg");
    const std::pair<QByteArray, QStringList> cases[] = {
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},
        {"\r\n\r\nc\r\n", {"", "", "c"}},
        {"", {}},
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(bytes.toStdString());
        writeAll(path, bytes);
        TextFileReader reader(path);
        QStringList lines;
        while (!reader.atEnd()) lines << reader.readLine();
        EXPECT_EQ(lines, expected);
    }
}

TEST(Toolkit, DirectoryListingSkipsHiddenAndHonoursFolders) {
    QTemporaryDir dir;
    writeAll(dir.filePath(".hidden.cfg"), "x");
    writeAll(dir.filePath("patch.cfg"), "x");
    QDir(dir.path()).mkdir("sub.cfg");
    const std::tuple<QString, bool, QString> cases[] = {
        {"sub.cfg", false, ""},
        {"sub.cfg", true, "sub.cfg"},
        {"*.cfg", false, "patch.cfg"},
        {".hidden.cfg", false, ".hidden.cfg"},
    };
    for (const auto& [pattern, folders, found] : cases) {
        SCOPED_TRACE(pattern.toStdString());
        EXPECT_EQ(dirFirst(dir.filePath(pattern), folders), found);
    }
}

TEST(Toolkit, FileCopyReplacesTargetAndSurvivesCopyOntoItself) {
    QTemporaryDir dir;
    const QString a = dir.filePath("a.cfg"), b = dir.filePath("b.cfg");
    writeAll(a, "new\r\n");
    writeAll(b, "old old old\r\n");
    fileCopy(a, b);
    EXPECT_EQ(readAll(b), "new\r\n");
    fileCopy(a, a);
    EXPECT_EQ(readAll(a), "new\r\n");
}

TEST(Toolkit, ListAcceptsOnlyItsEntries) {
    QComboBox list;
    list.addItems({"8000", "11025"});
    chooseListEntry(&list, "11025");
    try {
        chooseListEntry(&list, "11");
        ADD_FAILURE() << "no error raised";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), kErrInvalidPropertyValue);
    }
    EXPECT_EQ(list.currentIndex(), 1);
}

TEST(frmHelp, ShowsFourteenLinesEachEndedByCrLf) {
    const QString text = frmHelp::helpText();
    ASSERT_TRUE(text.endsWith("\r\n"));
    const QStringList lines = text.chopped(2).split("\r\n");
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines[4], "v0.16  02/10/2005");
    EXPECT_EQ(lines[9], "- Fixed can't convert file from other directory");
    EXPECT_EQ(lines[13], "- Korvalin Front End");
    frmHelp window;
    EXPECT_EQ(window.Text1->toPlainText().split('\n').mid(0, 14), lines);
}

}  // namespace
}  // namespace korvalinfe::testing
