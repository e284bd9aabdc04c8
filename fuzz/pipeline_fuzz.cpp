// Fuzz target for the whole conversion: a MIDI file and a patch from one
// input, run through every stage from readMidiFile to writePatches into
// memory, with the patch standing for every program and percussion key.
//
// Input layout: byte 0 holds option flags (only the defined bits are used),
// bytes 1-2 the MIDI length n (little-endian), then n MIDI bytes; the rest is
// the patch. A length beyond the input gives all remaining bytes to the MIDI
// file and an empty patch.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "base/ByteIO.h"
#include "base/Console.h"
#include "base/State.h"
#include "driver/Driver.h"

namespace {

using namespace korvalin;

constexpr std::uint8_t kDefinedFlags = kTweakVolume | kDirtyEnd | kNoPan | kSmall | kKeep16Bit;

// The patch lives in one temporary file for the whole fuzzing process; the
// loader and the instrument writer open it by name as they do in a real run.
std::string makePatchFile() {
    char name[] = "/tmp/korvalin-pipeline-fuzz-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) {
        std::perror("mkstemp");
        std::abort();
    }
    ::close(fd);
    return name;
}

const std::string& patchPath() {
    static const std::string path = makePatchFile();
    static const bool removeAtExit = std::atexit([] { std::remove(patchPath().c_str()); }) == 0;
    static_cast<void>(removeAtExit);
    return path;
}

bool storePatch(std::span<const std::uint8_t> bytes) {
    std::FILE* f = std::fopen(patchPath().c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t flags = data[0] & kDefinedFlags;
    const std::size_t midiLength = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
    const std::span<const std::uint8_t> midi(data + 3, midiLength);
    const std::span<const std::uint8_t> patch(data + 3 + midiLength, size - 3 - midiLength);
    if (!storePatch(patch)) return 0;

    RunState run;
    run.settings.optionFlags = flags;
    run.settings.maxSampleRate = 22050;  // keeps resampled samples small
    for (auto& entry : run.patchMap) {
        entry.hasPath = true;
        entry.patchPath = patchPath();
        entry.patchInstrument = 0;
        entry.releaseFactor = 1000;
    }
    FileState file;
    NullConsole out;
    ByteReader in(midi);
    MemorySink sink;

    // Each stage runs only after the previous one succeeded; Failed and
    // Abort both end this input (a real run would end the process on Abort).
    runStages(run, file, in, sink, out);
    resetFileState(run, file);
    return 0;
}
