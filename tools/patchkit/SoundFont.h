// Reading a SoundFont 2 bank from memory: the RIFF structure, the preset,
// instrument and sample tables, and the 16-bit sample data. Only the layout is
// checked here; the cross references between tables are checked where they
// are followed, so one damaged preset does not spoil the bank.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvalin::patchkit {

// Generator operators used by the translation.
enum SfGen : std::uint16_t {
    kStartOffset = 0,
    kEndOffset = 1,
    kLoopStartOffset = 2,
    kLoopEndOffset = 3,
    kStartCoarse = 4,
    kModLfoToPitch = 5,
    kVibLfoToPitch = 6,
    kModEnvToPitch = 7,
    kFilterFc = 8,
    kFilterQ = 9,
    kModLfoToFilter = 10,
    kModEnvToFilter = 11,
    kEndCoarse = 12,
    kModLfoToVolume = 13,
    kChorusSend = 15,
    kReverbSend = 16,
    kPan = 17,
    kModLfoDelay = 21,
    kModLfoFreq = 22,
    kVibLfoDelay = 23,
    kVibLfoFreq = 24,
    kVolDelay = 33,
    kVolAttack = 34,
    kVolHold = 35,
    kVolDecay = 36,
    kVolSustain = 37,
    kVolRelease = 38,
    kKeyToHold = 39,
    kKeyToDecay = 40,
    kInstrument = 41,
    kKeyRange = 43,
    kVelRange = 44,
    kLoopStartCoarse = 45,
    kKeynum = 46,
    kVelocity = 47,
    kAttenuation = 48,
    kLoopEndCoarse = 50,
    kCoarseTune = 51,
    kFineTune = 52,
    kSampleId = 53,
    kSampleModes = 54,
    kScaleTuning = 56,
    kExclusiveClass = 57,
    kRootKey = 58,
    kGenCount = 61
};

struct SfGenRecord {
    std::uint16_t op;
    std::uint16_t amount;  // signed, unsigned or a lo/hi byte pair, by operator
};

// A zone's first generator and modulator in the table that follows.
struct SfBag {
    std::uint16_t gen;
    std::uint16_t mod;
};

struct SfPreset {
    std::string name;
    std::uint16_t preset;
    std::uint16_t bank;
    std::uint16_t bag;
};

struct SfInstrument {
    std::string name;
    std::uint16_t bag;
};

enum SfSampleType : std::uint16_t {
    kMono = 1,
    kRight = 2,
    kLeft = 4,
    kLinked = 8,
    kCompressed = 0x10,
    kRom = 0x8000
};

struct SfSample {
    std::string name;
    std::uint32_t start, end, loopStart, loopEnd;  // frames of the sample data
    std::uint32_t rate;
    std::uint8_t originalKey;
    std::int8_t correction;  // cents
    std::uint16_t link;
    std::uint16_t type;
};

// The tables keep their closing records (EOP, EOI, EOS), so zone i of a
// table runs from bag[i] to bag[i + 1].
struct SoundFont {
    unsigned major = 0, minor = 0;
    std::string name;
    std::vector<SfPreset> presets;
    std::vector<SfBag> presetBags;
    std::vector<SfGenRecord> presetGens;
    std::size_t presetMods = 0;
    std::vector<SfInstrument> instruments;
    std::vector<SfBag> instrumentBags;
    std::vector<SfGenRecord> instrumentGens;
    std::size_t instrumentMods = 0;
    std::vector<SfSample> samples;
    const std::uint8_t* sampleData = nullptr;  // 16-bit little-endian frames
    std::size_t sampleFrames = 0;
    bool has24Bit = false;  // an sm24 chunk: its low bytes are not used
};

// Parses `size` bytes (which must outlive `font`, since sampleData points
// into them). On failure sets `error` to what is wrong, without the file name.
bool parseSoundFont(const std::uint8_t* data, std::size_t size, SoundFont& font,
                    std::string& error);

}  // namespace korvalin::patchkit
