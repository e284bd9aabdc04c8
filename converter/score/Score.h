// Score conversion stages: track scan, timing, pre-conversion and the
// note-data builder.
#pragma once

#include <cstdint>
#include <span>

#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

Status scanTracks(RunState& run, FileState& file, Console& out);
// Walks one track's events alone, up to its end-of-track event, into
// `summary` (left invalid when memory runs out), storing every note-off as
// 0x8n as the scan does. The reader calls it on each track it reads, so that
// the scan mostly only combines the summaries.
void summarizeTrack(std::uint32_t percussionChannel, std::span<MidiEvent> events,
                    TrackSummary& summary);
Status chooseTiming(const RunState& run, FileState& file, Console& out);
Status preconvertTracks(const RunState& run, FileState& file, Console& out);

// Builds the packed data of patterns 0..lastPattern (file.patterns already holds
// lastPattern + 1 records) and maybe a closing pattern; sets channelCount.
Status buildNoteData(RunState& run, FileState& file, std::uint32_t lastPattern,
                     std::uint32_t lastRow, Console& out);

}  // namespace korvalin
