// The module header record and the pattern table of the XM file being built.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace korvalin {

inline constexpr std::uint32_t kRowsPerPattern = 255;
// Entries of the order table, and so the most patterns a module can hold.
inline constexpr std::size_t kOrderTableSize = 256;

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
    std::array<std::uint8_t, kOrderTableSize> orderTable{};
};

// Sizes of the records as the module file holds them. The header begins with
// the id text (17 bytes, no terminator), the name, 0x1A, the tracker name and
// the version; its size field counts from itself to the end of the order table.
inline constexpr std::size_t kModuleIdBytes = 60;
inline constexpr std::uint32_t kModuleHeaderSize = 276;
inline constexpr std::size_t kModuleHeaderBytes = kModuleIdBytes + kModuleHeaderSize;
static_assert(kModuleIdBytes ==
              sizeof(ModuleHeader::idText) - 1 + sizeof(ModuleHeader::moduleName) + 1 +
                  sizeof(ModuleHeader::trackerName) + sizeof(ModuleHeader::formatVersion));
static_assert(kModuleHeaderSize ==
              sizeof(ModuleHeader::headerSize) + sizeof(ModuleHeader::songLength) +
                  sizeof(ModuleHeader::restartPosition) + sizeof(ModuleHeader::channelCount) +
                  sizeof(ModuleHeader::patternCount) + sizeof(ModuleHeader::instrumentCount) +
                  sizeof(ModuleHeader::frequencyFlags) + sizeof(ModuleHeader::defaultTempo) +
                  sizeof(ModuleHeader::defaultBpm) + sizeof(ModuleHeader::orderTable));

// A pattern's header: its length, packing type, row count and packed size.
inline constexpr std::uint32_t kPatternHeaderSize = 9;

struct PatternRecord {
    std::uint32_t headerLength = kPatternHeaderSize;
    std::uint8_t packingType = 0;
    std::uint16_t rowCount = 0;
    std::uint16_t packedSize = 0;
    std::vector<std::uint8_t> packedData;
};
static_assert(kPatternHeaderSize ==
              sizeof(PatternRecord::headerLength) + sizeof(PatternRecord::packingType) +
                  sizeof(PatternRecord::rowCount) + sizeof(PatternRecord::packedSize));

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
