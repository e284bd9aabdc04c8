// The module header record: filled from the timing, the instrument count and
// the end of the music, before the note-data builder fills the patterns.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/Alloc.h"
#include "score/Score.h"
#include "xm/Xm.h"

namespace korvalin {
namespace {

constexpr char kIdText[] = "Extended Module: ";
constexpr char kTrackerName[] = "KORVALIN";
constexpr std::uint16_t kFormatVersion = 0x0104;
constexpr std::uint16_t kLinearFrequencies = 1;

}  // namespace

Status fillModuleHeader(RunState& run, FileState& file, Console& out) {
    // The end of the music: the greatest (pattern, row) of any track's last
    // event, found as the latest row counted over the whole piece. A track
    // without events has no end to offer.
    const std::uint32_t ticksPerRow = std::max<std::uint32_t>(file.timing.ticksPerRow, 1);
    std::uint32_t lastGridRow = 0;
    for (const MidiTrack& track : file.midi.tracks)
        if (!track.events.empty())
            lastGridRow = std::max(lastGridRow, track.events.back().time / ticksPerRow);
    const std::uint32_t lastPattern = lastGridRow / kRowsPerPattern;
    const std::uint32_t lastRow = lastGridRow % kRowsPerPattern;
    if (lastPattern >= kOrderTableSize) {
        // The timing stage keeps every piece within 255 patterns.
        out.print("ERROR: The piece needs %lu patterns, more than a module holds\n",
                  static_cast<unsigned long>(lastPattern) + 1);
        return Status::Failed;
    }

    ModuleHeader& header = file.header;
    header.idText = {};
    std::memcpy(header.idText.data(), kIdText, sizeof kIdText);
    header.trackerName = {};
    std::memcpy(header.trackerName.data(), kTrackerName, sizeof kTrackerName - 1);
    header.formatVersion = kFormatVersion;
    header.headerSize = kModuleHeaderSize;
    header.songLength = static_cast<std::uint16_t>(lastPattern + 1);
    header.patternCount = header.songLength;
    header.restartPosition = 0;
    header.frequencyFlags = kLinearFrequencies;
    // The instruments still numbered after those without a patch were removed
    // (nextInstrument - 1 of them): exactly the records the instrument writer
    // puts behind the patterns.
    header.instrumentCount = static_cast<std::uint16_t>(file.instruments.size());
    header.defaultTempo = static_cast<std::uint16_t>(file.timing.speed);
    header.defaultBpm = static_cast<std::uint16_t>(file.timing.bpm);
    for (std::size_t i = 0; i < header.orderTable.size(); ++i) {
        header.orderTable[i] = static_cast<std::uint8_t>(i);
    }

    file.patterns.clear();
    allocOrAbort(file.patterns, lastPattern + 1, out);
    return buildNoteData(run, file, lastPattern, lastRow, out);
}

}  // namespace korvalin
