// The "Initializing Patches" stage: reads the GF1 patch of every module
// instrument into its InstrumentRecord. Only the records are read; the wave
// data between them is skipped unread (its presence is checked against the
// file's size) and read by the instrument writer from the recorded offsets.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "base/Alloc.h"
#include "patches/Patches.h"

namespace korvalin {

const std::array<std::uint32_t, 108> noteFrequencyTable{
    16351,   17323,   18354,   19445,   20601,   21826,   23124,   24499,   25956,   27500,
    29135,   30867,   32703,   34647,   36708,   38890,   41203,   43653,   46249,   48999,
    51913,   54999,   58270,   61735,   65406,   69295,   73416,   77781,   82406,   87306,
    92498,   97998,   103826,  109999,  116540,  123470,  130812,  138591,  146832,  155563,
    164813,  174614,  184997,  195997,  207652,  219999,  233081,  246941,  261625,  277182,
    293664,  311126,  329627,  349228,  369994,  391995,  415304,  440000,  466163,  493883,
    523251,  554365,  587329,  622254,  659255,  698456,  739989,  783991,  830609,  880000,
    932328,  987767,  1046503, 1108731, 1174660, 1244509, 1318511, 1396914, 1479979, 1567983,
    1661220, 1760002, 1864657, 1975536, 2093007, 2217464, 2349321, 2489019, 2637024, 2793830,
    2959960, 3135968, 3322443, 3520006, 3729316, 3951073, 4186073, 4434930, 4698645, 4978041,
    5274051, 5587663, 5919922, 6271939, 6644889, 7040015, 7458636, 7902150,
};

namespace {

// Sizes of the GF1 records.
constexpr std::size_t kGf1InstrumentBytes = 63;
constexpr std::size_t kNameSize = 16;
constexpr std::size_t kWaveNameSize = 7;

// Highest sample volume a module sample can hold.
constexpr std::uint16_t kMaxSampleVolume = 64;
// Keymap entries are written as single bytes, so an instrument cannot address
// more waves than that.
constexpr std::size_t kMaxWavesPerInstrument = 255;

// How much of a patch file one read brings in: the records up to the first
// wave's data, or one wave header with what follows it.
constexpr std::size_t kPatchWindowBytes = 4096;

// Reads the records of a patch, either from bytes in memory or from a file
// through a window that is refilled where the next record starts, so the
// wave data between records is never read. Reads past the end behave like
// ByteReader's: they give zeros, stop at the end and set a sticky failure.
class PatchReader {
  public:
    explicit PatchReader(std::span<const std::uint8_t> bytes)
        : window_(bytes), size_(bytes.size()) {}
    explicit PatchReader(RangeFile& file) : file_(&file), size_(file.size()) {}

    bool ok() const { return !failed_; }
    // The system error of a failed file read, 0 when there was none.
    int ioError() const { return ioError_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }

    std::uint8_t readU8() {
        std::uint8_t b[1];
        return readBytes(b, sizeof b) ? b[0] : 0;
    }
    std::uint16_t readU16LE() {
        std::uint8_t b[2];
        return readBytes(b, sizeof b) ? static_cast<std::uint16_t>(b[0] | (b[1] << 8)) : 0;
    }
    std::uint32_t readU32LE() {
        std::uint8_t b[4];
        if (!readBytes(b, sizeof b)) return 0;
        return static_cast<std::uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16)) |
               (static_cast<std::uint32_t>(b[3]) << 24);
    }

    // Copies n bytes; on a short read copies what is there, zero-fills the rest and fails.
    bool readBytes(void* out, std::size_t n) {
        auto* to = static_cast<std::uint8_t*>(out);
        const std::size_t have = fetch(to, std::min(n, remaining()));
        std::fill(to + have, to + n, std::uint8_t{0});
        pos_ += have;
        if (have < n) fail();
        return have == n;
    }
    // Moves forward n bytes, which must be there; nothing is read.
    bool skip(std::size_t n) {
        if (n > remaining()) return fail();
        pos_ += n;
        return true;
    }

  private:
    bool fail() {
        pos_ = size_;
        failed_ = true;
        return false;
    }

    // Copies up to n bytes from the current position; fewer only when the
    // file has become shorter or cannot be read.
    std::size_t fetch(std::uint8_t* to, std::size_t n) {
        const bool inWindow = pos_ >= windowStart_ && n <= window_.size() &&
                              pos_ - windowStart_ <= window_.size() - n;
        if (!inWindow && file_) refill(std::max(n, kPatchWindowBytes));
        if (pos_ < windowStart_ || pos_ - windowStart_ > window_.size()) return 0;
        const std::size_t have = std::min(n, window_.size() - (pos_ - windowStart_));
        std::copy_n(window_.data() + (pos_ - windowStart_), have, to);
        return have;
    }

    void refill(std::size_t n) {
        buffer_.resize(std::min(n, remaining()));
        std::size_t count = 0;
        int errorNumber = 0;
        if (!file_->readSome(pos_, buffer_.data(), buffer_.size(), count, errorNumber)) {
            ioError_ = errorNumber;
            count = 0;
        }
        windowStart_ = pos_;
        window_ = std::span<const std::uint8_t>(buffer_.data(), count);
    }

    RangeFile* file_ = nullptr;
    std::span<const std::uint8_t> window_;  // the bytes from windowStart_ on
    std::size_t windowStart_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    bool failed_ = false;
    int ioError_ = 0;
};

// Everything the readers of one patch share.
struct PatchContext {
    const RunState& run;
    FileState& file;
    InstrumentRecord& instrument;
    const PatchMapEntry& entry;
    std::size_t mapIndex;
    const std::string& path;
    PatchReader& in;
    Console& out;
};

Status invalidPatch(const PatchContext& ctx) {
    // A patch that could not be read is reported as the system error it met.
    if (ctx.in.ioError() != 0) {
        ctx.out.systemError(ctx.path, ctx.in.ioError());
        return Status::Failed;
    }
    ctx.out.print("\n    ERROR: Patch file %s is invalid!\n", ctx.path.c_str());
    return Status::Abort;
}

// Reads and checks the patch header; returns the master volume, or nothing
// when the file is not a GF1 patch.
std::optional<std::uint16_t> checkPatchHeader(const PatchContext& ctx) {
    static const char kHeader100[12] = "GF1PATCH100";
    static const char kHeader110[12] = "GF1PATCH110";
    static const char kGravisId[10] = "ID#000002";

    PatchReader& in = ctx.in;
    char header[12];
    char id[10];
    in.readBytes(header, sizeof header);
    in.readBytes(id, sizeof id);
    in.skip(60);  // description
    in.skip(3);   // instruments, voices, channels
    in.skip(2);   // waveforms
    const std::uint16_t masterVolume = in.readU16LE();
    in.skip(4);   // data size
    in.skip(36);  // reserved
    const bool known = std::memcmp(header, kHeader100, sizeof header) == 0 ||
                       std::memcmp(header, kHeader110, sizeof header) == 0;
    if (!in.ok() || !known || std::memcmp(id, kGravisId, sizeof id) != 0) return std::nullopt;
    return masterVolume;
}

// The smallest table index from 1 upwards whose frequency reaches f; 96 when
// none below 96 does.
std::size_t noteIndexFor(std::uint32_t frequency) {
    std::size_t i = 1;
    while (i < 96 && noteFrequencyTable[i] < frequency) ++i;
    return i;
}

// Reads the frequency fields of a wave, maps its key range into the keymap and
// derives its pitch and highest allowed sample rate.
void mapWaveKeys(const PatchContext& ctx, SampleRecord& sample, std::size_t sampleIndex) {
    PatchReader& in = ctx.in;
    InstrumentRecord& instrument = ctx.instrument;
    sample.sampleRate = in.readU16LE();
    const std::uint32_t lowFrequency = in.readU32LE();
    const std::uint32_t highFrequency = in.readU32LE();
    sample.rootFrequency = in.readU32LE();
    in.skip(2);  // tune

    // Table index i is module note i + 24, keymap entry i + 23.
    const std::size_t first = noteIndexFor(lowFrequency) + 23;
    const std::size_t last = noteIndexFor(highFrequency) + 23;
    std::size_t end = first;
    for (std::size_t key = first; key <= last && key < instrument.keymap.size(); ++key) {
        instrument.keymap[key] = static_cast<std::int16_t>(sampleIndex);
        end = key + 1;
    }

    // A percussion instrument plays at its key (module numbering from 1).
    instrument.drumNote =
        ctx.mapIndex >= kPercussionBase ? static_cast<std::uint32_t>(ctx.mapIndex - 127) : 1;

    computePitch(sample, instrument.transpose);
    sample.maxRate = ctx.run.settings.maxSampleRate;

    // The highest note this sample plays; high notes of programs are played
    // from a lower sample rate so the module's playback rate stays in range.
    const int highestNote = ctx.entry.highestNote;
    int top = (static_cast<int>(first) <= highestNote && highestNote <= static_cast<int>(end))
                  ? highestNote
                  : static_cast<int>(end);
    top += sample.relativeNote;
    if (ctx.mapIndex < kPercussionBase && top > 118) {
        const auto divisor =
            static_cast<float>(std::pow(2.0, static_cast<double>((top - 118) / 12)));
        const auto lowered =
            static_cast<std::uint32_t>(static_cast<float>(sample.sampleRate) / divisor);
        // The lowered rate is a further limit: it never lifts the -maxrate one
        // (a top note of 119 to 129 gives a divisor of 1).
        sample.maxRate = std::min(sample.maxRate, lowered);
    }
}

// Builds the module sample type from the GF1 modes: 0x10 16-bit, 0x20
// unsigned, loop type in bits 0-1 (looping gives 1, looping and bidirectional
// 2; a bidirectional bit without looping also gives 1).
std::uint8_t sampleTypeFromModes(std::uint8_t modes) {
    std::uint8_t type = 0;
    if (modes & kMode16Bit) type |= kSample16Bit;
    if (modes & kModeUnsigned) type |= kSampleUnsigned;
    if (modes & kModeLooping) type |= kLoopForward;
    if (modes & kModeBidirectional) ++type;
    return type;
}

Status readWave(const PatchContext& ctx, std::size_t sampleIndex) {
    PatchReader& in = ctx.in;
    InstrumentRecord& instrument = ctx.instrument;
    SampleRecord& sample = instrument.samples[sampleIndex];

    // The name field has no room for a terminating zero of a 7-character name.
    sample.name.fill(0);
    in.readBytes(sample.name.data(), kWaveNameSize);
    in.skip(1);  // fractions
    sample.byteLength = in.readU32LE();
    sample.frameCount = sample.byteLength;
    std::uint32_t loopStart = in.readU32LE();
    std::uint32_t loopEnd = in.readU32LE();
    mapWaveKeys(ctx, sample, sampleIndex);
    sample.panning = static_cast<std::uint8_t>(in.readU8() * 16);

    WaveEnvelope envelope;
    in.readBytes(envelope.rates.data(), envelope.rates.size());
    in.readBytes(envelope.offsets.data(), envelope.offsets.size());
    in.skip(1);  // tremolo sweep
    envelope.tremoloRate = in.readU8();
    envelope.tremoloDepth = in.readU8();

    const std::uint8_t vibratoSweep = in.readU8();
    const std::uint8_t vibratoRate = in.readU8();
    const std::uint8_t vibratoDepth = in.readU8();
    instrument.vibratoSweep = std::max(instrument.vibratoSweep, vibratoSweep);
    instrument.vibratoRate = std::max(instrument.vibratoRate, vibratoRate);
    instrument.vibratoDepth = std::max(instrument.vibratoDepth, vibratoDepth);
    instrument.vibratoType = 0;

    envelope.modes = in.readU8();
    sample.type = sampleTypeFromModes(envelope.modes);
    sample.scaleRoot = static_cast<std::int16_t>(in.readU16LE());
    sample.scaleFactor = in.readU16LE();
    in.skip(36);  // reserved
    if (!in.ok()) return invalidPatch(ctx);

    // The wave data must be present in full; it is read when writing.
    sample.dataOffset = static_cast<std::uint32_t>(in.position());
    if (!in.skip(sample.byteLength)) return invalidPatch(ctx);

    // Loop points beyond the wave (or an end before the start) are pulled
    // back inside it, so no later step indexes outside the data.
    loopStart = std::min(loopStart, sample.byteLength);
    loopEnd = std::clamp(loopEnd, loopStart, sample.byteLength);
    sample.loopStart = loopStart;
    sample.loopLength = loopEnd - loopStart;

    if (sample.type & kSample16Bit) sample.frameCount /= 2;

    convertEnvelope(instrument, envelope, ctx.file.timing.bpm, ctx.file.releaseScale,
                    ctx.entry.releaseFactor, sampleIndex);
    sample.used = false;
    return Status::Ok;
}

Status readLayer(const PatchContext& ctx, std::uint8_t sampleVolume, std::size_t& sampleCounter) {
    PatchReader& in = ctx.in;
    InstrumentRecord& instrument = ctx.instrument;
    in.skip(6);  // layer duplicate, layer, layer size
    const std::uint8_t waveCount = in.readU8();
    in.skip(40);  // reserved
    if (!in.ok()) return invalidPatch(ctx);

    const std::size_t sampleCount = instrument.samples.size() + waveCount;
    if (sampleCount > kMaxWavesPerInstrument) return invalidPatch(ctx);
    reallocOrAbort(instrument.samples, sampleCount, ctx.out);
    instrument.sampleCount = static_cast<std::uint16_t>(sampleCount);

    // A layer without waves reads none.
    for (std::uint8_t wave = 0; wave < waveCount; ++wave) {
        SampleRecord& sample = instrument.samples[sampleCounter];
        sample.volume = sampleVolume;
        sample.data.clear();
        const Status status = readWave(ctx, sampleCounter);
        if (status != Status::Ok) return status;
        ++sampleCounter;
    }

    // The vibrato of the patch counts in finer units than the module's; the
    // division is made after each layer.
    instrument.vibratoRate = static_cast<std::uint8_t>(instrument.vibratoRate >> 2);
    instrument.vibratoDepth = static_cast<std::uint8_t>(instrument.vibratoDepth >> 4);
    return Status::Ok;
}

// Positions the reader on the wanted instrument, sets up its record and reads
// its layers.
Status findPatchInstrument(const PatchContext& ctx, std::uint8_t sampleVolume,
                           std::uint32_t patchInstrument) {
    PatchReader& in = ctx.in;
    std::array<char, kNameSize> name{};
    std::uint8_t layerCount = 0;
    for (;;) {
        if (in.remaining() < 2) {
            ctx.out.print("\n    ERROR: Patch file %s does not contain instrument %lu!\n",
                          ctx.path.c_str(), static_cast<unsigned long>(patchInstrument));
            return Status::Abort;
        }
        const std::uint16_t number = in.readU16LE();
        in.readBytes(name.data(), name.size());
        const std::uint32_t size = in.readU32LE();
        layerCount = in.readU8();
        in.skip(40);  // reserved
        if (!in.ok()) return invalidPatch(ctx);
        if (number == patchInstrument) break;
        if (size < kGf1InstrumentBytes) return invalidPatch(ctx);
        // An instrument running past the end leaves nothing to search.
        if (!in.skip(std::min<std::size_t>(size - kGf1InstrumentBytes, in.remaining())))
            return invalidPatch(ctx);
    }

    InstrumentRecord& instrument = ctx.instrument;
    instrument = InstrumentRecord{};
    instrument.mapIndex = static_cast<std::uint16_t>(ctx.mapIndex);
    // The 16 name bytes need not end in a zero; the 22-byte field has room for one.
    std::copy(name.begin(), name.end(), instrument.name.begin());
    if (ctx.entry.highestNote > 95)
        instrument.transpose = static_cast<std::int16_t>(ctx.entry.highestNote - 95);

    std::size_t sampleCounter = 0;
    for (std::uint8_t layer = 0; layer < layerCount; ++layer) {
        const Status status = readLayer(ctx, sampleVolume, sampleCounter);
        if (status != Status::Ok) return status;
    }
    return Status::Ok;
}

// For every instrument number, from 1 up, the index of the PatchMap entry
// that holds it (kPatchMapSize where none does): found in one pass over the
// map instead of one search per instrument.
std::vector<std::size_t> indexMapEntries(const RunState& run, std::size_t count) {
    std::vector<std::size_t> mapIndexOf(count, kPatchMapSize);
    for (std::size_t i = kPatchMapSize; i-- > 0;) {
        const std::size_t number = run.patchMap[i].instrument;
        if (number >= 1 && number <= count) mapIndexOf[number - 1] = i;
    }
    return mapIndexOf;
}

// Takes instrument `number` out of the numbering: later instruments move down
// by one.
void dropInstrument(RunState& run, FileState& file, std::vector<std::size_t>& mapIndexOf,
                    std::size_t number) {
    for (auto& entry : run.patchMap)
        if (entry.instrument > number) --entry.instrument;
    --file.nextInstrument;
    mapIndexOf.erase(mapIndexOf.begin() + static_cast<std::ptrdiff_t>(number - 1));
}

std::size_t instrumentCount(const FileState& file) {
    return file.nextInstrument > 0 ? file.nextInstrument - 1 : 0;
}

}  // namespace

namespace {

Status readPatch(const RunState& run, FileState& file, std::size_t index, std::size_t mapIndex,
                 const std::string& path, PatchReader& in, Console& out) {
    const PatchContext ctx{
        run, file, file.instruments[index], run.patchMap[mapIndex], mapIndex, path, in, out};
    const std::optional<std::uint16_t> masterVolume = checkPatchHeader(ctx);
    if (!masterVolume) return invalidPatch(ctx);
    // Some patch sets store a master volume far above the usual 127.
    const auto sampleVolume =
        static_cast<std::uint8_t>(std::min<std::uint16_t>(*masterVolume / 2, kMaxSampleVolume));
    return findPatchInstrument(ctx, sampleVolume, ctx.entry.patchInstrument);
}

}  // namespace

Status readPatchInstrument(const RunState& run, FileState& file, std::size_t index,
                           std::size_t mapIndex, const std::string& path,
                           std::span<const std::uint8_t> bytes, Console& out) {
    PatchReader in(bytes);
    return readPatch(run, file, index, mapIndex, path, in, out);
}

namespace {

// Loads instrument index + 1; a dropped instrument's place is taken by the
// next one, which is loaded in the same place.
Status loadInstrument(RunState& run, FileState& file, std::size_t index,
                      std::vector<std::size_t>& mapIndexOf, Console& out) {
    while (index < instrumentCount(file)) {
        const std::size_t number = index + 1;
        const std::size_t mapIndex = mapIndexOf[index];
        if (mapIndex == kPatchMapSize) {
            dropInstrument(run, file, mapIndexOf, number);
            continue;
        }
        PatchMapEntry& entry = run.patchMap[mapIndex];
        if (!entry.hasPath) {
            entry.instrument = 0;
            out.print("\n    WARNING: Midi instrument %ld has no entry in patch.cfg!",
                      static_cast<long>(mapIndex));
            dropInstrument(run, file, mapIndexOf, number);
            continue;
        }

        RangeFile patch;
        int errorNumber = 0;
        if (!patch.open(entry.patchPath, errorNumber)) {
            out.systemError(entry.patchPath, errorNumber);
            return Status::Failed;
        }
        PatchReader in(patch);
        return readPatch(run, file, index, mapIndex, entry.patchPath, in, out);
    }
    return Status::Ok;
}

}  // namespace

Status initPatches(RunState& run, FileState& file, Console& out) {
    out.print("Instruments used: %lu\n", static_cast<unsigned long>(instrumentCount(file)));
    out.print("Initializing Patches");
    allocOrAbort(file.instruments, instrumentCount(file), out);
    std::vector<std::size_t> mapIndexOf = indexMapEntries(run, instrumentCount(file));
    // The count is read again each time: dropped instruments lower it.
    for (std::size_t index = 0; index < instrumentCount(file); ++index) {
        const Status status = loadInstrument(run, file, index, mapIndexOf, out);
        if (status != Status::Ok) return status;
        out.print(".");
    }
    // Only the kept instruments remain in the table.
    file.instruments.resize(instrumentCount(file));
    scaleEnvelopes(file);
    out.print("\n");
    return Status::Ok;
}

}  // namespace korvalin
