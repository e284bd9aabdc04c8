// korvalin-patchkit: makes a TiMidity patch set (such as freepats) or a
// SoundFont 2 bank usable by the converter, either as a sample folder under
// the default map's names or as a patch.cfg that names the patch files.
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "DefaultMap.h"
#include "PatchKit.h"
#include "SoundFontKit.h"

namespace pk = korvalin::patchkit;

namespace {

const char kUsage[] =
    "Usage: korvalin-patchkit [--config FILE | --soundfont FILE] [--samples DIR [--copy]]\n"
    "                         [--map FILE [--base DIR]] [--default-map FILE] [--force]\n"
    "\n"
    "Reads a TiMidity configuration (dir, source, bank/drumset and 'N file.pat' lines;\n"
    "only bank 0 and drumset 0 are used; options such as amp= are ignored; relative\n"
    "dir and source names are taken from the folder of the file that names them) and\n"
    "writes one or more of:\n"
    "\n"
    "  --samples DIR      DIR gets one symbolic link per file name of the default patch\n"
    "                     map (acpiano.pat, kick1.pat, ...) pointing at the set's patch.\n"
    "                     The default patch.cfg then works unchanged with -sampd DIR\n"
    "                     (or without -sampd when DIR is ./samples).\n"
    "  --copy             with --samples: copy the patches instead of linking them.\n"
    "  --map FILE         write a patch map naming the set's own patch files. The\n"
    "                     converter opens sample folder + name, so the names are written\n"
    "                     relative to --base DIR, and the map is used with -sampd DIR.\n"
    "  --base DIR         folder the --map names are relative to (default /: the names\n"
    "                     are absolute paths without their leading slash; use -sampd /).\n"
    "  --default-map FILE write the default patch map (189 lines, CR LF line ends).\n"
    "  --config FILE      TiMidity configuration (default /etc/timidity/freepats.cfg).\n"
    "  --soundfont FILE   read a SoundFont 2 bank instead of a TiMidity set (needs\n"
    "                     --samples): DIR gets one GF1 patch per General MIDI program\n"
    "                     (bank 0, presets 0-127) and per percussion key of the drum kit\n"
    "                     (bank 128, preset 0), under the default map's names.\n"
    "  --force            replace existing map files.\n"
    "\n"
    "Programs and percussion keys the set lacks are filled from the nearest present\n"
    "program of the same General MIDI family (eight programs), or the nearest key of the\n"
    "same kind (kicks, snares, toms, hi-hats, cymbals, hand drums, shakers, bells, woods,\n"
    "effects), else the nearest one present; the filled entries are listed.\n"
    "\n"
    "From a SoundFont, each key plays the zone that sounds at velocity 100 (other\n"
    "velocity layers are dropped; of zones layered on one key the first in the bank\n"
    "plays); a stereo pair plays its left sample alone, centred;\n"
    "24-bit samples keep their top 16 bits. Filters, modulators, the modulation\n"
    "envelope, LFOs to volume or filter, chorus and reverb sends and envelope delays\n"
    "cannot be expressed in a patch: they are dropped and counted in the summary.\n"
    "SF3 banks (compressed samples) are refused.\n"
    "\n"
    "Example: korvalin-patchkit --samples samples --default-map patch.cfg\n"
    "         korvalin-patchkit --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 \\\n"
    "                           --samples samples --default-map patch.cfg --force\n"
    "         korvalin song.mid\n";

std::string describe(int index) {
    char text[32];
    if (index >= pk::kPercussionBase)
        std::snprintf(text, sizeof text, "key %d", index - pk::kPercussionBase);
    else
        std::snprintf(text, sizeof text, "program %d", index);
    return text;
}

std::string reasonText(const pk::KitEntry& entry) {
    switch (entry.reason) {
        case pk::FillReason::SameFamily:
            return "same family";
        case pk::FillReason::SameKind:
            return std::string("same kind: ") +
                   pk::drumKindName(pk::drumKind(entry.index - pk::kPercussionBase));
        case pk::FillReason::Nearest:
            return entry.index >= pk::kPercussionBase ? "nearest key" : "nearest program";
        default:
            return "";
    }
}

int fail(const std::string& message) {
    std::fprintf(stderr, "korvalin-patchkit: %s\n", message.c_str());
    return 1;
}

struct Options {
    std::string configFile = "/etc/timidity/freepats.cfg";
    std::string soundFont, samplesDir, mapFile, baseDir = "/", defaultMapFile;
    bool copy = false, force = false;
};

// Fills `o` from the command line; returns -1 to go on, else the exit status.
int parseArgs(int argc, char** argv, Options& o) {
    const std::map<std::string, std::string*> values = {
        {"--config", &o.configFile},  {"--soundfont", &o.soundFont},
        {"--samples", &o.samplesDir}, {"--map", &o.mapFile},
        {"--base", &o.baseDir},       {"--default-map", &o.defaultMapFile}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--copy" || arg == "--force") {
            (arg == "--copy" ? o.copy : o.force) = true;
        } else if (const auto found = values.find(arg); found != values.end()) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "korvalin-patchkit: %s needs a value\n", arg.c_str());
                return 2;
            }
            *found->second = argv[++i];
        } else {
            std::fprintf(stderr, "korvalin-patchkit: unknown argument '%s'\n\n%s", arg.c_str(),
                         kUsage);
            return 2;
        }
    }
    if (o.samplesDir.empty() && o.mapFile.empty() && o.defaultMapFile.empty()) {
        std::fprintf(stderr, "korvalin-patchkit: nothing to write\n\n%s", kUsage);
        return 2;
    }
    if (!o.soundFont.empty() && o.samplesDir.empty() && !o.mapFile.empty()) {
        std::fprintf(stderr,
                     "korvalin-patchkit: --soundfont needs --samples DIR for the patches\n");
        return 2;
    }
    return -1;
}

// Every patch the kit uses must be a GF1 patch; reports all bad ones at once.
bool checkPatches(const std::vector<pk::KitEntry>& kit,
                  std::map<pk::fs::path, std::uint16_t>& instruments) {
    bool bad = false;
    std::string error;
    for (const auto& entry : kit) {
        if (!entry.source || instruments.count(entry.source->file)) continue;
        std::uint16_t first = 0;
        if (!pk::checkGf1Patch(entry.source->file, first, error)) {
            std::fprintf(stderr, "korvalin-patchkit: %s (%s): %s\n", entry.source->file.c_str(),
                         entry.source->origin.c_str(), error.c_str());
            bad = true;
            continue;
        }
        instruments[entry.source->file] = first;
    }
    return !bad;
}

// Lists the filled entries; returns the number without any sound.
int reportFills(const std::vector<pk::KitEntry>& kit) {
    int filled = 0, missing = 0;
    for (const auto& entry : kit) {
        if (entry.reason == pk::FillReason::Present) continue;
        if (entry.reason == pk::FillReason::Missing) {
            ++missing;
            continue;
        }
        if (filled++ == 0) std::printf("Filled from the nearest present sound:\n");
        std::printf("  %-12s %-13s <- %-12s %-33s %s\n", describe(entry.index).c_str(),
                    entry.defaultName.c_str(), describe(entry.fromIndex).c_str(),
                    reasonText(entry).c_str(), entry.source->file.c_str());
    }
    std::printf("%zu entries, %d filled, %d without any sound\n", kit.size(), filled, missing);
    for (const auto& entry : kit)
        if (entry.reason == pk::FillReason::Missing)
            std::fprintf(stderr, "korvalin-patchkit: no sound for %s (%s): the set has no %s\n",
                         describe(entry.index).c_str(), entry.defaultName.c_str(),
                         entry.index >= pk::kPercussionBase ? "percussion" : "programs");
    return missing;
}

int writeOutputs(const Options& o, const std::vector<pk::KitEntry>& kit,
                 const std::map<pk::fs::path, std::uint16_t>& instruments) {
    std::string error;
    if (!o.samplesDir.empty()) {
        for (const auto& entry : kit) {
            if (!entry.source || entry.defaultName.empty()) continue;
            const unsigned first = instruments.at(entry.source->file);
            if (first != 0)
                std::printf("note: %s holds instrument %u first; the default map asks for 0\n",
                            entry.source->file.c_str(), first);
        }
        if (!pk::writeSampleFolder(kit, o.samplesDir, o.copy, error)) return fail(error);
        std::printf("%s %s: %zu patch names\n", o.copy ? "copied into" : "linked in",
                    o.samplesDir.c_str(), pk::defaultMap().size());
    }
    if (!o.mapFile.empty()) {
        std::string text;
        if (!pk::buildPathMap(kit, o.baseDir, instruments, text, error)) return fail(error);
        if (!pk::writeTextFile(o.mapFile, text, o.force, error)) return fail(error);
        std::printf("wrote %s (use it with -sampd %s)\n", o.mapFile.c_str(), o.baseDir.c_str());
    }
    return 0;
}

// Reads the set (a TiMidity configuration, or a SoundFont whose patches are
// written first), fills the gaps and writes what was asked for.
int makeKit(const Options& o) {
    pk::TimidityConfig config;
    if (o.soundFont.empty()) {
        const bool read = pk::readTimidityConfig(o.configFile, config);
        for (const auto& e : config.errors) fail(e);
        if (!read || !config.errors.empty()) return 1;
        for (const auto& n : config.notes) std::printf("note: %s\n", n.c_str());
        if (config.programs.empty() && config.drums.empty())
            return fail(o.configFile + ": names no patch of bank 0 or drumset 0");
    } else {
        pk::SoundFontSummary summary;
        std::string error;
        const bool made =
            pk::writeSoundFontPatches(o.soundFont, o.samplesDir, config, summary, error);
        if (!made) return fail(error);
        pk::printSoundFontSummary(summary, stdout);
        if (config.programs.empty() && config.drums.empty())
            return fail(o.soundFont + ": no preset of bank 0 or 128 could be made into a patch");
    }
    const auto kit = pk::planKit(config);
    std::map<pk::fs::path, std::uint16_t> instruments;
    if (!checkPatches(kit, instruments)) return 1;
    // The default map names every file of the folder, so a gap there would
    // stop the converter at the first song that uses it.
    if (reportFills(kit) > 0 && !o.samplesDir.empty()) return 1;
    return writeOutputs(o, kit, instruments);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int status = parseArgs(argc, argv, o); status >= 0) return status;
    if (!o.defaultMapFile.empty()) {
        std::string error;
        if (!pk::writeTextFile(o.defaultMapFile, pk::defaultMapText(), o.force, error))
            return fail(error);
        std::printf("wrote the default patch map to %s\n", o.defaultMapFile.c_str());
    }
    if (o.samplesDir.empty() && o.mapFile.empty()) return 0;
    return makeKit(o);
}
