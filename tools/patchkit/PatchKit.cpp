#include "PatchKit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <set>
#include <sstream>

#include "DefaultMap.h"
#include "DefaultMapBytes.h"

namespace korvalin::patchkit {

namespace {

// Sourced files may source others; a deeper chain is taken for a loop.
constexpr int kMaxSourceDepth = 16;

// The converter reads a map line's file name as one word of at most 255 characters.
constexpr std::size_t kMaxMapName = 255;

struct ParseState {
    TimidityConfig& config;
    std::vector<fs::path> dirs;  // searched first to last; `dir` puts its folder first
    bool drumSection = false;    // lines before any bank/drumset line belong to bank 0
    int sectionNumber = 0;
    std::map<std::string, int> ignoredOptions;
    std::map<std::string, int> ignoredDirectives;
    std::map<std::string, int> otherBankLines;
    int fontLines = 0;
};

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        if (word[0] == '#') break;  // a comment runs to the end of the line
        words.push_back(word);
    }
    return words;
}

bool parseNumber(const std::string& word, int& value) {
    if (word.empty() || word.size() > 6) return false;
    for (char c : word)
        if (c < '0' || c > '9') return false;
    value = std::atoi(word.c_str());
    return true;
}

bool isRegularFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

// A name of the config as TiMidity looks it up: as given, then with ".pat",
// in each search folder and finally beside the config file itself.
std::optional<fs::path> findPatch(const std::string& name, const ParseState& state,
                                  const fs::path& configDir) {
    const fs::path given(name);
    std::vector<fs::path> candidates;
    if (given.is_absolute()) {
        candidates = {given, fs::path(name + ".pat")};
    } else {
        for (const auto& dir : state.dirs) {
            candidates.push_back(dir / given);
            candidates.push_back(dir / (name + ".pat"));
        }
        candidates.push_back(configDir / given);
        candidates.push_back(configDir / (name + ".pat"));
    }
    for (const auto& c : candidates)
        if (isRegularFile(c)) return fs::absolute(c).lexically_normal();
    return std::nullopt;
}

std::optional<fs::path> findConfig(const std::string& name, const ParseState& state,
                                   const fs::path& configDir) {
    const fs::path given(name);
    if (given.is_absolute()) return isRegularFile(given) ? std::optional(given) : std::nullopt;
    if (isRegularFile(configDir / given)) return configDir / given;
    for (const auto& dir : state.dirs)
        if (isRegularFile(dir / given)) return dir / given;
    return std::nullopt;
}

bool parseFile(const fs::path& file, ParseState& state, int depth, std::string* openError);

// One line's place for messages, and what it needs to resolve names.
struct Line {
    const std::vector<std::string>& words;
    const std::string& origin;
    const fs::path& configDir;
};

void readDirLine(const Line& l, ParseState& state) {
    if (l.words.size() < 2) {
        state.config.errors.push_back(l.origin + ": 'dir' needs a folder");
        return;
    }
    for (std::size_t i = 1; i < l.words.size(); ++i) {
        fs::path dir(l.words[i]);
        if (dir.is_relative()) dir = l.configDir / dir;
        state.dirs.insert(state.dirs.begin(), dir);
    }
}

void readSourceLine(const Line& l, ParseState& state, int depth) {
    if (l.words.size() < 2) {
        state.config.errors.push_back(l.origin + ": 'source' needs a file name");
        return;
    }
    for (std::size_t i = 1; i < l.words.size(); ++i) {
        const auto sourced = findConfig(l.words[i], state, l.configDir);
        if (!sourced) {
            state.config.errors.push_back(l.origin + ": sourced file " + l.words[i] + " not found");
        } else if (depth + 1 > kMaxSourceDepth) {
            state.config.errors.push_back(l.origin +
                                          ": sourced files nested too deeply "
                                          "(a file sources itself?)");
        } else {
            std::string reason;
            if (!parseFile(*sourced, state, depth + 1, &reason))
                state.config.errors.push_back(l.origin + ": " + sourced->string() + ": " + reason);
        }
    }
}

// "N file [options]": a patch of the current bank or drumset.
void readPatchLine(const Line& l, ParseState& state, int number) {
    const auto& words = l.words;
    if (words.size() < 2) {
        state.config.errors.push_back(l.origin + ": no patch file after " + words[0]);
        return;
    }
    if (words[1][0] == '%') {  // %font / %sample entries are not GF1 patches
        ++state.fontLines;
        return;
    }
    for (std::size_t i = 2; i < words.size(); ++i) {
        const auto eq = words[i].find('=');
        ++state.ignoredOptions[eq == std::string::npos ? words[i] : words[i].substr(0, eq + 1)];
    }
    if (state.sectionNumber != 0 || number > 127) {
        ++state.otherBankLines[std::string(state.drumSection ? "drumset " : "bank ") +
                               std::to_string(state.sectionNumber)];
        return;
    }
    const auto found = findPatch(words[1], state, l.configDir);
    if (!found) {
        std::string searched;
        for (const auto& dir : state.dirs) searched += " " + dir.string();
        searched += " " + l.configDir.string();
        state.config.errors.push_back(l.origin + ": patch " + words[1] +
                                      " not found (searched:" + searched + ")");
        return;
    }
    auto& table = state.drumSection ? state.config.drums : state.config.programs;
    table[number] = PatchSource{*found, l.origin};
}

bool parseFile(const fs::path& file, ParseState& state, int depth, std::string* openError) {
    std::ifstream in(file);
    if (!in) {
        const std::string reason = std::strerror(errno);
        if (openError) *openError = reason;
        return false;
    }
    const fs::path configDir = fs::absolute(file).parent_path();
    std::string text;
    int lineNumber = 0;
    while (std::getline(in, text)) {
        ++lineNumber;
        const std::string origin = file.string() + ":" + std::to_string(lineNumber);
        const auto words = splitWords(text);
        if (words.empty()) continue;
        const Line line{words, origin, configDir};
        const std::string& head = words[0];
        int number = 0;
        if (head == "dir") {
            readDirLine(line, state);
        } else if (head == "source") {
            readSourceLine(line, state, depth);
        } else if (head == "bank" || head == "drumset") {
            if (words.size() < 2 || !parseNumber(words[1], number)) {
                state.config.errors.push_back(origin + ": '" + head + "' needs a number");
                continue;
            }
            state.drumSection = head == "drumset";
            state.sectionNumber = number;
        } else if (parseNumber(head, number)) {
            readPatchLine(line, state, number);
        } else {
            ++state.ignoredDirectives[head];
        }
    }
    return true;
}

}  // namespace

bool readTimidityConfig(const fs::path& file, TimidityConfig& config) {
    ParseState state{config, {}, false, 0, {}, {}, {}, 0};
    std::string reason;
    if (!parseFile(file, state, 0, &reason)) {
        config.errors.push_back(file.string() + ": " + reason);
        return false;
    }
    for (const auto& [name, count] : state.ignoredOptions)
        config.notes.push_back("option " + name + " ignored on " + std::to_string(count) +
                               " line(s)");
    for (const auto& [name, count] : state.ignoredDirectives)
        config.notes.push_back("directive '" + name + "' ignored on " + std::to_string(count) +
                               " line(s)");
    for (const auto& [name, count] : state.otherBankLines)
        config.notes.push_back(name + " not used (" + std::to_string(count) + " line(s))");
    if (state.fontLines > 0)
        config.notes.push_back(std::to_string(state.fontLines) +
                               " %font/%sample line(s) ignored (not GF1 patches)");
    return true;
}

bool checkGf1Patch(const fs::path& file, std::uint16_t& firstInstrument, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    // Patch header (129 bytes) and the instrument number that follows it.
    char head[131] = {};
    in.read(head, sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) {
        error = "read error";
        return false;
    }
    static const char kHeader110[] = "GF1PATCH110\0ID#000002";  // 22 bytes with the final zero
    static const char kHeader100[] = "GF1PATCH100\0ID#000002";
    if (got < 22 ||
        (std::memcmp(head, kHeader110, 22) != 0 && std::memcmp(head, kHeader100, 22) != 0)) {
        error = "not a GF1 patch (no \"GF1PATCH110\"/\"GF1PATCH100\" header with id ID#000002)";
        return false;
    }
    if (got < sizeof head) {
        error = "GF1 patch cut short before its first instrument";
        return false;
    }
    firstInstrument = static_cast<std::uint16_t>(static_cast<unsigned char>(head[129]) |
                                                 static_cast<unsigned char>(head[130]) << 8);
    return true;
}

int programFamily(int program) {
    return program / 8;
}

DrumKind drumKind(int key) {
    switch (key) {
        case 35:
        case 36:
            return DrumKind::Kick;
        case 25:
        case 37:
        case 38:
        case 39:
        case 40:
            return DrumKind::Snare;
        case 41:
        case 43:
        case 45:
        case 47:
        case 48:
        case 50:
            return DrumKind::Tom;
        case 42:
        case 44:
        case 46:
            return DrumKind::HiHat;
        case 49:
        case 51:
        case 52:
        case 53:
        case 55:
        case 57:
        case 59:
            return DrumKind::Cymbal;
        case 60:
        case 61:
        case 62:
        case 63:
        case 64:
        case 65:
        case 66:
        case 86:
        case 87:
            return DrumKind::HandDrum;
        case 54:
        case 69:
        case 70:
        case 73:
        case 74:
        case 82:
        case 83:
            return DrumKind::Shaker;
        case 34:
        case 56:
        case 67:
        case 68:
        case 80:
        case 81:
        case 84:
            return DrumKind::Bell;
        case 31:
        case 32:
        case 33:
        case 75:
        case 76:
        case 77:
        case 85:
            return DrumKind::Wood;
        case 26:
        case 27:
        case 28:
        case 29:
        case 30:
        case 58:
        case 71:
        case 72:
        case 78:
        case 79:
            return DrumKind::Effect;
        default:
            return DrumKind::Other;
    }
}

const char* drumKindName(DrumKind kind) {
    switch (kind) {
        case DrumKind::Kick:
            return "kicks";
        case DrumKind::Snare:
            return "snares and claps";
        case DrumKind::Tom:
            return "toms";
        case DrumKind::HiHat:
            return "hi-hats";
        case DrumKind::Cymbal:
            return "cymbals";
        case DrumKind::HandDrum:
            return "hand drums";
        case DrumKind::Shaker:
            return "shakers and scrapers";
        case DrumKind::Bell:
            return "bells";
        case DrumKind::Wood:
            return "woods and clicks";
        case DrumKind::Effect:
            return "effects";
        case DrumKind::Other:
            return "other";
    }
    return "other";
}

namespace {

// The present number closest to `wanted` among those `accept` allows; on a
// tie the lower one, so the result does not depend on map order.
template <class Accept>
int closest(int wanted, const std::map<int, PatchSource>& present, Accept accept) {
    int best = -1;
    for (const auto& [n, source] : present) {
        if (!accept(n)) continue;
        if (best < 0 || std::abs(n - wanted) < std::abs(best - wanted)) best = n;
    }
    return best;
}

}  // namespace

Fill nearestProgram(int program, const std::map<int, PatchSource>& present) {
    if (present.count(program)) return {program, FillReason::Present};
    const int family = programFamily(program);
    int from = closest(program, present, [&](int p) { return programFamily(p) == family; });
    if (from >= 0) return {from, FillReason::SameFamily};
    from = closest(program, present, [](int) { return true; });
    return from >= 0 ? Fill{from, FillReason::Nearest} : Fill{};
}

Fill nearestDrum(int key, const std::map<int, PatchSource>& present) {
    if (present.count(key)) return {key, FillReason::Present};
    const DrumKind kind = drumKind(key);
    if (kind != DrumKind::Other) {
        const int from = closest(key, present, [&](int k) { return drumKind(k) == kind; });
        if (from >= 0) return {from, FillReason::SameKind};
    }
    const int from = closest(key, present, [](int) { return true; });
    return from >= 0 ? Fill{from, FillReason::Nearest} : Fill{};
}

std::vector<KitEntry> planKit(const TimidityConfig& config) {
    std::vector<KitEntry> kit;
    std::set<int> covered;
    for (const auto& entry : defaultMap()) {
        KitEntry k;
        k.index = entry.index;
        k.defaultName = entry.name;
        const bool drum = entry.index >= kPercussionBase;
        const Fill fill = drum ? nearestDrum(entry.index - kPercussionBase, config.drums)
                               : nearestProgram(entry.index, config.programs);
        k.reason = fill.reason;
        if (fill.from >= 0) {
            k.fromIndex = drum ? fill.from + kPercussionBase : fill.from;
            k.source = drum ? &config.drums.at(fill.from) : &config.programs.at(fill.from);
        }
        kit.push_back(k);
        covered.insert(entry.index);
    }
    // Keys the set has beyond the default map still belong in a path map.
    for (const auto& [key, source] : config.drums) {
        const int index = key + kPercussionBase;
        if (covered.count(index)) continue;
        KitEntry k;
        k.index = index;
        k.fromIndex = index;
        k.reason = FillReason::Present;
        k.source = &source;
        kit.push_back(k);
    }
    return kit;
}

std::string defaultMapText() {
    return std::string(defaultMapBytes());
}

std::string_view defaultMapBytes() {
    return {reinterpret_cast<const char*>(kDefaultMapBytes), sizeof kDefaultMapBytes};
}

const std::vector<DefaultMapEntry>& defaultMap() {
    static const std::vector<DefaultMapEntry> entries = [] {
        std::vector<DefaultMapEntry> parsed;
        std::istringstream lines{std::string(defaultMapBytes())};
        unsigned index = 0;
        std::string name;
        while (lines >> index >> name) {
            parsed.push_back({static_cast<std::uint16_t>(index), name});
            lines.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        }
        return parsed;
    }();
    return entries;
}

bool buildPathMap(const std::vector<KitEntry>& kit, const fs::path& base,
                  const std::map<fs::path, std::uint16_t>& instruments, std::string& text,
                  std::string& error) {
    const fs::path baseDir = fs::absolute(base).lexically_normal();
    text.clear();
    for (const auto& entry : kit) {
        if (!entry.source) continue;
        const fs::path name = entry.source->file.lexically_relative(baseDir);
        const std::string word = name.generic_string();
        if (word.empty() || word == ".") {
            error =
                "cannot name " + entry.source->file.string() + " relative to " + baseDir.string();
            return false;
        }
        if (std::any_of(word.begin(), word.end(),
                        [](unsigned char c) { return c <= ' ' || c == 0x7F; })) {
            error = "patch path \"" + word +
                    "\" holds blanks or control characters, which a map line cannot carry; "
                    "use --samples instead";
            return false;
        }
        if (word.size() > kMaxMapName) {
            error = "patch path " + word +
                    " is longer than 255 characters; use --samples or "
                    "a --base closer to the patches";
            return false;
        }
        const auto found = instruments.find(entry.source->file);
        const unsigned instrument = found == instruments.end() ? 0u : found->second;
        char head[16];
        std::snprintf(head, sizeof head, "%-4d", entry.index);
        text += head;
        text += word;
        // Appended piece by piece: GCC 12 misreads `" " + std::string` as an
        // overlapping copy (-Wrestrict) in Release builds.
        text += ' ';
        text += std::to_string(instrument);
        text += "  1000\n";
    }
    return true;
}

bool writeTextFile(const fs::path& file, std::string_view text, bool replace, std::string& error) {
    std::error_code ec;
    if (!replace && fs::exists(fs::symlink_status(file, ec))) {
        error = file.string() + " already exists (use --force to replace it)";
        return false;
    }
    std::random_device rd;
    const fs::path temp = file.string() + ".tmp" + std::to_string(rd() % 1000000);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = temp.string() + ": " + std::strerror(errno);
            return false;
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            error = temp.string() + ": write failed";
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, file, ec);
    if (ec) {
        error = file.string() + ": " + ec.message();
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

bool writeSampleFolder(const std::vector<KitEntry>& kit, const fs::path& folder, bool copy,
                       std::string& error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        error = folder.string() + ": cannot create folder" + (ec ? ": " + ec.message() : "");
        return false;
    }
    for (const auto& entry : kit) {
        if (entry.defaultName.empty() || !entry.source) continue;
        const fs::path target = folder / entry.defaultName;
        // A patch already written under its own name (from a SoundFont) stays.
        if (fs::absolute(target).lexically_normal() == entry.source->file) continue;
        // A rerun replaces the links and copies of an earlier one; anything
        // else under one of our names (a folder) is left alone and reported.
        const auto status = fs::symlink_status(target, ec);
        if (fs::exists(status)) {
            if (fs::is_directory(status)) {
                error = target.string() + " is a folder; not replacing it";
                return false;
            }
            fs::remove(target, ec);
            if (ec) {
                error = target.string() + ": " + ec.message();
                return false;
            }
        }
        if (copy)
            fs::copy_file(entry.source->file, target, ec);
        else
            fs::create_symlink(entry.source->file, target, ec);
        if (ec) {
            error = target.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

}  // namespace korvalin::patchkit
