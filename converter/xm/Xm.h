// XM module header and score writing.
#pragma once

#include <cstdint>

#include "base/ByteIO.h"
#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

// Fills the module header, sizes the pattern table and runs the note-data builder.
Status fillModuleHeader(RunState& run, FileState& file, Console& out);
// Writes the module header and every pattern.
Status writeScore(const RunState& run, FileState& file, ByteSink& sink, Console& out);

}  // namespace korvalin
