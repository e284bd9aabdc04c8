// The module header record and the pattern table of the XM file being built.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace korvalin {

inline constexpr std::size_t kModuleHeaderBytes = 336;  // 60 + headerSize 276
inline constexpr std::uint32_t kRowsPerPattern = 255;

struct ModuleHeader {
    std::array<char, 18> idText{};
    std::array<char, 20> moduleName{};  // zero padded, not necessarily terminated
    std::array<char, 20> trackerName{};
    std::uint16_t formatVersion = 0;
    std::uint32_t headerSize = 0;
    std::uint16_t songLength = 0;
    std::uint16_t restartPosition = 0;
    std::uint16_t channelCount = 0;
    std::uint16_t patternCount = 0;
    std::uint16_t instrumentCount = 0;
    std::uint16_t frequencyFlags = 0;
    std::uint16_t defaultTempo = 0;
    std::uint16_t defaultBpm = 0;
    std::array<std::uint8_t, 256> orderTable{};
};

struct PatternRecord {
    std::uint32_t headerLength = 9;
    std::uint8_t packingType = 0;
    std::uint16_t rowCount = 0;
    std::uint16_t packedSize = 0;
    std::vector<std::uint8_t> packedData;
};

// Bits of a packed cell's flag byte.
enum CellFlag : std::uint8_t {
    kCellPacked = 0x80,
    kCellNote = 0x01,
    kCellInstrument = 0x02,
    kCellVolume = 0x04,
    kCellEffect = 0x08,
    kCellParam = 0x10,
};

}  // namespace korvalin
