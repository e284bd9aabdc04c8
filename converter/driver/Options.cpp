#include "driver/Options.h"

#include <cctype>

#include "driver/Paths.h"

namespace korvalin {
namespace {

constexpr std::uint32_t kMaxModuleChannels = 32;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isSingleQuote(char c) {
    return c == '\'' || c == '`';
}

enum class Argument { None, Number, Text };

struct OptionSpec {
    const char* name;
    Argument argument;
};

// Compared in this order, exactly and with case.
constexpr OptionSpec kOptions[] = {
    {"-sampd", Argument::Text}, {"-perch", Argument::Number},   {"-maxch", Argument::Number},
    {"-name", Argument::Text},  {"-outd", Argument::Text},      {"-qnt", Argument::Number},
    {"-8bit", Argument::None},  {"-maxrate", Argument::Number}, {"-tweakvol", Argument::None},
    {"-o", Argument::Text},     {"-dirtyend", Argument::None},  {"-nopan", Argument::None},
    {"-small", Argument::None},
};

const OptionSpec* findOption(const std::string& word) {
    for (const OptionSpec& option : kOptions)
        if (word == option.name) return &option;
    return nullptr;
}

// A numeric argument that is not a number leaves the setting as it was.
void setNumber(std::uint32_t& target, const std::string& word) {
    if (const auto value = scanUnsigned(word)) target = *value;
}

void applyOption(const std::string& option, const std::string& argument,
                 ConversionSettings& settings, Console& out) {
    if (option == "-sampd") {
        settings.sampleDir = dupDirectory(argument);
    } else if (option == "-perch") {
        setNumber(settings.percussionChannel, argument);
    } else if (option == "-maxch") {
        setNumber(settings.maxChannels, argument);
    } else if (option == "-name") {
        setNameField(settings.moduleName, argument);
        settings.hasModuleName = true;
    } else if (option == "-outd") {
        settings.outputDir = dupDirectory(argument);
    } else if (option == "-qnt") {
        // The track scan divides by the quantize value, so 0 is never taken.
        const auto value = scanUnsigned(argument);
        if (value && *value == 0) {
            out.print("\n    WARNING: -qnt 0 is not allowed, quantize stays %lu",
                      static_cast<unsigned long>(settings.quantize));
        } else if (value) {
            settings.quantize = *value;
        }
    } else if (option == "-8bit") {
        settings.optionFlags = static_cast<std::uint8_t>(settings.optionFlags & ~kKeep16Bit);
    } else if (option == "-maxrate") {
        setNumber(settings.maxSampleRate, argument);
    } else if (option == "-tweakvol") {
        settings.optionFlags |= kTweakVolume;
    } else if (option == "-o") {
        settings.outputName = argument;
        settings.hasOutputName = true;
    } else if (option == "-dirtyend") {
        settings.optionFlags |= kDirtyEnd;
    } else if (option == "-nopan") {
        settings.optionFlags |= kNoPan;
    } else if (option == "-small") {
        settings.optionFlags |= kSmall;
    }
}

}  // namespace

std::vector<std::string> splitOptionText(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i++];
        if (isSpace(c)) {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else if (c == '"' || isSingleQuote(c)) {
            const bool doubleQuote = c == '"';
            while (i < text.size()) {
                const char q = text[i++];
                if (doubleQuote ? q == '"' : isSingleQuote(q)) break;
                word += q;
            }
        } else {
            word += c;
        }
    }
    // An empty quoted stretch on its own adds nothing, so only non-empty words count.
    if (!word.empty()) words.push_back(word);
    return words;
}

std::optional<std::uint32_t> scanUnsigned(std::string_view text, std::size_t* end) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    std::uint64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > UINT32_MAX) value = UINT32_MAX + std::uint64_t{1};
    }
    if (end) *end = i;
    const auto result = value > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

void parseOptions(std::span<const std::string> words, ConversionSettings& settings, Console& out) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const OptionSpec* option = findOption(word);
        if (!option) {
            std::string name = word;
            if (splitPath(word).extension.empty()) name += ".mid";
            settings.inputFiles.push_back(std::move(name));
            continue;
        }
        if (option->argument == Argument::None) {
            applyOption(word, {}, settings, out);
            continue;
        }
        if (i + 1 >= words.size()) {
            out.print("\n    WARNING: Option %s needs an argument, ignored", option->name);
            continue;
        }
        applyOption(word, words[++i], settings, out);
    }
}

void checkSettings(ConversionSettings& settings, Console& out) {
    if (settings.maxChannels == 0 || settings.maxChannels > kMaxModuleChannels) {
        const std::uint32_t used = settings.maxChannels == 0 ? 1 : kMaxModuleChannels;
        out.print("\n    WARNING: -maxch %lu is out of range 1 to %lu, using %lu",
                  static_cast<unsigned long>(settings.maxChannels),
                  static_cast<unsigned long>(kMaxModuleChannels), static_cast<unsigned long>(used));
        settings.maxChannels = used;
    }
}

}  // namespace korvalin
