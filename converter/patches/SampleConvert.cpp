// Pitch, envelope and sample-data arithmetic that turns GF1 wave parameters
// and data into module instrument and sample values.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "patches/Patches.h"

namespace korvalin {

namespace {

// Frequency of the module's reference note in thousandths of a hertz; a
// sample played at its root frequency sounds at this note.
constexpr double kReferenceFrequency = 138591.0;
// Sample rate of the module's middle C at relative note 0.
constexpr double kMiddleCRate = 8363.0;

// Longest envelope and the level below which a point counts as silent.
constexpr std::uint16_t kSilentLevel = 4;
constexpr std::uint32_t kMaxFadeout = 4095;

// Duration of one GF1 envelope stage in milliseconds: the stage moves the
// level by `diff` in steps of `increment` every `step` milliseconds.
float stageDuration(std::uint32_t diff, std::uint8_t rate) {
    // An increment of 0 would never arrive; take the slowest one the range has.
    const std::uint32_t increment = std::max(rate & 0x3Fu, 1u);
    const std::uint32_t range = rate >> 6;
    const float step = 0.0446428582f / static_cast<float>(1u << (3 * range));
    const float perStep = static_cast<float>(diff) / static_cast<float>(increment);
    return static_cast<float>(0.001 * static_cast<double>(perStep / step));
}

// Volume level 0..63 of a 12-bit GF1 envelope offset (4-bit exponent, 8-bit
// mantissa).
std::uint16_t envelopeLevel(std::uint32_t offset) {
    const std::uint32_t exponent = (offset >> 8) & 15;
    const std::uint32_t mantissa = offset & 255;
    const double linear = static_cast<double>(mantissa + 256) /
                          (static_cast<double>(1u << (15 - exponent)) * 512.0) * 4096.0;
    const auto scaled = static_cast<std::uint32_t>(static_cast<float>(linear));
    return static_cast<std::uint16_t>(scaled >> 6);
}

// Fadeout of the instrument from the release stages' total duration.
void setRelease(InstrumentRecord& instrument, float releaseSum, float ticksPerSecond,
                std::uint32_t releaseScale, std::uint32_t releaseFactor) {
    const std::uint32_t sum = static_cast<std::uint32_t>(releaseSum) & 511;
    const auto releaseMs = static_cast<float>(
        384.0 * std::pow(static_cast<double>(sum) / 384.0, 4.0) *
        static_cast<double>(releaseScale) * static_cast<double>(releaseFactor) * 1e-6);
    const double ticks =
        static_cast<double>(releaseMs) * static_cast<double>(ticksPerSecond) * 0.001 + 1.0;
    const std::uint32_t n = ticks >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(ticks);
    instrument.volumeFadeout = static_cast<std::uint16_t>(std::min(32768u / n, kMaxFadeout));
    // A fadeout of 0 never ends; count it as the longest one.
    instrument.releaseTime =
        instrument.volumeFadeout > 0 ? 32768u / instrument.volumeFadeout : 32768u;
}

// The six GF1 stages: attack, decay, sustain level, then three release
// stages whose total time gives the fadeout.
struct EnvelopeStages {
    std::array<std::uint32_t, 6> ticks{};
    std::array<std::uint16_t, 6> levels{};
    float releaseSum = 0.0f;
};

EnvelopeStages readStages(const WaveEnvelope& wave, float ticksPerSecond) {
    EnvelopeStages stages;
    std::uint32_t previous = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::uint32_t offset = wave.offsets[i] * 16u + wave.offsets[i] / 16u;
        const std::uint32_t diff = offset > previous ? offset - previous : previous - offset;
        const float duration = stageDuration(diff, wave.rates[i]);
        if (i >= 3) stages.releaseSum = stages.releaseSum + duration;
        stages.ticks[i] = static_cast<std::uint32_t>(static_cast<double>(ticksPerSecond) *
                                                     static_cast<double>(duration) * 0.001);
        stages.levels[i] = envelopeLevel(offset);
        previous = offset;
    }
    return stages;
}

// One tremolo period inserted behind the sustain point s, looped while the
// key is held: up by depth, back, down by depth, back, over `period` ticks.
void insertTremolo(std::array<EnvelopePoint, kEnvelopePointCount>& points, std::size_t& count,
                   std::size_t s, std::uint32_t period, std::uint16_t depth) {
    for (std::size_t i = count; i-- > s + 1;) {
        points[i + 5] = points[i];
        points[i + 5].x = static_cast<std::uint16_t>(points[i].x + period);
    }
    const EnvelopePoint base = points[s];
    const std::uint32_t steps[5] = {1, 2, 4, 5, 6};
    for (std::size_t k = 0; k < 5; ++k) {
        const std::uint32_t j = steps[k];
        EnvelopePoint& point = points[s + 1 + k];
        point.x = static_cast<std::uint16_t>(base.x + j * period / 6);
        point.y = base.y;
        if (j <= 2) point.y = static_cast<std::uint16_t>(base.y + depth);
        if (j == 4 || j == 5)
            point.y = base.y > depth ? static_cast<std::uint16_t>(base.y - depth) : 0;
    }
    count += 5;
}

// Arithmetic on little-endian 16-bit values held in a byte buffer.
std::int16_t get16(std::span<const std::uint8_t> data, std::size_t i) {
    return static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
}
void put16(std::span<std::uint8_t> data, std::size_t i, int value) {
    const auto v = static_cast<std::uint16_t>(value);
    data[2 * i] = static_cast<std::uint8_t>(v);
    data[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
}

struct Values8 {
    static std::size_t count(std::span<const std::uint8_t> d) { return d.size(); }
    static int get(std::span<const std::uint8_t> d, std::size_t i) {
        return static_cast<std::int8_t>(d[i]);
    }
    static void put(std::span<std::uint8_t> d, std::size_t i, int v) {
        d[i] = static_cast<std::uint8_t>(v);
    }
    static constexpr int kPeak = 127;
};

struct Values16 {
    static std::size_t count(std::span<const std::uint8_t> d) { return d.size() / 2; }
    static int get(std::span<const std::uint8_t> d, std::size_t i) { return get16(d, i); }
    static void put(std::span<std::uint8_t> d, std::size_t i, int v) { put16(d, i, v); }
    static constexpr int kPeak = 32767;
};

// Linear interpolation to a lower rate, in place: every output value is
// written at or behind the input values it is made from.
template <class Values>
std::size_t resampleValues(std::span<std::uint8_t> data, float step, std::size_t& consumed) {
    const std::size_t count = Values::count(data);
    consumed = 0;
    // Only lowering the rate works in place; any other step leaves the data as it is.
    if (!(step >= 1.0f)) {
        consumed = count;
        return count;
    }
    std::size_t written = 0;
    float frac = 0.0f;
    while (consumed < count) {
        const int current = Values::get(data, consumed);
        // The last value has no successor; it is interpolated with itself.
        const int next = consumed + 1 < count ? Values::get(data, consumed + 1) : current;
        const float value =
            static_cast<float>(current) * (1.0f - frac) + static_cast<float>(next) * frac;
        Values::put(data, written++, static_cast<int>(value));
        frac = frac + step;
        if (frac >= 1.0f) {
            const auto whole = static_cast<std::size_t>(frac);
            consumed += whole;
            frac = frac - static_cast<float>(whole);
        }
    }
    return written;
}

template <class Values>
void normalizeValues(std::span<std::uint8_t> data) {
    const std::size_t count = Values::count(data);
    int peak = 0;
    for (std::size_t i = 0; i < count; ++i) peak = std::max(peak, std::abs(Values::get(data, i)));
    // A silent sample stays as it is.
    if (peak == 0) return;
    for (std::size_t i = 0; i < count; ++i)
        Values::put(data, i, Values::get(data, i) * Values::kPeak / peak);
}

std::uint32_t scaleByRatio(std::uint32_t value, std::size_t numerator, std::size_t denominator) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) * numerator / denominator);
}

// Lowers the sample's rate to its maxRate; frame count, loop and rate follow
// the ratio of values written to values consumed.
void resampleSample(SampleRecord& sample, std::span<std::uint8_t> data) {
    const bool wide = (sample.type & kSample16Bit) != 0;
    const auto step = static_cast<float>(static_cast<double>(sample.sampleRate) /
                                         static_cast<double>(sample.maxRate));
    std::size_t consumed = 0;
    const std::size_t written =
        wide ? samples::resample16(data, step, consumed) : samples::resample8(data, step, consumed);
    sample.frameCount = static_cast<std::uint32_t>(written);
    sample.byteLength = static_cast<std::uint32_t>(wide ? 2 * written : written);
    sample.loopStart = scaleByRatio(sample.loopStart, written, consumed);
    sample.loopLength = scaleByRatio(sample.loopLength, written, consumed);
    if (wide) {
        sample.loopStart &= ~1u;
        sample.loopLength &= ~1u;
    }
    sample.sampleRate = scaleByRatio(sample.sampleRate, written, consumed);
}

}  // namespace

std::span<std::uint8_t> convertSampleData(SampleRecord& sample, std::span<std::uint8_t> block,
                                          const ConversionSettings& settings) {
    bool wide = (sample.type & kSample16Bit) != 0;
    // The data block holds byteLength bytes; a stray odd byte of 16-bit data
    // is no value and is dropped.
    sample.byteLength = std::min(sample.byteLength, static_cast<std::uint32_t>(block.size()));
    sample.frameCount = wide ? sample.byteLength / 2 : sample.byteLength;
    if (wide) sample.byteLength = sample.frameCount * 2;
    std::span<std::uint8_t> data = block.first(sample.byteLength);

    if (sample.type & kSampleUnsigned) {
        wide ? samples::toSigned16(data) : samples::toSigned8(data);
        sample.type &= static_cast<std::uint8_t>(~kSampleUnsigned);
    }
    // A maxRate of 0 sets no limit; an empty sample has nothing to resample.
    if (sample.maxRate > 0 && sample.sampleRate > sample.maxRate && sample.frameCount > 0) {
        resampleSample(sample, data);
        data = data.first(sample.byteLength);
    }
    if (wide && !settings.has(kKeep16Bit)) {
        sample.frameCount = static_cast<std::uint32_t>(samples::reduceTo8Bit(data));
        sample.byteLength = sample.frameCount;
        sample.loopStart /= 2;
        sample.loopLength /= 2;
        sample.type &= static_cast<std::uint8_t>(~kSample16Bit);
        wide = false;
        data = data.first(sample.byteLength);
    }
    if (settings.has(kTweakVolume)) wide ? samples::normalize16(data) : samples::normalize8(data);
    wide ? samples::deltaEncode16(data) : samples::deltaEncode8(data);
    fitLoop(sample);
    return data;
}

void computePitch(SampleRecord& sample, std::int16_t transpose) {
    // A root frequency of 0 is taken as the reference pitch.
    const float ratio = sample.rootFrequency > 0
                            ? static_cast<float>(kReferenceFrequency / sample.rootFrequency)
                            : 1.0f;
    const auto f =
        static_cast<float>(static_cast<double>(sample.sampleRate) * static_cast<double>(ratio));
    auto y = static_cast<float>(
        (std::log10(static_cast<double>(f) * (1.0 / kMiddleCRate)) * 768.0 / std::log10(2.0) +
         3072.0) /
        64.0);
    // A sample rate of 0 has no pitch; keep the note inside what the fields hold.
    if (!std::isfinite(y)) y = 0.0f;
    y = std::clamp(y, -1024.0f, 1024.0f);
    const auto n = static_cast<int>(y);
    sample.finetune =
        static_cast<std::int8_t>(static_cast<int>((y - static_cast<float>(n)) * 128.0f));
    sample.relativeNote = static_cast<std::int8_t>(n + transpose - 49);
}

void convertEnvelope(InstrumentRecord& instrument, const WaveEnvelope& wave, std::uint32_t bpm,
                     std::uint32_t releaseScale, std::uint32_t releaseFactor,
                     std::size_t sampleIndex) {
    const float ticksPerSecond = static_cast<float>(bpm) * 24.0f / 60.0f;
    instrument.volumeEnvelope = {};
    instrument.volumePointCount = 0;
    instrument.volumeSustainPoint = 0;
    instrument.volumeLoopStart = 0;
    instrument.volumeLoopEnd = 0;
    instrument.volumeType = 0;

    const EnvelopeStages stages = readStages(wave, ticksPerSecond);
    const auto& ticks = stages.ticks;
    const auto& levels = stages.levels;

    const bool envelopeOn = (wave.modes & kModeEnvelope) != 0;
    std::array<EnvelopePoint, kEnvelopePointCount> points{};
    std::size_t firstStage = 0;
    std::size_t sustainBase = 1;
    if (ticks[0] == 0) {
        // The attack is immediate: the envelope starts at its level.
        points[0].y = levels[0];
        firstStage = 1;
        sustainBase = 0;
    }
    std::size_t built = 1;
    std::optional<std::size_t> silentPoint;
    for (std::size_t stage = firstStage; stage < 6; ++stage) {
        EnvelopePoint& point = points[built];
        point.x = static_cast<std::uint16_t>(points[built - 1].x + std::max(ticks[stage], 1u));
        point.y = levels[stage];
        if (point.y < kSilentLevel) {
            point.y = 0;
            if (!silentPoint) silentPoint = built;
        }
        ++built;
    }
    // The envelope ends at its first silent point.
    std::size_t count = silentPoint ? *silentPoint + 1 : built;

    std::uint8_t type = envelopeOn ? kEnvelopeOn : 0;
    std::size_t sustain = 0;
    if (envelopeOn && (wave.modes & kModeSustain)) {
        type |= kEnvelopeSustain;
        // An envelope that falls silent early can end before the sustain
        // stage; the sustain point then is its last point.
        sustain = std::min(sustainBase + 2, count - 1);
        const std::uint32_t period = (bpm * 400) / ((wave.tremoloRate * 70u + 150u) / 3u);
        const auto depth = static_cast<std::uint16_t>((wave.tremoloDepth * 8u) / 85u);
        if (depth != 0 && wave.tremoloRate != 0) {
            insertTremolo(points, count, sustain, period, depth);
            instrument.volumeLoopStart = static_cast<std::uint8_t>(sustain);
            sustain += 5;
            instrument.volumeLoopEnd = static_cast<std::uint8_t>(sustain);
            type |= kEnvelopeLoop;
        }
    } else if (!envelopeOn) {
        count = 0;
    }
    std::copy_n(points.begin(), count, instrument.volumeEnvelope.begin());
    instrument.volumePointCount = static_cast<std::uint8_t>(count);
    instrument.volumeSustainPoint = static_cast<std::uint8_t>(sustain);
    instrument.volumeType = type;

    // The first wave decides the instrument's fadeout.
    if (sampleIndex == 0)
        setRelease(instrument, stages.releaseSum, ticksPerSecond, releaseScale, releaseFactor);
}

void scaleEnvelopes(FileState& file) {
    std::uint32_t peak = 0;
    for (const auto& instrument : file.instruments) {
        if (!(instrument.volumeType & kEnvelopeOn)) continue;
        for (std::size_t i = 0; i < instrument.volumePointCount; ++i)
            peak = std::max<std::uint32_t>(peak, instrument.volumeEnvelope[i].y);
    }
    if (peak == 0) return;
    for (auto& instrument : file.instruments)
        for (std::size_t i = 0; i < instrument.volumePointCount; ++i) {
            EnvelopePoint& point = instrument.volumeEnvelope[i];
            point.y = static_cast<std::uint16_t>(point.y * 63u / peak);
        }
}

void fitLoop(SampleRecord& sample) {
    if (sample.type & kSample16Bit) {
        sample.loopStart &= ~1u;
        sample.loopLength &= ~1u;
    }
    sample.loopStart = std::min(sample.loopStart, sample.byteLength);
    sample.loopLength = std::min(sample.loopLength, sample.byteLength - sample.loopStart);
    if (sample.type & kSample16Bit) sample.loopLength &= ~1u;
    if (sample.loopLength == 0) {
        sample.loopStart = 0;
        sample.type &= static_cast<std::uint8_t>(~(kLoopForward | kLoopPingPong));
    }
}

void convertSamples(InstrumentRecord& instrument, const ConversionSettings& settings) {
    for (auto& sample : instrument.samples) {
        if (!sample.used) continue;
        convertSampleData(sample, sample.data, settings);
        sample.data.resize(sample.byteLength);
    }
}

namespace samples {

void toSigned8(std::span<std::uint8_t> data) {
    for (auto& byte : data) byte = static_cast<std::uint8_t>(byte - 128);
}

void toSigned16(std::span<std::uint8_t> data) {
    // Subtracting 0x8000 flips the top bit of the high byte.
    for (std::size_t i = 1; i < data.size(); i += 2) data[i] ^= 0x80;
}

std::size_t resample8(std::span<std::uint8_t> data, float step, std::size_t& consumed) {
    return resampleValues<Values8>(data, step, consumed);
}

std::size_t resample16(std::span<std::uint8_t> data, float step, std::size_t& consumed) {
    return resampleValues<Values16>(data, step, consumed);
}

std::size_t reduceTo8Bit(std::span<std::uint8_t> data) {
    const std::size_t count = data.size() / 2;
    for (std::size_t i = 0; i < count; ++i) data[i] = data[2 * i + 1];
    return count;
}

void normalize8(std::span<std::uint8_t> data) {
    normalizeValues<Values8>(data);
}
void normalize16(std::span<std::uint8_t> data) {
    normalizeValues<Values16>(data);
}
// Each value becomes its difference from the one before, wrapping at the
// value's width. The values are taken a block at a time into an array of
// their own type, so that the subtraction runs over whole vectors instead of
// value by value; 16-bit values are little-endian, as the host holds them.
template <class T>
void deltaEncodeBlocks(std::span<std::uint8_t> data) {
    constexpr std::size_t kBlock = 4096 / sizeof(T);
    T in[kBlock + 1] = {};  // in[0]: the last value of the block before
    T out[kBlock];
    std::uint8_t* p = data.data();
    for (std::size_t left = data.size() / sizeof(T); left > 0;) {
        const std::size_t n = std::min(left, kBlock);
        std::memcpy(in + 1, p, n * sizeof(T));
        // Always the whole block: a fixed count lets the compiler use vectors.
        // The differences past n come from older values and are not kept.
        for (std::size_t i = 0; i < kBlock; ++i) out[i] = static_cast<T>(in[i + 1] - in[i]);
        std::memcpy(p, out, n * sizeof(T));
        in[0] = in[n];
        p += n * sizeof(T);
        left -= n;
    }
}

void deltaEncode8(std::span<std::uint8_t> data) {
    deltaEncodeBlocks<std::uint8_t>(data);
}
void deltaEncode16(std::span<std::uint8_t> data) {
    if constexpr (std::endian::native == std::endian::little) {
        deltaEncodeBlocks<std::uint16_t>(data);
    } else {
        std::uint8_t* p = data.data();
        std::uint16_t previous = 0;
        for (std::size_t i = 0; i < data.size() / 2; ++i, p += 2) {
            const auto value = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
            const auto delta = static_cast<std::uint16_t>(value - previous);
            p[0] = static_cast<std::uint8_t>(delta);
            p[1] = static_cast<std::uint8_t>(delta >> 8);
            previous = value;
        }
    }
}

}  // namespace samples

}  // namespace korvalin
