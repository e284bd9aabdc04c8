// Fuzz target for the patch loader: any bytes as a patch file, loaded as a
// program and as a percussion key, then converted with every sample played.
#include <cstddef>
#include <cstdint>

#include "patches/Patches.h"

namespace {

using namespace korvalin;

void loadAndConvert(std::span<const std::uint8_t> bytes, std::size_t mapIndex, std::uint8_t flags) {
    RunState run;
    run.settings.optionFlags = flags;
    run.settings.maxSampleRate = 22050;
    PatchMapEntry& entry = run.patchMap[mapIndex];
    entry.instrument = 1;
    entry.releaseFactor = 1000;
    entry.highestNote = 100;
    FileState file;
    file.timing.bpm = 125;
    file.nextInstrument = 2;
    file.instruments.resize(1);
    NullConsole out;
    if (readPatchInstrument(run, file, 0, mapIndex, "fuzz.pat", bytes, out) != Status::Ok) return;
    scaleEnvelopes(file);

    // Sample data comes from the same bytes, as the writer reads it.
    InstrumentRecord& instrument = file.instruments[0];
    for (auto& sample : instrument.samples) {
        sample.used = true;
        sample.data.assign(bytes.begin() + sample.dataOffset,
                           bytes.begin() + sample.dataOffset + sample.byteLength);
    }
    instrument.writtenSampleCount = instrument.sampleCount;
    convertSamples(instrument, run.settings);
    MemorySink sink;
    writeInstrumentHeader(instrument, sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    loadAndConvert(bytes, 0, kKeep16Bit);
    loadAndConvert(bytes, kPercussionBase + 36, kTweakVolume);
    return 0;
}
