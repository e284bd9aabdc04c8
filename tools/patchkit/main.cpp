// korvalin-patchkit: makes a TiMidity patch set (such as freepats) usable by
// the converter, either as a sample folder under the default map's names or
// as a patch.cfg that names the set's own files.
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "DefaultMap.h"
#include "PatchKit.h"

namespace pk = korvalin::patchkit;

namespace {

const char kUsage[] =
    "Usage: korvalin-patchkit [--config FILE] [--samples DIR [--copy]]\n"
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
    "  --force            replace existing map files.\n"
    "\n"
    "Programs and percussion keys the set lacks are filled from the nearest present\n"
    "program of the same General MIDI family (eight programs), or the nearest key of the\n"
    "same kind (kicks, snares, toms, hi-hats, cymbals, hand drums, shakers, bells, woods,\n"
    "effects), else the nearest one present; the filled entries are listed.\n"
    "\n"
    "Example: korvalin-patchkit --samples samples --default-map patch.cfg\n"
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

}  // namespace

int main(int argc, char** argv) {
    std::string configFile = "/etc/timidity/freepats.cfg";
    std::string samplesDir, mapFile, baseDir = "/", defaultMapFile;
    bool copy = false, force = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--config") {
            ok = value(configFile);
        } else if (arg == "--samples") {
            ok = value(samplesDir);
        } else if (arg == "--map") {
            ok = value(mapFile);
        } else if (arg == "--base") {
            ok = value(baseDir);
        } else if (arg == "--default-map") {
            ok = value(defaultMapFile);
        } else if (arg == "--copy") {
            copy = true;
        } else if (arg == "--force") {
            force = true;
        } else {
            std::fprintf(stderr, "korvalin-patchkit: unknown argument '%s'\n\n%s", arg.c_str(),
                         kUsage);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "korvalin-patchkit: %s needs a value\n", arg.c_str());
            return 2;
        }
    }
    if (samplesDir.empty() && mapFile.empty() && defaultMapFile.empty()) {
        std::fprintf(stderr, "korvalin-patchkit: nothing to write\n\n%s", kUsage);
        return 2;
    }
    std::string error;
    if (!defaultMapFile.empty()) {
        if (!pk::writeTextFile(defaultMapFile, pk::defaultMapText(), force, error))
            return fail(error);
        std::printf("wrote the default patch map to %s\n", defaultMapFile.c_str());
    }
    if (samplesDir.empty() && mapFile.empty()) return 0;

    pk::TimidityConfig config;
    const bool read = pk::readTimidityConfig(configFile, config);
    for (const auto& e : config.errors) std::fprintf(stderr, "korvalin-patchkit: %s\n", e.c_str());
    if (!read || !config.errors.empty()) return 1;
    for (const auto& n : config.notes) std::printf("note: %s\n", n.c_str());
    if (config.programs.empty() && config.drums.empty())
        return fail(configFile + ": names no patch of bank 0 or drumset 0");

    // Every patch the kit uses must be a GF1 patch; report all bad ones at once.
    const auto kit = pk::planKit(config);
    std::map<pk::fs::path, std::uint16_t> instruments;
    bool bad = false;
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
    if (bad) return 1;

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
    if (missing > 0) {
        for (const auto& entry : kit)
            if (entry.reason == pk::FillReason::Missing)
                std::fprintf(stderr, "korvalin-patchkit: no sound for %s (%s): the set has no %s\n",
                             describe(entry.index).c_str(), entry.defaultName.c_str(),
                             entry.index >= pk::kPercussionBase ? "percussion" : "programs");
        // The default map names every file of the folder, so a gap there
        // would stop the converter at the first song that uses it.
        if (!samplesDir.empty()) return 1;
    }

    if (!samplesDir.empty()) {
        for (const auto& entry : kit) {
            if (!entry.source || entry.defaultName.empty()) continue;
            const unsigned first = instruments[entry.source->file];
            if (first != 0)
                std::printf("note: %s holds instrument %u first; the default map asks for 0\n",
                            entry.source->file.c_str(), first);
        }
        if (!pk::writeSampleFolder(kit, samplesDir, copy, error)) return fail(error);
        std::printf("%s %s: %zu patch names\n", copy ? "copied into" : "linked in",
                    samplesDir.c_str(), pk::defaultMap().size());
    }
    if (!mapFile.empty()) {
        std::string text;
        if (!pk::buildPathMap(kit, baseDir, instruments, text, error)) return fail(error);
        if (!pk::writeTextFile(mapFile, text, force, error)) return fail(error);
        std::printf("wrote %s (use it with -sampd %s)\n", mapFile.c_str(), baseDir.c_str());
    }
    return 0;
}
