// Shared procedures, embedded resources, the toolkit services they rest on,
// and the help window.
#include "common/Module1.h"
#include "common/Toolkit.h"
#include "main_option_fixture.h"
#include "windows/FormLayout.h"
#include "windows/frmHelp.h"

namespace korvalinfe::testing {
namespace {

TEST(Module1, FileExistsDirExistsAndTheListingTellFilesFoldersAndHiddenNames) {
    QTemporaryDir dir;
    writeAll(dir.filePath("song.mid"), "MThd");
    writeAll(dir.filePath(".hidden.mid"), "MThd");
    QDir(dir.path()).mkdir("folder.mid");
    // path, FileExists, DirExists, first name the listing finds without folders
    const std::tuple<QString, bool, bool, QString> cases[] = {
        {dir.filePath("folder.mid"), false, true, ""},
        {dir.filePath("song.mid"), true, true, "song.mid"},
        {dir.filePath("none.mid"), false, false, ""},
        {dir.filePath("*.mid"), false, true, "song.mid"},
        {QString(), false, false, ""},
    };
    for (const auto& [path, file, folder, listed] : cases) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(FileExists(path), file);
        EXPECT_EQ(DirExists(path), folder);
        EXPECT_EQ(dirFirst(path, false), listed);
    }
}

TEST(Module1, ResourcesAreWrittenByteForByteAndExtractNeverReplaces) {
    QTemporaryDir dir;
    const QString map = dir.filePath("patch.cfg");
    ExtractResource(kResPatchMap, map);
    const QByteArray bytes = readAll(map);
    EXPECT_EQ(bytes.size(), 5481);
    EXPECT_TRUE(bytes.startsWith("0   acpiano.pat     0  1000\r\n"));
    EXPECT_EQ(bytes, readAll(KORVALIN_SOURCE_DIR "/frontend/common/default_patch.cfg"));
    writeAll(map, "0 mine.pat 0 1000\r\n");
    ExtractResource(kResPatchMap, map);
    EXPECT_EQ(readAll(map), "0 mine.pat 0 1000\r\n");

    const QString converter = dir.filePath("korvalin");
    ExtractResource(kResConverter, converter);
    EXPECT_EQ(readAll(converter), readAll(KORVALIN_BIN));
    EXPECT_TRUE(QFile::permissions(converter) & QFileDevice::ExeOther);
    EXPECT_THROW(ExtractResource(999, dir.filePath("x")), RuntimeError);
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

TEST(frmHelp, ShowsFourteenLinesInTheWindowsFont) {
    const QString text = frmHelp::helpText();
    ASSERT_TRUE(text.endsWith("\r\n"));
    const QStringList lines = text.chopped(2).split("\r\n");
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines[4], "v0.16  02/10/2005");
    EXPECT_EQ(lines[9], "- Fixed can't convert file from other directory");
    EXPECT_EQ(lines[13], "- Korvalin Front End");
    frmHelp window;
    EXPECT_EQ(window.Text1->toPlainText().split('\n').mid(0, 14), lines);
    EXPECT_EQ(window.Text1->font().pointSizeF(), formFont().pointSizeF());
}

}  // namespace
}  // namespace korvalinfe::testing
