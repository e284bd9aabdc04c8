// A whole patch set from a SoundFont bank: one patch per General MIDI
// program and per percussion key of the default map.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "DefaultMap.h"
#include "SoundFontKit.h"

namespace korvalin::patchkit {

namespace {

bool readBank(const fs::path& bank, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::ifstream in(bank, std::ios::binary);
    std::error_code ec;
    if (!in || fs::is_directory(bank, ec)) {
        error = bank.string() + ": " + (in ? "is a folder" : std::strerror(errno));
        return false;
    }
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::streamoff>(in.tellg());
    in.seekg(0);
    if (size < 0) {
        error = bank.string() + ": cannot tell its size";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    if (in.gcount() != size) {
        error = bank.string() + ": read error";
        return false;
    }
    return true;
}

// The drum kit: bank 128 preset 0, else the lowest preset of bank 128.
int drumKit(const SoundFont& font) {
    int kit = findPreset(font, 128, 0);
    for (std::size_t i = 0; kit < 0 && i + 1 < font.presets.size(); ++i)
        if (font.presets[i].bank == 128) kit = static_cast<int>(i);
    return kit;
}

std::string presetLabel(const SoundFont& font, int index) {
    const auto& p = font.presets[static_cast<std::size_t>(index)];
    return "preset " + std::to_string(p.bank) + ":" + std::to_string(p.preset) + " '" + p.name +
           "'";
}

}  // namespace

bool writeSoundFontPatches(const fs::path& bank, const fs::path& folder, TimidityConfig& set,
                           SoundFontSummary& summary, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!readBank(bank, bytes, error)) return false;
    SoundFont font;
    if (!parseSoundFont(bytes.data(), bytes.size(), font, error)) {
        error = bank.string() + ": " + error;
        return false;
    }
    summary.bank = bank.string();
    summary.name = font.name;
    summary.major = font.major, summary.minor = font.minor;
    summary.presets = font.presets.size() - 1;
    summary.samples = font.samples.size() - 1;
    summary.has24Bit = font.has24Bit;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        error = folder.string() + ": cannot create folder" + (ec ? ": " + ec.message() : "");
        return false;
    }
    const int kit = drumKit(font);
    if (kit >= 0) summary.drumKit = presetLabel(font, kit);
    std::vector<std::uint8_t> patch;
    for (const auto& entry : defaultMap()) {
        const bool drum = entry.index >= kPercussionBase;
        const int key = entry.index - kPercussionBase;
        const int preset = drum ? kit : findPreset(font, 0, entry.index);
        if (preset < 0) continue;
        std::string why;
        if (!buildPresetPatch(font, preset, drum ? key : 0, drum ? key : 127, patch,
                              summary.dropped, why)) {
            // The kit's keys often share one damaged zone: report it once.
            const std::string label = presetLabel(font, preset) + ": " + why;
            if (!drum || std::find(summary.skipped.begin(), summary.skipped.end(), label) ==
                             summary.skipped.end())
                summary.skipped.push_back(label);
            continue;
        }
        if (patch.empty()) continue;
        const fs::path file = fs::absolute(folder / entry.name).lexically_normal();
        const std::string_view bytes(reinterpret_cast<const char*>(patch.data()), patch.size());
        if (!writeTextFile(file, bytes, true, error)) return false;
        const PatchSource source{file, presetLabel(font, preset)};
        (drum ? set.drums[key] : set.programs[entry.index]) = source;
        ++(drum ? summary.keys : summary.programs);
    }
    return true;
}

void printSoundFontSummary(const SoundFontSummary& s, std::FILE* out) {
    std::fprintf(out, "SoundFont %s: '%s', version %u.%02u, %zu presets, %zu samples\n",
                 s.bank.c_str(), s.name.c_str(), s.major, s.minor, s.presets, s.samples);
    std::fprintf(out, "patches written: %d programs of bank 0, %d percussion keys from %s\n",
                 s.programs, s.keys, s.drumKit.empty() ? "no drum kit" : s.drumKit.c_str());
    for (const auto& why : s.skipped) std::fprintf(out, "skipped (damaged): %s\n", why.c_str());
    if (s.has24Bit) std::fprintf(out, "dropped: the low 8 bits of the 24-bit samples\n");
    for (const auto& [what, count] : s.dropped)
        if (count > 0) std::fprintf(out, "dropped: %ld %s\n", count, what.c_str());
}

}  // namespace korvalin::patchkit
