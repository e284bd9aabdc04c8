#include "driver/PatchMap.h"

#include <cstdint>
#include <optional>

#include "driver/Options.h"

namespace korvalin {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The next run of non-blank characters, or empty at the end of the line.
std::string_view nextWord(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && isSpace(line[pos])) ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && !isSpace(line[pos])) ++pos;
    return line.substr(start, pos - start);
}

std::optional<std::uint32_t> nextNumber(std::string_view line, std::size_t& pos) {
    std::size_t used = 0;
    const auto value = scanUnsigned(line.substr(pos), &used);
    if (value) pos += used;
    return value;
}

void readLine(std::string_view line, unsigned long lineNumber, const std::string& sampleDir,
              std::array<PatchMapEntry, kPatchMapSize>& patchMap, Console& out) {
    std::size_t pos = 0;
    const auto index = nextNumber(line, pos);
    if (!index) return;  // blank lines and lines of text carry no entry
    if (*index >= kPatchMapSize) {
        out.print("\n    WARNING: patch.cfg line %lu: index %lu is above 255, line ignored",
                  lineNumber, static_cast<unsigned long>(*index));
        return;
    }
    const std::string_view file = nextWord(line, pos);
    const auto instrument = file.empty() ? std::nullopt : nextNumber(line, pos);
    const auto release = instrument ? nextNumber(line, pos) : std::nullopt;
    if (!release) {
        out.print("\n    WARNING: patch.cfg line %lu: fields missing, line ignored", lineNumber);
        return;
    }
    PatchMapEntry& entry = patchMap[*index];
    entry.instrument = 0;
    entry.hasPath = true;
    entry.patchPath = sampleDir + std::string(file);
    entry.patchInstrument = *instrument;
    entry.releaseFactor = *release;
}

}  // namespace

void readPatchMap(std::string_view text, const std::string& sampleDir,
                  std::array<PatchMapEntry, kPatchMapSize>& patchMap, Console& out) {
    for (PatchMapEntry& entry : patchMap) {
        entry.hasPath = false;
        entry.patchPath.clear();
    }
    unsigned long lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        readLine(text.substr(start, end - start), ++lineNumber, sampleDir, patchMap, out);
        start = end + 1;
    }
}

}  // namespace korvalin
