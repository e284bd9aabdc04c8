// File-name helpers of the driver: splitting a path, directory prefixes and
// the output name of each input file.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "base/State.h"

namespace korvalin {

struct PathParts {
    std::string directory;  // everything before the file part, separator included
    std::string base;       // the file part up to its first '.'
    std::string extension;  // from the first '.' of the file part to the end, or empty
};

// The file part starts after the last '/'; when there is none, after the last
// '\'. The extension starts at the FIRST dot of the file part, so
// "my.song.mid" has the base "my" and the extension ".song.mid".
PathParts splitPath(std::string_view path);

// A directory prefix: the text with '/' appended unless it already ends in
// '/' or '\'. An empty text stands for the current directory, "./".
std::string dupDirectory(std::string_view directory);

// The output file name of input `input` at position `index` of the input list,
// and the module name derived from it: when moduleName is still empty it gets
// the input's base name (at most 20 characters, zero padded, no terminator
// when the base name has 20 or more).
std::string makeOutputName(const ConversionSettings& settings, const std::string& input,
                           std::size_t index, std::array<char, 20>& moduleName);

// Copies text into a 20-character name field, zero padded.
void setNameField(std::array<char, 20>& field, std::string_view text);

}  // namespace korvalin
