#include <gtest/gtest.h>

#include <string>

#include "driver/Paths.h"

namespace korvalin {
namespace {

TEST(Paths, SplitPath) {
    struct Case {
        const char* path;
        const char* directory;
        const char* base;
        const char* extension;
    };
    const Case cases[] = {
        {"song.mid", "", "song", ".mid"},
        {"my.song.mid", "", "my", ".song.mid"},
        {"a/b.c/tune", "a/b.c/", "tune", ""},
        {"C:\\dir.x\\tune.mid", "C:\\dir.x\\", "tune", ".mid"},
        {"a\\b/c.mid", "a\\b/", "c", ".mid"},  // '/' wins over '\'
        {".hidden", "", "", ".hidden"},
        {"dir/", "dir/", "", ""},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const PathParts parts = splitPath(c.path);
        EXPECT_EQ(parts.directory, c.directory);
        EXPECT_EQ(parts.base, c.base);
        EXPECT_EQ(parts.extension, c.extension);
    }
}

TEST(Paths, OutputNameAndModuleName) {
    struct Case {
        const char* name;
        const char* outputName;  // nullptr: no -o
        const char* outputDir;
        const char* input;
        std::size_t index;
        const char* output;
        std::string moduleName;  // 20 bytes
    };
    const auto padded = [](const std::string& s) { return s + std::string(20 - s.size(), '\0'); };
    const Case cases[] = {
        {"plain", nullptr, "./", "song.mid", 0, "./song.xm", padded("song")},
        {"base name cut at the first dot", nullptr, "./", "a.b.mid", 0, "./a.xm", padded("a")},
        {"input folder is dropped", nullptr, "out/", "in/dir/tune.mid", 1, "out/tune.xm", padded("tune")},
        {"-o without extension", "out", "./", "x.mid", 0, "./out.xm", padded("x")},
        {"-o with extension", "out.mod", "./", "x.mid", 0, "./out.mod", padded("x")},
        {"-o with a folder", "dir/out", "xm/", "x.mid", 0, "dir/out.xm", padded("x")},
        {"-o only for the first file", "out", "./", "second.mid", 1, "./second.xm", padded("second")},
        {"long base name fills the field", nullptr, "./", "abcdefghijklmnopqrstuvwxyz.mid", 0,
         "./abcdefghijklmnopqrstuvwxyz.xm", "abcdefghijklmnopqrst"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConversionSettings settings;
        settings.outputDir = c.outputDir;
        if (c.outputName) {
            settings.hasOutputName = true;
            settings.outputName = c.outputName;
        }
        std::array<char, 20> moduleName{};
        EXPECT_EQ(makeOutputName(settings, c.input, c.index, moduleName), c.output);
        EXPECT_EQ(std::string(moduleName.data(), 20), c.moduleName);
    }
}

}  // namespace
}  // namespace korvalin
