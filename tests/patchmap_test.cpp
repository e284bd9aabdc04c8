#include <gtest/gtest.h>

#include <string>

#include "driver/PatchMap.h"

namespace korvalin {
namespace {

struct MapResult {
    std::array<PatchMapEntry, kPatchMapSize> map{};
    CaptureConsole console;
};

void readMap(MapResult& r, const std::string& text, const std::string& sampleDir = "samples/") {
    readPatchMap(text, sampleDir, r.map, r.console);
}

struct Entry {
    std::size_t index;
    std::string path;
    std::uint32_t patchInstrument;
    std::uint32_t releaseFactor;
};

TEST(PatchMap, Lines) {
    struct Case {
        const char* name;
        std::string text;
        std::string sampleDir;
        std::vector<Entry> entries;  // every other entry has no path
        std::string printed;
    };
    const Case cases[] = {
        {"one line", "0 piano.pat 0 1000\n", "samples/", {{0, "samples/piano.pat", 0, 1000}}, ""},
        {"another sample folder", "0 piano.pat 0 1000", "pats/", {{0, "pats/piano.pat", 0, 1000}}, ""},
        {"percussion key 35", "163 kick.pat 2 500\r\n", "samples/", {{163, "samples/kick.pat", 2, 500}}, ""},
        {"later line wins", "5 a.pat 1 10\n5 b.pat 2 20\n", "samples/", {{5, "samples/b.pat", 2, 20}}, ""},
        {"text and blank lines change nothing",
         "1 a.pat 0 1000\n\n   \nsome text\n# 7 x.pat 0 0\n2 b.pat 0 900\n", "samples/",
         {{1, "samples/a.pat", 0, 1000}, {2, "samples/b.pat", 0, 900}}, ""},
        {"leading blanks, subfolders and trailing words",
         "  \t10 gm/strings.pat 3 1200 extra words\n", "samples/",
         {{10, "samples/gm/strings.pat", 3, 1200}}, ""},
        {"no valid line", "piano.pat 0 1000\n", "samples/", {}, ""},
        {"index 255 is the last one", "255 k.pat 0 1000", "samples/", {{255, "samples/k.pat", 0, 1000}}, ""},
        {"index 256 is refused", "1 a.pat 0 1000\n256 b.pat 0 1000\n", "samples/",
         {{1, "samples/a.pat", 0, 1000}},
         "\n    WARNING: patch.cfg line 2: index 256 is above 255, line ignored"},
        {"index 70000 is refused", "70000 b.pat 0 1000\n", "samples/", {},
         "\n    WARNING: patch.cfg line 1: index 70000 is above 255, line ignored"},
        {"missing numbers", "\n4 a.pat\n5 b.pat 3\n6\n7 c.pat x 9\n8 d.pat 1 1000", "samples/",
         {{8, "samples/d.pat", 1, 1000}},
         "\n    WARNING: patch.cfg line 2: fields missing, line ignored"
         "\n    WARNING: patch.cfg line 3: fields missing, line ignored"
         "\n    WARNING: patch.cfg line 4: fields missing, line ignored"
         "\n    WARNING: patch.cfg line 5: fields missing, line ignored"},
        {"a long line and a long file name", "9 " + std::string(2000, 'p') + ".pat 0 1000", "s/",
         {{9, "s/" + std::string(2000, 'p') + ".pat", 0, 1000}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapResult r;
        readMap(r, c.text, c.sampleDir);
        EXPECT_EQ(r.console.out, c.printed);
        EXPECT_EQ(r.console.err, "");
        std::size_t withPath = 0;
        for (const PatchMapEntry& e : r.map) withPath += e.hasPath ? 1 : 0;
        EXPECT_EQ(withPath, c.entries.size());
        for (const Entry& want : c.entries) {
            SCOPED_TRACE(want.index);
            const PatchMapEntry& got = r.map[want.index];
            EXPECT_TRUE(got.hasPath);
            EXPECT_EQ(got.patchPath, want.path);
            EXPECT_EQ(got.patchInstrument, want.patchInstrument);
            EXPECT_EQ(got.releaseFactor, want.releaseFactor);
            EXPECT_EQ(got.instrument, 0);
        }
    }
}

TEST(PatchMap, ReadingAgainClearsOldPaths) {
    MapResult r;
    readMap(r, "3 a.pat 0 1000\n");
    r.map[3].instrument = 4;
    readMap(r, "4 b.pat 0 1000\n");
    EXPECT_FALSE(r.map[3].hasPath);
    EXPECT_TRUE(r.map[3].patchPath.empty());
    EXPECT_TRUE(r.map[4].hasPath);
}

}  // namespace
}  // namespace korvalin
