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
    std::array<char, 22> name{};
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
    std::uint32_t headerSize = 263;
    std::array<char, 22> name{};
    std::uint8_t type = 0;
    std::uint16_t sampleCount = 0;
    std::uint16_t writtenSampleCount = 0;
    std::uint32_t sampleHeaderSize = 40;
    std::array<std::int16_t, 96> keymap{};
    std::array<EnvelopePoint, 12> volumeEnvelope{};
    std::array<EnvelopePoint, 12> panningEnvelope{};
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
};

}  // namespace korvalin
