#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/Options.h"

namespace korvalin {
namespace {

using Words = std::vector<std::string>;

TEST(OptionFile, WordSplitting) {
    struct Case {
        const char* name;
        std::string text;
        Words words;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"only whitespace", " \t\r\n\v\f  \n", {}},
        {"plain words over lines", "-perch 15\r\nsong.mid\n\n-8bit", {"-perch", "15", "song.mid", "-8bit"}},
        {"double quotes keep blanks", "-sampd \"C:\\My Samples\"", {"-sampd", "C:\\My Samples"}},
        {"quotes inside a word", "a\"b c\"d", {"ab cd"}},
        {"single quote closed by backquote", "'x y`z", {"x yz"}},
        {"backquote closed by single quote", "`x\ny' w", {"x\ny", "w"}},
        {"a double quote inside single quotes", "'say \"hi\"'", {"say \"hi\""}},
        {"empty quotes alone make no word", "a \"\" b ''", {"a", "b"}},
        {"empty quotes inside a word", "a\"\"b", {"ab"}},
        {"open quote runs to the end", "x \"open to\nthe end", {"x", "open to\nthe end"}},
        {"no comment syntax", "# -nopan ; rem", {"#", "-nopan", ";", "rem"}},
        {"a long word is kept whole", std::string(3000, 'w'), {std::string(3000, 'w')}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(splitOptionText(c.text), c.words);
    }
}

TEST(OptionFile, Numbers) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;
    };
    const Case cases[] = {
        {"15", 15u},       {"  7", 7u},         {"12abc", 12u},          {"+3", 3u},
        {"-1", 0xFFFFFFFFu}, {"abc", std::nullopt}, {"", std::nullopt},    {"-", std::nullopt},
        {"4294967295", 0xFFFFFFFFu}, {"99999999999999999999", 0xFFFFFFFFu}, {"0", 0u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(scanUnsigned(c.text), c.value);
    }
}

struct Parsed {
    ConversionSettings settings;
    CaptureConsole console;
};

void parse(Parsed& p, const Words& fileWords, const Words& commandWords = {}) {
    parseOptions(fileWords, p.settings, p.console);
    parseOptions(commandWords, p.settings, p.console);
    checkSettings(p.settings, p.console);
}

TEST(Options, CommandLineWinsAndFilesAccumulate) {
    Parsed p;
    parse(p, {"-perch", "15", "song", "-sampd", "pats", "-8bit"},
          {"-perch", "3", "other.mid", "-sampd", "more\\", "-tweakvol"});
    EXPECT_EQ(p.settings.percussionChannel, 3u);
    EXPECT_EQ(p.settings.inputFiles, (Words{"song.mid", "other.mid"}));
    EXPECT_EQ(p.settings.sampleDir, "more\\");
    EXPECT_EQ(p.settings.optionFlags, kTweakVolume);  // -8bit cleared keep16Bit for good
    EXPECT_EQ(p.console.all, "");
}

TEST(Options, EachOption) {
    struct Case {
        const char* name;
        Words words;
        void (*check)(const ConversionSettings&);
    };
    const Case cases[] = {
        {"numbers", {"-maxch", "8", "-qnt", "4", "-maxrate", "22050", "-perch", "0"},
         [](const ConversionSettings& s) {
             EXPECT_EQ(s.maxChannels, 8u);
             EXPECT_EQ(s.quantize, 4u);
             EXPECT_EQ(s.maxSampleRate, 22050u);
             EXPECT_EQ(s.percussionChannel, 0u);
         }},
        {"not a number keeps the value", {"-maxch", "abc", "-perch", "x1"},
         [](const ConversionSettings& s) {
             EXPECT_EQ(s.maxChannels, 32u);
             EXPECT_EQ(s.percussionChannel, 9u);
             EXPECT_TRUE(s.inputFiles.empty());  // the argument is used up
         }},
        {"flags", {"-tweakvol", "-dirtyend", "-nopan", "-small", "-8bit"},
         [](const ConversionSettings& s) {
             EXPECT_EQ(s.optionFlags, kTweakVolume | kDirtyEnd | kNoPan | kSmall);
         }},
        {"folders get a separator", {"-sampd", "C:\\My Samples", "-outd", "out"},
         [](const ConversionSettings& s) {
             EXPECT_EQ(s.sampleDir, "C:\\My Samples/");
             EXPECT_EQ(s.outputDir, "out/");
         }},
        {"an empty folder is the current one", {"-outd", ""},
         [](const ConversionSettings& s) { EXPECT_EQ(s.outputDir, "./"); }},
        {"name keeps 20 characters", {"-name", "ABCDEFGHIJKLMNOPQRSTUVWXY"},
         [](const ConversionSettings& s) {
             EXPECT_TRUE(s.hasModuleName);
             EXPECT_EQ(std::string(s.moduleName.data(), 20), "ABCDEFGHIJKLMNOPQRST");
         }},
        {"short name is zero padded", {"-name", "Title"},
         [](const ConversionSettings& s) {
             EXPECT_EQ(std::string(s.moduleName.data(), 20), std::string("Title") + std::string(15, '\0'));
         }},
        {"-o takes any next word", {"-o", "-small"},
         [](const ConversionSettings& s) {
             EXPECT_TRUE(s.hasOutputName);
             EXPECT_EQ(s.outputName, "-small");
             EXPECT_EQ(s.optionFlags, kKeep16Bit);
         }},
        {"file names", {"song", "song.MID", "-x", "dir.v2/tune", "a.b.mid", "C:\\dir.x\\tune"},
         [](const ConversionSettings& s) {
             EXPECT_EQ(s.inputFiles, (Words{"song.mid", "song.MID", "-x.mid", "dir.v2/tune.mid",
                                            "a.b.mid", "C:\\dir.x\\tune.mid"}));
         }},
        {"options match exactly, with case", {"-Small", "-8BIT"},
         [](const ConversionSettings& s) {
             EXPECT_EQ(s.optionFlags, kKeep16Bit);
             EXPECT_EQ(s.inputFiles, (Words{"-Small.mid", "-8BIT.mid"}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Parsed p;
        parse(p, c.words);
        c.check(p.settings);
        EXPECT_EQ(p.console.all, "");
    }
}

TEST(Options, Warnings) {
    struct Case {
        const char* name;
        Words fileWords;
        Words commandWords;
        std::string printed;
        void (*check)(const ConversionSettings&);
    };
    const Case cases[] = {
        {"argument missing at the end of the option file", {"-perch"}, {"5"},
         "\n    WARNING: Option -perch needs an argument, ignored",
         [](const ConversionSettings& s) {
             EXPECT_EQ(s.percussionChannel, 9u);
             EXPECT_EQ(s.inputFiles, (Words{"5.mid"}));
         }},
        {"-o last on the command line", {}, {"a", "-o"},
         "\n    WARNING: Option -o needs an argument, ignored",
         [](const ConversionSettings& s) { EXPECT_FALSE(s.hasOutputName); }},
        {"-maxch 0", {}, {"-maxch", "0"},
         "\n    WARNING: -maxch 0 is out of range 1 to 32, using 1",
         [](const ConversionSettings& s) { EXPECT_EQ(s.maxChannels, 1u); }},
        {"-maxch 33", {"-maxch", "33"}, {},
         "\n    WARNING: -maxch 33 is out of range 1 to 32, using 32",
         [](const ConversionSettings& s) { EXPECT_EQ(s.maxChannels, 32u); }},
        {"-maxch out of range in the file, mended on the command line", {"-maxch", "0"},
         {"-maxch", "12"}, "", [](const ConversionSettings& s) { EXPECT_EQ(s.maxChannels, 12u); }},
        {"-qnt 0 keeps the earlier value", {"-qnt", "4", "-small"}, {"-qnt", "0"},
         "\n    WARNING: -qnt 0 is not allowed, quantize stays 4",
         [](const ConversionSettings& s) { EXPECT_EQ(s.quantize, 4u); }},
        {"-qnt 0 before -small", {"-qnt", "0"}, {"-small"},
         "\n    WARNING: -qnt 0 is not allowed, quantize stays 16",
         [](const ConversionSettings& s) { EXPECT_EQ(s.quantize, 16u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Parsed p;
        parse(p, c.fileWords, c.commandWords);
        EXPECT_EQ(p.console.out, c.printed);
        EXPECT_EQ(p.console.err, "");
        c.check(p.settings);
    }
}

}  // namespace
}  // namespace korvalin
