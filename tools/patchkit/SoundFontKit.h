// Translating SoundFont presets into GF1 patches: zones are resolved into
// waves (one per key range, as they sound at velocity 100), and each wave's
// tuning, loop, attenuation and volume envelope is carried into the fields a
// GF1 patch has. What a patch cannot express is counted, not written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "PatchKit.h"
#include "SoundFont.h"

namespace korvalin::patchkit {

// The velocity at which layered zones are chosen.
inline constexpr int kChosenVelocity = 100;

// Counts of what the translation dropped or changed, by description.
using DropCounts = std::map<std::string, long>;

// Index into font.presets of the preset (bank, number), or -1.
int findPreset(const SoundFont& font, int bank, int number);

// Builds the GF1 patch of preset `presetIndex` limited to keys keyLo..keyHi.
// Returns false with `error` set when the preset is damaged (bad zone or
// sample references, samples outside the data); an empty `patch` with true
// means the preset has no sound in that key range.
bool buildPresetPatch(const SoundFont& font, int presetIndex, int keyLo, int keyHi,
                      std::vector<std::uint8_t>& patch, DropCounts& dropped, std::string& error);

// What making a patch set from a bank found, wrote, skipped and dropped.
struct SoundFontSummary {
    std::string bank;  // the file
    std::string name;  // the bank's own name
    unsigned major = 0, minor = 0;
    std::size_t presets = 0, samples = 0;
    int programs = 0, keys = 0;  // patches written
    std::string drumKit;         // the preset used for percussion, if any
    bool has24Bit = false;
    std::vector<std::string> skipped;  // damaged presets, with the reason
    DropCounts dropped;
};

// Reads `bank` and writes into `folder` one patch, under its default-map
// name, for every program of bank 0 and every percussion key of the default
// map the drum kit has; `set` then lists them as a TiMidity set would, for
// the gap filling. Damaged presets are skipped and listed in the summary.
// Fails, with `error` naming the file, when the bank cannot be read at all.
bool writeSoundFontPatches(const fs::path& bank, const fs::path& folder, TimidityConfig& set,
                           SoundFontSummary& summary, std::string& error);
void printSoundFontSummary(const SoundFontSummary& summary, std::FILE* out);

// The six GF1 envelope stages (rates and offsets) for a SoundFont volume
// envelope: times in milliseconds, the sustain level in centibels below full.
struct Gf1Envelope {
    std::uint8_t rates[6];
    std::uint8_t offsets[6];
};
Gf1Envelope gf1Envelope(double attackMs, double holdMs, double decayMs, double sustainCb,
                        double releaseMs);

// The envelope offset byte whose level is closest to `gain` (0 to 1), and
// the level a converter reads back from an offset byte (0 to 1).
std::uint8_t gf1Offset(double gain);
double gf1Level(std::uint8_t offset);

// Milliseconds a GF1 stage with `rate` takes to move between two offsets.
double gf1StageMs(std::uint8_t rate, std::uint8_t from, std::uint8_t to);

}  // namespace korvalin::patchkit
