// Module instruments and their samples, read from GF1 patches.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace korvalin {

// Sample type bits while converting: loop type in bits 0-1.
enum SampleType : std::uint8_t {
    kLoopForward = 0x01,
    kLoopPingPong = 0x02,
    kSample16Bit = 0x10,
    kSampleUnsigned = 0x20,
};

struct EnvelopePoint {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
};

// Sizes of an instrument header and a sample header as the module holds
// them. The instrument header: its size, name, type, sample count, the sample
// header size, one keymap byte per note, volume and panning envelopes of
// twelve points, eight point counts and indices, two envelope types, four
// vibrato bytes, the fadeout and 22 reserved bytes. The sample header: length,
// loop start and length, volume, finetune, type, panning, relative note, one
// reserved byte and the name.
inline constexpr std::size_t kKeymapNotes = 96;
inline constexpr std::size_t kEnvelopePointCount = 12;
inline constexpr std::size_t kSampleNameBytes = 22;
inline constexpr std::uint32_t kInstrumentHeaderSize = 263;
inline constexpr std::uint32_t kSampleHeaderSize = 40;
static_assert(kInstrumentHeaderSize == 4 + 22 + 1 + 2 + 4 + kKeymapNotes +
                                           2 * kEnvelopePointCount * sizeof(EnvelopePoint) + 8 + 2 +
                                           4 + 2 + 22);
static_assert(kSampleHeaderSize == 3 * 4 + 6 * 1 + kSampleNameBytes);

struct SampleRecord {
    std::uint32_t byteLength = 0;
    std::uint32_t frameCount = 0;
    std::uint32_t loopStart = 0;
    std::uint32_t loopLength = 0;
    std::uint8_t volume = 0;
    std::int8_t finetune = 0;
    std::uint8_t type = 0;
    std::uint8_t panning = 0;
    std::int8_t relativeNote = 0;
    std::array<char, kSampleNameBytes> name{};
    std::vector<std::uint8_t> data;
    std::uint32_t dataOffset = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t rootFrequency = 0;
    std::uint32_t maxRate = 0;
    std::int32_t scaleRoot = 0;
    std::uint32_t scaleFactor = 0;
    bool used = false;
};

// Volume type bits.
enum EnvelopeType : std::uint8_t {
    kEnvelopeOn = 0x01,
    kEnvelopeSustain = 0x02,
    kEnvelopeLoop = 0x04
};

struct InstrumentRecord {
    std::uint32_t headerSize = kInstrumentHeaderSize;
    std::array<char, 22> name{};
    std::uint8_t type = 0;
    std::uint16_t sampleCount = 0;
    std::uint16_t writtenSampleCount = 0;
    std::uint32_t sampleHeaderSize = kSampleHeaderSize;
    std::array<std::int16_t, kKeymapNotes> keymap{};
    std::array<EnvelopePoint, kEnvelopePointCount> volumeEnvelope{};
    std::array<EnvelopePoint, kEnvelopePointCount> panningEnvelope{};
    std::uint8_t volumePointCount = 0;
    std::uint8_t volumeSustainPoint = 0;
    std::uint8_t volumeLoopStart = 0;
    std::uint8_t volumeLoopEnd = 0;
    std::uint8_t volumeType = 0;
    std::uint8_t vibratoType = 0;
    std::uint8_t vibratoSweep = 0;
    std::uint8_t vibratoDepth = 0;
    std::uint8_t vibratoRate = 0;
    std::uint16_t volumeFadeout = 0;
    std::uint32_t releaseTime = 0;
    std::uint32_t drumNote = 0;
    std::vector<SampleRecord> samples;  // sampleCount = samples.size()
    std::int16_t transpose = 0;
    std::uint16_t mapIndex = 0;  // the patch map entry it was loaded for
};

}  // namespace korvalin
