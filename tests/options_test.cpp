#include "driver/Options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace korvalin {
namespace {

using Words = std::vector<std::string>;

TEST(OptionFile, WordSplitting) {
    const std::pair<std::string, Words> cases[] = {
        {" \t\r\n\v\f  \n", {}},
        {"-perch 15\r\nsong.mid\n\n-8bit", {"-perch", "15", "song.mid", "-8bit"}},
        {"a\"b c\"d a\"\"b", {"ab cd", "ab"}},
        {"'x y`z `x\ny' w", {"x yz", "x\ny", "w"}},  // either single quote closes the other
        {"a \"\" b ''", {"a", "b"}},                 // empty quotes alone make no word
        {"x \"open to\nthe end", {"x", "open to\nthe end"}},
    };
    for (const auto& [text, words] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(splitOptionText(text), words);
    }
}

TEST(OptionFile, Numbers) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"15", 15u},           {"12abc", 12u},
        {"-1", 0xFFFFFFFFu},   {"99999999999999999999", 0xFFFFFFFFu},
        {"abc", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(scanUnsigned(text), value);
    }
}

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
        {{"-name", "ABCDEFGHIJKLMNOPQRSTUVWXY"}, {}, "name=ABCDEFGHIJKLMNOPQRST ", ""},
        {{"song", "song.MID", "-x", "dir.v2/tune", "C:\\dir.x\\tune"},
         {},
         "song.mid song.MID -x.mid dir.v2/tune.mid C:\\dir.x\\tune.mid ",
         ""},
        {{"-Small", "-8BIT"}, {}, "-Small.mid -8BIT.mid ", ""},  // options match exactly, with case
        {{"-perch"}, {"5"}, "5.mid ", warn + "Option -perch needs an argument, ignored"},
        {{}, {"-maxch", "0"}, "maxch=1 ", warn + "-maxch 0 is out of range 1 to 32, using 1"},
        {{"-maxch", "0"}, {"-maxch", "12"}, "maxch=12 ", ""},  // checked after both lists
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

}  // namespace
}  // namespace korvalin
