// Instruments from GF1 patches: loading, sample conversion and writing.
#pragma once

#include <array>
#include <cstdint>

#include "driver/ByteIO.h"
#include "driver/Console.h"
#include "driver/State.h"

namespace korvalin {

extern const std::array<std::uint32_t, 108> noteFrequencyTable;

Status initPatches(RunState& run, FileState& file, Console& out);
Status writePatches(const RunState& run, FileState& file, ByteSink& sink, Console& out);

void computePitch(SampleRecord& sample, std::int16_t transpose);
void scaleEnvelopes(FileState& file);

}  // namespace korvalin
