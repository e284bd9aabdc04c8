// Fuzz target for the whole conversion: a MIDI file and a patch from one
// input, run through every stage from readMidiFile to writePatches in memory,
// with the patch standing for every program and percussion key. When the
// stages succeed, the module must walk cleanly with the module walker
// (pattern sizes and packed rows, note, instrument, volume-column and effect
// bytes the converter writes, instrument and sample sizes, loops inside
// samples); a fault traps.
//
// Input layout: byte 0 holds option flags (the defined bits, and 0x20 for 32
// channels rather than 8), bytes 1-2 the MIDI length n (little-endian), then n
// MIDI bytes; the rest is the patch. A length beyond the input gives all
// remaining bytes to the MIDI file and an empty patch.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "XmWalk.h"
#include "base/ByteIO.h"
#include "base/Console.h"
#include "base/State.h"
#include "midi/MidiReader.h"
#include "patches/Patches.h"
#include "score/Score.h"
#include "xm/Xm.h"

namespace {

using namespace korvalin;

constexpr std::uint8_t kDefinedFlags = kTweakVolume | kDirtyEnd | kNoPan | kSmall | kKeep16Bit;
const char kPatchPath[] = "fuzz.pat";
constexpr std::uint32_t kMaxPatterns = 8;

// The patch of the current input, served to the loader and the instrument
// writer as the file kPatchPath.
std::span<const std::uint8_t> currentPatch;

bool servePatch(const std::string& path, std::vector<std::uint8_t>& out) {
    if (path != kPatchPath) return false;
    out.assign(currentPatch.begin(), currentPatch.end());
    return true;
}

// The last pattern the music reaches, as the module header stage finds it.
std::uint32_t lastPattern(const FileState& file) {
    const std::uint32_t ticksPerRow = std::max<std::uint32_t>(file.timing.ticksPerRow, 1);
    std::uint32_t last = 0;
    for (const MidiTrack& track : file.midi.tracks)
        if (!track.events.empty())
            last = std::max(last, track.events.back().time / ticksPerRow / kRowsPerPattern);
    return last;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t flags = data[0] & kDefinedFlags;
    const std::size_t midiLength = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
    const std::span<const std::uint8_t> midi(data + 3, midiLength);
    currentPatch = std::span<const std::uint8_t>(data + 3 + midiLength, size - 3 - midiLength);
    setMemoryFileSource(servePatch);

    RunState run;
    run.settings.optionFlags = flags;
    run.settings.maxSampleRate = 22050;  // keeps resampled samples small
    // Bit 0x20 asks for the full 32 channels, else 8: fewer cells a row, the
    // same code.
    run.settings.maxChannels = (data[0] & 0x20) ? 32 : 8;
    for (auto& entry : run.patchMap) {
        entry.hasPath = true;
        entry.patchPath = kPatchPath;
        entry.patchInstrument = 0;
        entry.releaseFactor = 1000;
    }
    FileState file;
    NullConsole out;
    ByteReader in(midi);
    MemorySink sink;

    // The stages in the order of a real run, each only after the previous one
    // succeeded; Failed and Abort both end this input (a real run would end
    // the process on Abort). A piece longer than kMaxPatterns is left before
    // its note data is built: longer pieces only repeat the same work per
    // pattern and would hold the fuzzer to a few dozen inputs a second.
    Status status = readMidiFile(run, in, file, out, makeTrackSummarizer);
    if (status == Status::Ok) status = scanTracks(run, file, out);
    if (status == Status::Ok) status = chooseTiming(run, file, out);
    if (status == Status::Ok) status = initPatches(run, file, out);
    if (status == Status::Ok) status = preconvertTracks(run, file, out);
    if (status == Status::Ok && lastPattern(file) < kMaxPatterns) {
        status = fillModuleHeader(run, file, out);
        if (status == Status::Ok) status = writeScore(run, file, sink, out);
        if (status == Status::Ok) status = writePatches(run, file, sink, out);
    } else {
        status = Status::Failed;
    }
    if (status == Status::Ok) {
        const xmwalk::Summary walked = xmwalk::walk(sink.bytes);
        if (!walked.fault.empty()) {
            std::fprintf(stderr, "module fault at offset %zu: %s\n", walked.faultOffset,
                         walked.fault.c_str());
            std::abort();
        }
    }
    resetFileState(run, file);
    return 0;
}
