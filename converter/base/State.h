// The converter's records: RunState lives for the whole run (settings, patch
// map, registered-parameter state); FileState holds everything of the file
// being converted and is replaced by a fresh one after each file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Instrument.h"
#include "base/MidiFile.h"
#include "base/Module.h"
#include "base/ScoreTiming.h"

namespace korvalin {

// Result of a stage: Failed ends the run after closing the files; Abort ends
// the process with "Abnormal program termination" and exit status 3.
enum class Status { Ok, Failed, Abort };

enum OptionFlag : std::uint8_t {
    kTweakVolume = 0x01,
    kDirtyEnd = 0x02,
    kNoPan = 0x04,
    kSmall = 0x08,
    kKeep16Bit = 0x10,
};

struct ConversionSettings {
    std::vector<std::string> inputFiles;
    bool hasOutputName = false;
    std::string outputName;  // used for the first input file only
    std::string sampleDir = "samples/";
    std::string outputDir = "./";
    std::uint32_t percussionChannel = 9;
    std::uint32_t maxChannels = 32;
    std::uint32_t quantize = 16;
    std::uint32_t maxSampleRate = 48000;
    std::uint8_t optionFlags = kKeep16Bit;
    // The -name text; copied into the first converted module's header.
    bool hasModuleName = false;
    std::array<char, 20> moduleName{};

    bool has(OptionFlag flag) const { return (optionFlags & flag) != 0; }
};

struct PatchMapEntry {
    std::uint8_t instrument = 0;  // per file: module instrument number, 0 = unused
    bool hasPath = false;
    std::string patchPath;
    std::uint32_t releaseFactor = 0;
    std::uint32_t patchInstrument = 0;
    std::int16_t highestNote = 0;  // per file
};

inline constexpr std::size_t kPatchMapSize = 256;
inline constexpr std::size_t kPercussionBase = 128;  // map index of percussion key 0
inline constexpr std::uint32_t kMaxInstruments = 128;

struct RunState {
    ConversionSettings settings;
    std::array<PatchMapEntry, kPatchMapSize> patchMap{};
    // Registered parameter selected by controllers 101/100; kept across files.
    std::uint16_t rpnNumber = 0;
    std::uint16_t rpnFlags = 0;
};

struct FileState {
    MidiFileHeader midi;
    // Track scan results.
    std::uint32_t shortestNote = kNone32;
    std::uint32_t nextInstrument = 1;  // never above kMaxInstruments + 1
    ScoreTiming timing;
    std::uint32_t releaseScale = 1000;
    // Module being built.
    ModuleHeader header;
    std::vector<PatternRecord> patterns;
    std::vector<InstrumentRecord> instruments;
};

// Clears the per-file fields of the patch map; the file state itself is reset
// by assigning a fresh FileState.
inline void resetFileState(RunState& run, FileState& file) {
    file = FileState{};
    for (auto& entry : run.patchMap) {
        entry.instrument = 0;
        entry.highestNote = 0;
    }
}

}  // namespace korvalin
