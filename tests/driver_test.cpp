#include <gtest/gtest.h>

#include <string>

#include "driver/Paths.h"

namespace korvalin {
namespace {

TEST(Paths, SplitPath) {
    // path, then directory | base | extension
    const std::pair<const char*, const char*> cases[] = {
        {"song.mid", "|song|.mid"},
        {"my.song.mid", "|my|.song.mid"},
        {"a/b.c/tune", "a/b.c/|tune|"},
        {"C:\\dir.x\\tune.mid", "C:\\dir.x\\|tune|.mid"},
        {"a\\b/c.mid", "a\\b/|c|.mid"},  // '/' wins over '\'
        {".hidden", "||.hidden"},
        {"dir/", "dir/||"},
        {"", "||"},
    };
    for (const auto& [path, parts] : cases) {
        SCOPED_TRACE(path);
        const PathParts got = splitPath(path);
        EXPECT_EQ(got.directory + "|" + got.base + "|" + got.extension, parts);
    }
}

TEST(Paths, OutputNameAndModuleName) {
    struct Case {
        const char* outputName;  // nullptr: no -o
        const char* outputDir;
        const char* input;
        std::size_t index;
        const char* output;
        std::string moduleName;
    };
    const Case cases[] = {
        {nullptr, "./", "a.b.mid", 0, "./a.xm", "a"},
        {nullptr, "out/", "in/dir/tune.mid", 1, "out/tune.xm", "tune"},
        {"out", "./", "x.mid", 0, "./out.xm", "x"},
        {"out.mod", "./", "x.mid", 0, "./out.mod", "x"},
        {"dir/out", "xm/", "x.mid", 0, "dir/out.xm", "x"},
        {"out", "./", "second.mid", 1, "./second.xm", "second"},
        {nullptr, "./", "abcdefghijklmnopqrstuvwxyz.mid", 0, "./abcdefghijklmnopqrstuvwxyz.xm",
         "abcdefghijklmnopqrst"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        ConversionSettings settings;
        settings.outputDir = c.outputDir;
        settings.hasOutputName = c.outputName != nullptr;
        if (c.outputName) settings.outputName = c.outputName;
        std::array<char, 20> moduleName{};
        EXPECT_EQ(makeOutputName(settings, c.input, c.index, moduleName), c.output);
        // The field is zero padded to its 20 bytes.
        const std::string padding(20 - c.moduleName.size(), '\0');
        EXPECT_EQ(std::string(moduleName.data(), 20), c.moduleName + padding);
    }
}

}  // namespace
}  // namespace korvalin
