// Writes the module header and the patterns, front to back, as the note-data
// builder packed them for the module's channel count.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "xm/Xm.h"

namespace korvalin {
namespace {

constexpr std::size_t kIdTextBytes = 17;  // written without its terminator
constexpr std::size_t kNameBytes = 20;
constexpr std::uint8_t kNameEnd = 0x1A;
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
    b.reserve(kPatternHeaderSize);
    putU32LE(b, p.headerLength);
    putU8(b, p.packingType);
    putU16LE(b, p.rowCount);
    putU16LE(b, p.packedSize);
    return b;
}

}  // namespace

Status writeScore(const RunState&, FileState& file, ByteSink& sink, Console& out) {
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
        if (p.packedData.size() > kMaxPackedSize || p.packedSize > p.packedData.size()) {
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
