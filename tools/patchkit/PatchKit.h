// Building a patch kit for the converter from a TiMidity patch set: reading
// the TiMidity configuration, choosing a patch for every entry of the default
// patch map (filling gaps from related sounds) and writing the results.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvalin::patchkit {

namespace fs = std::filesystem;

inline constexpr int kPercussionBase = 128;  // map index of percussion key 0

// One "N file" line of bank 0 or drumset 0, with the file found on disk.
struct PatchSource {
    fs::path file;       // resolved path of the patch
    std::string origin;  // "config:line", for messages
};

struct TimidityConfig {
    std::map<int, PatchSource> programs;  // bank 0, program 0-127
    std::map<int, PatchSource> drums;     // drumset 0, key 0-127
    std::vector<std::string> notes;       // things read but not used
    std::vector<std::string> errors;      // missing files, bad lines
};

// Reads `file` and every file it sources. Returns false when the top-level
// file cannot be read; other problems are collected in config.errors.
bool readTimidityConfig(const fs::path& file, TimidityConfig& config);

// Checks the 22-byte GF1 header. On success stores the number of the first
// instrument in the patch; otherwise sets error to a readable reason.
bool checkGf1Patch(const fs::path& file, std::uint16_t& firstInstrument, std::string& error);

// The General MIDI family (eight programs) of a program, and the kind of
// sound of a percussion key; keys of one kind stand in for each other.
int programFamily(int program);
enum class DrumKind {
    Kick,
    Snare,
    Tom,
    HiHat,
    Cymbal,
    HandDrum,
    Shaker,
    Bell,
    Wood,
    Effect,
    Other
};
DrumKind drumKind(int key);
const char* drumKindName(DrumKind kind);

enum class FillReason { Present, SameFamily, SameKind, Nearest, Missing };

// The patch chosen for one map index.
struct KitEntry {
    int index = 0;            // map index: program, or 128 + key
    std::string defaultName;  // name in the default map, empty if it has none
    int fromIndex = -1;       // map index whose patch is used, -1 if none
    FillReason reason = FillReason::Missing;
    const PatchSource* source = nullptr;
};

// A kit entry for every index of the default map, followed by the indices
// the set has beyond it (e.g. percussion keys below 27).
std::vector<KitEntry> planKit(const TimidityConfig& config);

// The substitute for a program or key the set lacks.
struct Fill {
    int from = -1;
    FillReason reason = FillReason::Missing;
};
Fill nearestProgram(int program, const std::map<int, PatchSource>& present);
Fill nearestDrum(int key, const std::map<int, PatchSource>& present);

// The default patch map, byte for byte: 189 lines with CR LF ends.
std::string defaultMapText();

// "<index> <name> <instrument> 1000" lines for a map that names the patches
// relative to `base` (the folder later given to the converter as its sample
// folder). Fails, with error set, for names the map cannot carry.
bool buildPathMap(const std::vector<KitEntry>& kit, const fs::path& base,
                  const std::map<fs::path, std::uint16_t>& instruments, std::string& text,
                  std::string& error);

// Writes `text` to `file` through a temporary file in the same folder, so a
// failed write leaves no partial file. Refuses to replace unless `replace`.
bool writeTextFile(const fs::path& file, std::string_view text, bool replace, std::string& error);

// Puts one link (or copy) per default-map name into `folder`.
bool writeSampleFolder(const std::vector<KitEntry>& kit, const fs::path& folder, bool copy,
                       std::string& error);

}  // namespace korvalin::patchkit
