// Writes the module header and the patterns, front to back, keeping in each
// row only the channels the module uses.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/Alloc.h"
#include "xm/Xm.h"

namespace korvalin {
namespace {

constexpr std::size_t kIdTextBytes = 17;  // written without its terminator
constexpr std::size_t kNameBytes = 20;
constexpr std::uint8_t kNameEnd = 0x1A;
constexpr std::size_t kPatternHeaderBytes = 9;
constexpr std::size_t kMaxPackedSize = 0xFFFF;

std::vector<std::uint8_t> moduleHeaderBytes(const ModuleHeader& h) {
    std::vector<std::uint8_t> b;
    b.reserve(kModuleHeaderBytes);
    putBytes(b, h.idText.data(), kIdTextBytes);  // "Extended Module: "
    putBytes(b, h.moduleName.data(), kNameBytes);
    putU8(b, kNameEnd);
    putBytes(b, h.trackerName.data(), kNameBytes);
    putU16LE(b, h.formatVersion);
    putU32LE(b, h.headerSize);  // counted from this field: 276
    putU16LE(b, h.songLength);
    putU16LE(b, h.restartPosition);
    putU16LE(b, h.channelCount);
    putU16LE(b, h.patternCount);
    putU16LE(b, h.instrumentCount);
    putU16LE(b, h.frequencyFlags);
    putU16LE(b, h.defaultTempo);  // module ticks per row
    putU16LE(b, h.defaultBpm);
    putBytes(b, h.orderTable.data(), h.orderTable.size());
    return b;
}

std::vector<std::uint8_t> patternHeaderBytes(const PatternRecord& p) {
    std::vector<std::uint8_t> b;
    b.reserve(kPatternHeaderBytes);
    putU32LE(b, p.headerLength);
    putU8(b, p.packingType);
    putU16LE(b, p.rowCount);
    putU16LE(b, p.packedSize);
    return b;
}

// Bytes of the packed cell at `pos`: the flag byte and one byte for each
// field it names. 0 when the cell would run past `end`.
std::size_t cellLength(const std::vector<std::uint8_t>& data, std::size_t pos, std::size_t end) {
    if (pos >= end) return 0;
    const std::uint8_t flag = data[pos];
    std::size_t n = 1;
    for (std::uint8_t field : {kCellNote, kCellInstrument, kCellVolume, kCellEffect, kCellParam}) {
        if (flag & field) ++n;
    }
    return n <= end - pos ? n : 0;
}

// The packed data as it can be written: whole rows of channelCount cells.
bool needsRepacking(const RunState& run, const FileState& file, const PatternRecord& p) {
    return file.header.channelCount != run.settings.maxChannels ||
           p.packedData.size() != p.packedSize;
}

}  // namespace

void dropUnusedChannels(const RunState& run, FileState& file, std::size_t patternIndex,
                        Console& out) {
    if (patternIndex >= file.patterns.size()) return;
    PatternRecord& p = file.patterns[patternIndex];
    const std::vector<std::uint8_t>& data = p.packedData;
    const std::size_t end = std::min<std::size_t>(p.packedSize, data.size());
    const std::uint32_t cellsPerRow = run.settings.maxChannels;
    const std::uint32_t keep = file.header.channelCount;

    // Rows hold maxChannels cells as built; the cells from channelCount on
    // are skipped. Rows that come up short of channelCount cells (data cut
    // short, or fewer channels built than the header counts) are completed
    // with empty cells so every row the header announces is whole.
    std::vector<std::uint8_t> kept;
    allocOrAbort(kept, end + std::size_t{p.rowCount} * keep, out);
    std::size_t read = 0;
    std::size_t write = 0;
    bool exhausted = false;
    for (std::uint32_t row = 0; row < p.rowCount; ++row) {
        // The kept cells are the first ones of the row: one copy moves them all.
        const std::size_t rowStart = read;
        std::size_t keptEnd = read;
        std::uint32_t cell = 0;
        for (; cell < cellsPerRow && !exhausted; ++cell) {
            const std::size_t n = cellLength(data, read, end);
            if (n == 0) {
                exhausted = true;
                break;
            }
            read += n;
            if (cell < keep) keptEnd = read;
        }
        // An absent or exhausted pattern has nothing to copy (and maybe no block).
        if (keptEnd > rowStart)
            std::memcpy(kept.data() + write, data.data() + rowStart, keptEnd - rowStart);
        write += keptEnd - rowStart;
        for (std::uint32_t c = std::min(cell, keep); c < keep; ++c) kept[write++] = kCellPacked;
    }
    reallocOrAbort(kept, write, out);
    p.packedData = std::move(kept);
    p.packedSize = static_cast<std::uint16_t>(std::min(write, kMaxPackedSize));
}

Status writeScore(const RunState& run, FileState& file, ByteSink& sink, Console& out) {
    out.print("Writing XM score");
    const ModuleHeader& header = file.header;
    if (file.patterns.size() < header.patternCount) {
        out.print("\nERROR: %lu patterns announced, %lu built\n",
                  static_cast<unsigned long>(header.patternCount),
                  static_cast<unsigned long>(file.patterns.size()));
        return Status::Failed;
    }
    if (!sink.write(moduleHeaderBytes(header))) {
        out.systemError("ERROR", sink.error());
        return Status::Failed;
    }
    for (std::size_t i = 0; i < header.patternCount; ++i) {
        PatternRecord& p = file.patterns[i];
        if (needsRepacking(run, file, p)) dropUnusedChannels(run, file, i, out);
        if (p.packedData.size() > kMaxPackedSize) {
            out.print("\nERROR: Pattern %lu holds %lu bytes, more than a module pattern can\n",
                      static_cast<unsigned long>(i),
                      static_cast<unsigned long>(p.packedData.size()));
            return Status::Failed;
        }
        if (!sink.write(patternHeaderBytes(p)) || !sink.write(p.packedData.data(), p.packedSize)) {
            out.systemError("ERROR", sink.error());
            return Status::Failed;
        }
        std::vector<std::uint8_t>().swap(p.packedData);
        out.print(".");
    }
    out.print("\n");
    return Status::Ok;
}

}  // namespace korvalin
