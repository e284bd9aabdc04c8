// Shared procedures, embedded resources, the toolkit services they rest on,
// and the help window's text.
#include "common/Module1.h"
#include "common/Toolkit.h"
#include "windows/frmHelp.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace korvalinfe {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
        if (value) qputenv(name, value); else qunsetenv(name);
    }
    ~ScopedEnv() { if (had_) qputenv(name_, old_); else qunsetenv(name_); }
private:
    const char* name_;
    QByteArray old_;
    bool had_;
};

TEST(Module1, AppPathEndsInExactlyOneSlash) {
    struct Case {
        const char* program;
        bool writable;
        const char* expected;
    };
    const Case cases[] = {
        {"/opt/korvalin", true, "/opt/korvalin/"},
        {"/opt/korvalin/", true, "/opt/korvalin/"},
        {"/", true, "/"},
        {"/usr/bin", false, "/home/u/.local/share/KorvalinFE/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        EXPECT_EQ(chooseAppPath(c.program, c.writable, "/home/u/.local/share/KorvalinFE"), c.expected);
    }
    const QString real = AppPath();
    EXPECT_TRUE(real.endsWith(u'/') && !real.endsWith(QStringLiteral("//"))) << real.toStdString();
    EXPECT_TRUE(QDir(real).exists());
}

TEST(Module1, UserDataFolderFollowsXdgDataHome) {
    ScopedEnv home("HOME", "/home/u");
    struct Case {
        const char* xdg;
        const char* expected;
    };
    const Case cases[] = {
        {"/data", "/data/KorvalinFE"},
        {"/data/", "/data/KorvalinFE"},
        {"relative/dir", "/home/u/.local/share/KorvalinFE"},
        {nullptr, "/home/u/.local/share/KorvalinFE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xdg ? c.xdg : "unset");
        ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
        EXPECT_EQ(userDataFolder(), c.expected);
    }
}

TEST(Module1, FileExistsAndDirExists) {
    QTemporaryDir dir;
    writeAll(dir.filePath("song.mid"), "MThd");
    QDir(dir.path()).mkdir("folder");
    struct Case {
        const char* name;
        QString path;
        bool file;
        bool folder;
    };
    const Case cases[] = {
        {"folder", dir.filePath("folder"), false, true},
        {"folder with trailing slash", dir.filePath("folder") + "/", false, true},
        {"file", dir.filePath("song.mid"), true, true},
        {"missing", dir.filePath("none.mid"), false, false},
        {"empty path", QString(), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FileExists(c.path), c.file);
        EXPECT_EQ(DirExists(c.path), c.folder);
    }
}

TEST(Module1, FileThatCannotBeReadCountsAsAbsent) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    QTemporaryDir dir;
    const QString path = dir.filePath("locked.cfg");
    writeAll(path, "x");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(DirExists(path));
}

TEST(Module1, DefaultPatchMapIsWrittenByteForByte) {
    QTemporaryDir dir;
    const QString path = dir.filePath("patch.cfg");
    ExtractResource(kResPatchMap, path);
    const QByteArray bytes = readAll(path);
    EXPECT_EQ(bytes.size(), 5481);
    EXPECT_TRUE(bytes.startsWith("0   acpiano.pat     0  1000\r\n"));
    EXPECT_EQ(bytes, readAll(KORVALIN_SOURCE_DIR "/frontend/common/default_patch.cfg"));

    // 189 lines of 27 characters; programs 0 to 127 and percussion keys 27 to 87.
    QList<QByteArray> lines = bytes.split('\n');
    ASSERT_TRUE(lines.last().isEmpty());
    lines.removeLast();
    ASSERT_EQ(lines.size(), 189);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        const int entry = static_cast<int>(i < 128 ? i : i - 128 + 155);
        EXPECT_EQ(lines[i].size(), 28);  // with its CR
        EXPECT_EQ(lines[i].left(4).trimmed().toInt(), entry);
        EXPECT_TRUE(lines[i].mid(4, 16).trimmed().endsWith(".pat"));
        EXPECT_EQ(lines[i].mid(20), "0  1000\r");
    }
}

TEST(Module1, EmbeddedConverterIsThisBuildsProgramAndExecutable) {
    QTemporaryDir dir;
    const QString path = dir.filePath("korvalin");
    ExtractResource(kResConverter, path);
    EXPECT_EQ(readAll(path), readAll(KORVALIN_BIN));
    EXPECT_TRUE(QFile::permissions(path) & QFileDevice::ExeOwner);
}

TEST(Module1, ExtractResourceNeverReplacesAnExistingFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("patch.cfg");
    writeAll(path, "0 mine.pat 0 1000\r\n");
    ExtractResource(kResPatchMap, path);
    EXPECT_EQ(readAll(path), "0 mine.pat 0 1000\r\n");
}

TEST(Module1, ExtractResourceFailuresAreRaisedAndLeaveNoFile) {
    QTemporaryDir dir;
    struct Case {
        const char* name;
        int resource;
        QString path;
        long number;
    };
    const Case cases[] = {
        {"no such resource", 999, dir.filePath("x.bin"), kErrResourceNotFound},
        {"folder missing", kResPatchMap, dir.filePath("missing/patch.cfg"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ExtractResource(static_cast<std::uint16_t>(c.resource), c.path);
            ADD_FAILURE() << "no error raised";
        } catch (const RuntimeError& error) {
            if (c.number != 0) {
                EXPECT_EQ(error.Number(), c.number);
            }
        }
        EXPECT_FALSE(QFile::exists(c.path));
    }
}

TEST(Toolkit, TextFilesUseCrLfAndReadEveryLineEnd) {
    QTemporaryDir dir;
    const QString path = dir.filePath("korvalin.cfg");
    TextFileWriter writer(path);
    writer.writeLine("-sampd /music");
    writer.writeLine("-8bit ");
    writer.close();
    EXPECT_EQ(readAll(path), "-sampd /music\r\n-8bit \r\n");

    struct Case {
        const char* name;
        QByteArray bytes;
        QStringList lines;
    };
    const Case cases[] = {
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"LF only", "a\nb\n", {"a", "b"}},
        {"last line unterminated", "a\r\nb", {"a", "b"}},
        {"empty lines kept", "\r\n\r\nc\r\n", {"", "", "c"}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAll(path, c.bytes);
        TextFileReader reader(path);
        QStringList lines;
        while (!reader.atEnd()) lines << reader.readLine();
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(Toolkit, DirectoryListingSkipsHiddenAndHonoursFolders) {
    QTemporaryDir dir;
    writeAll(dir.filePath(".hidden.cfg"), "x");
    writeAll(dir.filePath("patch.cfg"), "x");
    QDir(dir.path()).mkdir("sub.cfg");
    struct Case {
        const char* name;
        QString path;
        bool folders;
        QString found;
    };
    const Case cases[] = {
        {"exact file", dir.filePath("patch.cfg"), false, "patch.cfg"},
        {"folder without folders", dir.filePath("sub.cfg"), false, ""},
        {"folder with folders", dir.filePath("sub.cfg"), true, "sub.cfg"},
        {"wildcard skips hidden", dir.filePath("*.cfg"), false, "patch.cfg"},
        {"hidden named exactly", dir.filePath(".hidden.cfg"), false, ".hidden.cfg"},
        {"nothing matches", dir.filePath("*.mid"), true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dirFirst(c.path, c.folders), c.found);
    }
}

TEST(Toolkit, FileCopyReplacesTargetAndSurvivesCopyOntoItself) {
    QTemporaryDir dir;
    writeAll(dir.filePath("a.cfg"), "new\r\n");
    writeAll(dir.filePath("b.cfg"), "old old old\r\n");
    fileCopy(dir.filePath("a.cfg"), dir.filePath("b.cfg"));
    EXPECT_EQ(readAll(dir.filePath("b.cfg")), "new\r\n");
    fileCopy(dir.filePath("a.cfg"), dir.filePath("a.cfg"));
    EXPECT_EQ(readAll(dir.filePath("a.cfg")), "new\r\n");
    killFile(dir.filePath("a.cfg"));
    EXPECT_FALSE(QFile::exists(dir.filePath("a.cfg")));
    EXPECT_THROW(killFile(dir.filePath("a.cfg")), RuntimeError);
}

TEST(Toolkit, ListAcceptsOnlyItsEntries) {
    QComboBox list;
    list.addItems({"8000", "11025"});
    chooseListEntry(&list, "11025");
    EXPECT_EQ(list.currentIndex(), 1);
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
    EXPECT_TRUE(lines[0].contains("korvalin"));
    EXPECT_EQ(lines[4], "v0.16  02/10/2005");
    EXPECT_EQ(lines[9], "- Fixed can't convert file from other directory");
    EXPECT_EQ(lines[13], "- Korvalin Front End");
    frmHelp window;
    EXPECT_EQ(window.windowTitle(), "Help");
    EXPECT_TRUE(window.Text1->isReadOnly());
    EXPECT_EQ(window.Text1->toPlainText().split('\n').mid(0, 14), lines);
}

}  // namespace
}  // namespace korvalinfe
