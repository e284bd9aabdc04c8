// Options of the converter: the word lists of korvalin.cfg and of the
// command line, applied to ConversionSettings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

inline constexpr const char* kUsageText =
    "\n\nUsage: KORVALIN [options] file1 [file2 [...]]\n\nPlease see readme for options.\n";

// Splits the text of an option file into words. Whitespace separates words;
// "..." and '...' (a single quote or backquote opens, either one closes) keep
// whitespace inside a word and are removed; a quoted stretch does not end the
// word it stands in, and one left open runs to the end of the text. There is
// no comment syntax.
std::vector<std::string> splitOptionText(std::string_view text);

// Reads an unsigned decimal number the way "%lu" does: leading whitespace is
// skipped, an optional sign is accepted (a minus negates modulo 2^32), the
// digits end at the first other character. Values beyond 32 bits saturate.
// Returns nothing when no digit follows.
std::optional<std::uint32_t> scanUnsigned(std::string_view text, std::size_t* end = nullptr);

// Applies the words in order (the program name is not part of `words`).
// Words that are no option are input files; ".mid" is added to a name whose
// file part has no extension.
void parseOptions(std::span<const std::string> words, ConversionSettings& settings, Console& out);

// Checks done once after both word lists were applied: maxChannels is brought
// into 1..32.
void checkSettings(ConversionSettings& settings, Console& out);

}  // namespace korvalin
