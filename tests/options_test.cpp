// Option words, numbers, settings and warnings; the patch map file.
#include "driver/Options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/PatchMap.h"

namespace korvalin {
namespace {

using Words = std::vector<std::string>;

// The settings that differ from the defaults, as text.
std::string changed(const ConversionSettings& s) {
    const ConversionSettings d;
    std::string text;
    const auto number = [&text](const char* name, std::uint32_t value, std::uint32_t byDefault) {
        if (value != byDefault) text += std::string(name) + "=" + std::to_string(value) + " ";
    };
    number("perch", s.percussionChannel, d.percussionChannel);
    number("maxch", s.maxChannels, d.maxChannels);
    number("qnt", s.quantize, d.quantize);
    number("maxrate", s.maxSampleRate, d.maxSampleRate);
    number("flags", s.optionFlags, d.optionFlags);
    if (s.sampleDir != d.sampleDir) text += "sampd=" + s.sampleDir + " ";
    if (s.outputDir != d.outputDir) text += "outd=" + s.outputDir + " ";
    const char* name = s.moduleName.data();
    if (s.hasModuleName) text += "name=" + std::string(name, strnlen(name, 20)) + " ";
    if (s.hasOutputName) text += "o=" + s.outputName + " ";
    for (const std::string& file : s.inputFiles) text += file + " ";
    return text;
}

// Words of the option file, then of the command line, then the final check.
TEST(Options, ParsedSettingsAndWarnings) {
    struct Case {
        Words fileWords, commandWords;
        std::string settings;
        std::string printed;
    };
    const std::string warn = "\n    WARNING: ";
    const Case cases[] = {
        {{"-maxch", "8", "-qnt", "4", "-maxrate", "22050", "-perch", "0"},
         {},
         "perch=0 maxch=8 qnt=4 maxrate=22050 ",
         ""},
        {{"-perch", "15", "song", "-sampd", "pats", "-8bit"},  // -8bit has a lasting effect
         {"-perch", "3", "b.mid", "-sampd", "x\\", "-tweakvol"},
         "perch=3 flags=1 sampd=x\\ song.mid b.mid ",
         ""},
        {{"-tweakvol", "-dirtyend", "-nopan", "-small"}, {}, "flags=31 ", ""},
        {{"-sampd", "C:\\My Samples", "-outd", ""}, {}, "sampd=C:\\My Samples/ ", ""},  // "" is ./
        {{"song", "song.MID", "-x", "dir.v2/tune", "C:\\dir.x\\tune"},
         {},
         "song.mid song.MID -x.mid dir.v2/tune.mid C:\\dir.x\\tune.mid ",
         ""},
        {{"-perch"}, {"5"}, "5.mid ", warn + "Option -perch needs an argument, ignored"},
        {{}, {"-maxch", "0"}, "maxch=1 ", warn + "-maxch 0 is out of range 1 to 32, using 1"},
        {{"-qnt", "4"}, {"-qnt", "0"}, "qnt=4 ", warn + "-qnt 0 is not allowed, quantize stays 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.fileWords) + testing::PrintToString(c.commandWords));
        ConversionSettings settings;
        CaptureConsole console;
        parseOptions(c.fileWords, settings, console);
        parseOptions(c.commandWords, settings, console);
        checkSettings(settings, console);
        EXPECT_EQ(changed(settings), c.settings);
        EXPECT_EQ(console.out, c.printed);
        EXPECT_EQ(console.err, "");
    }
}

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
