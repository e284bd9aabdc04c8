#include "driver/Paths.h"

#include <algorithm>

namespace korvalin {

PathParts splitPath(std::string_view path) {
    std::size_t fileStart = 0;
    if (const auto slash = path.rfind('/'); slash != std::string_view::npos) {
        fileStart = slash + 1;
    } else if (const auto backslash = path.rfind('\\'); backslash != std::string_view::npos) {
        fileStart = backslash + 1;
    }
    const std::string_view file = path.substr(fileStart);
    const std::size_t dot = file.find('.');
    PathParts parts;
    parts.directory = std::string(path.substr(0, fileStart));
    parts.base = std::string(file.substr(0, dot));
    if (dot != std::string_view::npos) parts.extension = std::string(file.substr(dot));
    return parts;
}

std::string dupDirectory(std::string_view directory) {
    if (directory.empty()) return "./";
    std::string result(directory);
    if (result.back() != '/' && result.back() != '\\') result += '/';
    return result;
}

void setNameField(std::array<char, 20>& field, std::string_view text) {
    field.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

std::string makeOutputName(const ConversionSettings& settings, const std::string& input,
                           std::size_t index, std::array<char, 20>& moduleName) {
    const PathParts inputParts = splitPath(input);
    std::string name;
    if (index == 0 && settings.hasOutputName) {
        // -o: a name with an extension of its own is used as given.
        name = settings.outputName;
        if (splitPath(settings.outputName).extension.empty()) name += ".xm";
    } else {
        name = settings.outputDir + inputParts.base + ".xm";
    }
    // A bare file name (from -o, or an empty output folder) goes into the output folder.
    if (splitPath(name).directory.empty()) name = settings.outputDir + name;

    if (moduleName[0] == '\0') setNameField(moduleName, inputParts.base);
    return name;
}

}  // namespace korvalin
