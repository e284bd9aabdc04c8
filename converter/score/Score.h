// Score conversion stages: track scan, timing, pre-conversion and the
// note-data builder.
#pragma once

#include <cstdint>

#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

Status scanTracks(RunState& run, FileState& file, Console& out);
Status chooseTiming(const RunState& run, FileState& file, Console& out);
Status preconvertTracks(const RunState& run, FileState& file, Console& out);

// Builds the packed data of patterns 0..lastPattern (file.patterns already holds
// lastPattern + 1 records) and maybe a closing pattern; sets channelCount.
Status buildNoteData(RunState& run, FileState& file, std::uint32_t lastPattern,
                     std::uint32_t lastRow, Console& out);

}  // namespace korvalin
