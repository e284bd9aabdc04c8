// The converter's entry: settings, patch map and the per-file run of the stages.
#pragma once

#include <string>
#include <vector>

#include "base/ByteIO.h"
#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

// Runs the eight stages on one MIDI file in their fixed order, each only
// after the previous one succeeded; returns the first non-Ok status.
Status runStages(RunState& run, FileState& file, ByteReader& in, ByteSink& sink, Console& out);
// The stages after the MIDI reader, on the events it left in `file`: the
// MIDI file's bytes are no longer needed by then.
Status runStagesAfterReading(RunState& run, FileState& file, ByteSink& sink, Console& out);

// The stages after the MIDI reader, in their order, each with a short name
// (the benchmark times them one by one).
struct Stage {
    const char* name;
    Status (*run)(RunState& run, FileState& file, ByteSink& sink, Console& out);
};
extern const Stage kStagesAfterReading[7];

// Runs the whole converter for the given command-line words (word 0 is the
// program name). Returns the process exit status: 0 when every named file was
// converted, 1 when any file was skipped or a stage failed, 3 on abort.
int runConverter(const std::vector<std::string>& args, StdConsole& console);

}  // namespace korvalin
