// Reads a Standard MIDI File into the event store.
#pragma once

#include "base/ByteIO.h"
#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

// Reads header and tracks from `in` (the whole input file) into file.midi.
// With `makeVisitor`, each track is also shown to a visitor it makes, and
// file.midi.trackSummaries holds what the visitors made of the tracks.
Status readMidiFile(const RunState& run, ByteReader& in, FileState& file, Console& out,
                    TrackVisitorMaker makeVisitor = nullptr);

}  // namespace korvalin
