// Reads a Standard MIDI File into the event store.
#pragma once

#include "driver/ByteIO.h"
#include "driver/Console.h"
#include "driver/State.h"

namespace korvalin {

// Reads header and tracks from `in` (the whole input file) into file.midi.
Status readMidiFile(const RunState& run, ByteReader& in, FileState& file, Console& out);

}  // namespace korvalin
