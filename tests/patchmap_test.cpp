#include "driver/PatchMap.h"

#include <gtest/gtest.h>

#include <string>

namespace korvalin {
namespace {

// Every entry with a path: "index path instrument release", one a line.
std::string entries(const std::array<PatchMapEntry, kPatchMapSize>& map) {
    std::string text;
    for (std::size_t i = 0; i < map.size(); ++i) {
        const PatchMapEntry& e = map[i];
        if (!e.hasPath) continue;
        EXPECT_EQ(e.instrument, 0) << i;
        text += std::to_string(i) + " " + e.patchPath + " " + std::to_string(e.patchInstrument) +
                " " + std::to_string(e.releaseFactor) + "\n";
    }
    return text;
}

TEST(PatchMap, Lines) {
    struct Case {
        std::string text;
        std::string sampleDir;
        std::string entries;
        std::string printed;
    };
    const std::string warn = "\n    WARNING: patch.cfg line ";
    const std::string missing = ": fields missing, line ignored";
    const Case cases[] = {
        {"0 piano.pat 0 1000", "pats/", "0 pats/piano.pat 0 1000\n", ""},
        {"5 a.pat 1 10\n5 b.pat 2 20\n", "s/", "5 s/b.pat 2 20\n", ""},  // the later line wins
        {"1 a.pat 0 1000\n\n   \nsome text\n# 7 x.pat 0 0\n2 b.pat 0 900\n", "s/",
         "1 s/a.pat 0 1000\n2 s/b.pat 0 900\n", ""},
        {"255 k.pat 0 1000\n256 b.pat 0 1000\n", "s/", "255 s/k.pat 0 1000\n",
         warn + "2: index 256 is above 255, line ignored"},
        {"\n4 a.pat\n5 b.pat 3\n6\n7 c.pat x 9\n8 d.pat 1 1000", "s/", "8 s/d.pat 1 1000\n",
         warn + "2" + missing + warn + "3" + missing + warn + "4" + missing + warn + "5" + missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        std::array<PatchMapEntry, kPatchMapSize> map{};
        CaptureConsole console;
        readPatchMap(c.text, c.sampleDir, map, console);
        EXPECT_EQ(entries(map), c.entries);
        EXPECT_EQ(console.out, c.printed);
        EXPECT_EQ(console.err, "");
    }
}

}  // namespace
}  // namespace korvalin
