// The "Writing patches" stage: for every instrument, the samples its notes
// use are read from the patch again, converted and written behind the
// patterns with the instrument and sample headers.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/Alloc.h"
#include "patches/Patches.h"

namespace korvalin {

namespace {

// Indices of the samples that are written: those a note plays.
std::vector<std::size_t> chooseWrittenSamples(const InstrumentRecord& instrument) {
    std::vector<std::size_t> written;
    for (std::size_t i = 0; i < instrument.samples.size(); ++i)
        if (instrument.samples[i].used) written.push_back(i);
    return written;
}

// Renumbers the keymap to positions among the written samples. A key whose
// sample is not written plays the next written sample, or the last one when
// none follows, so every entry names a sample that is in the module.
void renumberKeymap(InstrumentRecord& instrument, const std::vector<std::size_t>& written) {
    if (written.empty()) {
        instrument.keymap.fill(0);
        return;
    }
    const std::size_t sampleCount = instrument.samples.size();
    for (auto& entry : instrument.keymap) {
        const auto original = static_cast<std::size_t>(
            std::clamp<int>(entry, 0, static_cast<int>(std::max<std::size_t>(sampleCount, 1) - 1)));
        auto next = std::lower_bound(written.begin(), written.end(), original);
        if (next == written.end()) --next;
        entry = static_cast<std::int16_t>(next - written.begin());
    }
}

// Checks that the data of every used sample lies within the patch file's
// `size` bytes.
Status checkSampleData(const InstrumentRecord& instrument, std::size_t size,
                       const std::string& path, Console& out) {
    for (const auto& sample : instrument.samples) {
        if (!sample.used) continue;
        // The loader checked the data was present; the file may have changed since.
        if (sample.dataOffset > size || sample.byteLength > size - sample.dataOffset) {
            out.print("\n    ERROR: Sample data of patch file %s cannot be read!\n", path.c_str());
            return Status::Abort;
        }
    }
    return Status::Ok;
}

// The data bytes of the samples that are written.
std::size_t usedBytes(const InstrumentRecord& instrument) {
    std::size_t total = 0;
    for (const auto& sample : instrument.samples)
        if (sample.used) total += sample.byteLength;
    return total;
}

// Makes `buffer` hold at least n bytes for data that fills them before they
// are read: what it held is not kept and nothing is cleared. One buffer
// serves every instrument, so its pages are only faulted in once. Failure
// ends the process like allocOrAbort.
void growBlockOrAbort(FileBytes& buffer, std::size_t n, Console& out) {
    if (n <= buffer.size()) return;
    try {
        buffer.clear();
        buffer.resize(n);
    } catch (const std::bad_alloc&) {
        out.print("\nmalloc(): failed to allocate %lu bytes\n", static_cast<unsigned long>(n));
        abortProcess(out);
    }
}

// Reads the data of every used sample, one after the other in sample order,
// into `buffer` (only those byte ranges of the patch are read) and converts
// each right after reading it, while it is still in the cache. `converted`
// gets the converted data of each.
Status readAndConvertSamples(InstrumentRecord& instrument, const std::string& path,
                             const ConversionSettings& settings, FileBytes& buffer,
                             std::vector<std::span<const std::uint8_t>>& converted, Console& out) {
    RangeFile file;
    int errorNumber = 0;
    if (!file.open(path, errorNumber)) {
        out.systemError(path, errorNumber);
        return Status::Failed;
    }
    const Status status = checkSampleData(instrument, file.size(), path, out);
    if (status != Status::Ok) return status;
    growBlockOrAbort(buffer, usedBytes(instrument), out);
    std::uint8_t* to = buffer.data();
    for (auto& sample : instrument.samples) {
        if (!sample.used) continue;
        const std::span<std::uint8_t> block(to, sample.byteLength);
        if (!file.read(sample.dataOffset, block.data(), block.size(), errorNumber)) {
            if (errorNumber != 0) {
                out.systemError(path, errorNumber);
                return Status::Failed;
            }
            out.print("\n    ERROR: Sample data of patch file %s cannot be read!\n", path.c_str());
            return Status::Abort;
        }
        to += block.size();
        converted.push_back(convertSampleData(sample, block, settings));
    }
    return Status::Ok;
}

void putName(std::vector<std::uint8_t>& out, const std::array<char, 22>& name) {
    putBytes(out, name.data(), name.size());
}

void putZeros(std::vector<std::uint8_t>& out, std::size_t n) {
    out.insert(out.end(), n, 0);
}

// The instrument header and the headers of the used samples, whose pitch is
// computed again from their converted rate.
std::vector<std::uint8_t> instrumentHeaderBytes(InstrumentRecord& instrument) {
    // An envelope switched on without points would be no envelope at all.
    std::uint8_t volumeType = instrument.volumeType;
    if (instrument.volumePointCount == 0) volumeType = 0;

    std::vector<std::uint8_t> header;
    header.reserve(instrument.headerSize + instrument.samples.size() * instrument.sampleHeaderSize);
    putU32LE(header, instrument.headerSize);
    putName(header, instrument.name);
    putU8(header, instrument.type);
    putU16LE(header, instrument.writtenSampleCount);
    putU32LE(header, instrument.sampleHeaderSize);
    for (const std::int16_t entry : instrument.keymap)
        putU8(header, static_cast<std::uint8_t>(entry));
    for (const EnvelopePoint& point : instrument.volumeEnvelope) {
        putU16LE(header, point.x);
        putU16LE(header, point.y);
    }
    putZeros(header, 48);  // panning envelope
    putU8(header, instrument.volumePointCount);
    putU8(header, 0);  // panning points
    putU8(header, instrument.volumeSustainPoint);
    putU8(header, instrument.volumeLoopStart);
    putU8(header, instrument.volumeLoopEnd);
    putZeros(header, 3);  // panning sustain, loop start, loop end
    putU8(header, volumeType);
    putU8(header, 0);  // panning type
    putU8(header, instrument.vibratoType);
    putU8(header, instrument.vibratoSweep);
    putU8(header, instrument.vibratoDepth);
    putU8(header, instrument.vibratoRate);
    putU16LE(header, instrument.volumeFadeout);
    putZeros(header, 22);  // reserved

    for (auto& sample : instrument.samples) {
        if (!sample.used) continue;
        // The rate may have been lowered by the conversion.
        computePitch(sample, instrument.transpose);
        putU32LE(header, sample.byteLength);
        putU32LE(header, sample.loopStart);
        putU32LE(header, sample.loopLength);
        putU8(header, sample.volume);
        putU8(header, static_cast<std::uint8_t>(sample.finetune));
        putU8(header, static_cast<std::uint8_t>(sample.type & ~kSampleUnsigned));
        putU8(header, sample.panning);
        putU8(header, static_cast<std::uint8_t>(sample.relativeNote));
        putU8(header, 0);  // reserved
        putBytes(header, sample.name.data(), kSampleNameBytes);
    }
    return header;
}

}  // namespace

void writeInstrumentHeader(InstrumentRecord& instrument, ByteSink& sink) {
    sink.write(instrumentHeaderBytes(instrument));
    for (auto& sample : instrument.samples) {
        if (!sample.used) continue;
        sink.write(sample.data.data(), sample.byteLength);
        std::vector<std::uint8_t>().swap(sample.data);
    }
}

Status writeInstrument(const RunState& run, FileState& file, std::size_t index, FileBytes& buffer,
                       ByteSink& sink, Console& out) {
    InstrumentRecord& instrument = file.instruments[index];
    // The loader keeps the index of the map entry the instrument came from.
    const PatchMapEntry* entry = &run.patchMap[instrument.mapIndex];
    if (entry->instrument != index + 1 || !entry->hasPath) return Status::Ok;

    const std::vector<std::size_t> written = chooseWrittenSamples(instrument);
    instrument.writtenSampleCount = static_cast<std::uint16_t>(written.size());
    renumberKeymap(instrument, written);

    // The samples are converted in place where they were read and written
    // from there.
    std::vector<std::span<const std::uint8_t>> data;
    const Status status =
        readAndConvertSamples(instrument, entry->patchPath, run.settings, buffer, data, out);
    if (status != Status::Ok) return status;
    sink.write(instrumentHeaderBytes(instrument));
    for (const auto& block : data) sink.write(block.data(), block.size());
    return Status::Ok;
}

Status writePatches(const RunState& run, FileState& file, ByteSink& sink, Console& out) {
    out.print("Writing patches");
    // One buffer, sized for the largest instrument at once, so that its pages
    // are faulted in once. Where that much cannot be had, each instrument
    // asks for its own size and reports its own failure.
    FileBytes buffer;
    std::size_t largest = 0;
    for (const auto& instrument : file.instruments)
        largest = std::max(largest, usedBytes(instrument));
    try {
        buffer.resize(largest);
    } catch (const std::bad_alloc&) {
        buffer = FileBytes();
    }
    for (std::size_t index = 0; index < file.instruments.size(); ++index) {
        const Status status = writeInstrument(run, file, index, buffer, sink, out);
        if (status != Status::Ok) return status;
        if (!sink.ok()) {
            out.systemError("ERROR", sink.error());
            return Status::Failed;
        }
        out.print(".");
    }
    out.print("\n");
    return Status::Ok;
}

}  // namespace korvalin
