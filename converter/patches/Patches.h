// Instruments from GF1 patches: loading, sample conversion and writing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/ByteIO.h"
#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

// Bits of a GF1 wave's modes byte.
enum WaveMode : std::uint8_t {
    kMode16Bit = 0x01,
    kModeUnsigned = 0x02,
    kModeLooping = 0x04,
    kModeBidirectional = 0x08,
    kModeSustain = 0x20,
    kModeEnvelope = 0x40,
};

// Equal-tempered note frequencies C0..B8 in thousandths of a hertz.
extern const std::array<std::uint32_t, 108> noteFrequencyTable;

// Loads the patch of every numbered instrument into file.instruments and drops
// the programs and keys that have no patch.cfg entry.
Status initPatches(RunState& run, FileState& file, Console& out);
// Parses one patch held in memory into file.instruments[index] (already sized):
// the header check, the search for the entry's patchInstrument, and all its
// layers and waves. `path` is only used in messages.
Status readPatchInstrument(const RunState& run, FileState& file, std::size_t index,
                           std::size_t mapIndex, const std::string& path,
                           std::span<const std::uint8_t> bytes, Console& out);

// Writes every instrument with its used samples behind the patterns.
Status writePatches(const RunState& run, FileState& file, ByteSink& sink, Console& out);
// `buffer` holds the sample data while it is converted; it is kept for the next instrument.
Status writeInstrument(const RunState& run, FileState& file, std::size_t index, FileBytes& buffer,
                       ByteSink& sink, Console& out);
// The instrument header, the headers of the used samples and their data (which
// is released). The samples' pitch is computed again from their converted rate.
void writeInstrumentHeader(InstrumentRecord& instrument, ByteSink& sink);

// Relative note and finetune of a sample from its sample and root frequency.
void computePitch(SampleRecord& sample, std::int16_t transpose);

// The envelope bytes of one GF1 wave.
struct WaveEnvelope {
    std::array<std::uint8_t, 6> rates{};
    std::array<std::uint8_t, 6> offsets{};
    std::uint8_t tremoloRate = 0;
    std::uint8_t tremoloDepth = 0;
    std::uint8_t modes = 0;
};

// Rewrites the instrument's volume envelope from one wave's envelope; for the
// first sample also the fadeout and releaseTime.
void convertEnvelope(InstrumentRecord& instrument, const WaveEnvelope& wave, std::uint32_t bpm,
                     std::uint32_t releaseScale, std::uint32_t releaseFactor,
                     std::size_t sampleIndex);
// Rescales the envelope levels of all instruments to a common peak of 63.
void scaleEnvelopes(FileState& file);

// Converts the data of every used sample in place into what the module holds.
void convertSamples(InstrumentRecord& instrument, const ConversionSettings& settings);
// Converts one sample's data block in place; returns the part that holds the
// converted data (byteLength bytes).
std::span<std::uint8_t> convertSampleData(SampleRecord& sample, std::span<std::uint8_t> block,
                                          const ConversionSettings& settings);

// Keeps a sample's loop inside its data: even byte positions for 16-bit data,
// no loop at all when it would be empty.
void fitLoop(SampleRecord& sample);

// Steps of the sample conversion, each over a plain buffer of values.
namespace samples {
void toSigned8(std::span<std::uint8_t> data);
void toSigned16(std::span<std::uint8_t> data);  // little-endian 16-bit values
// Lowers the rate by linear interpolation in place; returns the values written
// and sets consumed to the input values stepped over.
std::size_t resample8(std::span<std::uint8_t> data, float step, std::size_t& consumed);
std::size_t resample16(std::span<std::uint8_t> data, float step, std::size_t& consumed);
// Keeps the high byte of every 16-bit value; returns the number of values.
std::size_t reduceTo8Bit(std::span<std::uint8_t> data);
void normalize8(std::span<std::uint8_t> data);
void normalize16(std::span<std::uint8_t> data);
void deltaEncode8(std::span<std::uint8_t> data);
void deltaEncode16(std::span<std::uint8_t> data);
}  // namespace samples

}  // namespace korvalin
