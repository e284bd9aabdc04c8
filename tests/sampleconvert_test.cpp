// Pitch, envelope and sample-data conversion on worked values.
#include <gtest/gtest.h>

#include <vector>

#include "patches/Patches.h"

namespace korvalin {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes16(const std::vector<int>& values) {
    Bytes out;
    for (int v : values) putU16LE(out, static_cast<std::uint16_t>(v));
    return out;
}

TEST(ComputePitch, RelativeNoteAndFinetune) {
    struct Case {
        const char* name;
        std::uint32_t sampleRate, root;
        std::int16_t transpose;
        int relativeNote, finetune;
    };
    const Case cases[] = {
        {"44100 Hz at middle C", 44100, 261626, 0, 16, 100},
        {"transposed by 3", 44100, 261626, 3, 19, 100},
        {"half the rate", 22050, 261626, 0, 4, 100},
        {"reference rate and root", 8363, 138591, 0, -1, 0},
        {"root 0 counts as the reference", 8363, 0, 0, -1, 0},
        {"rate 0", 0, 261626, 0, -49, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleRecord sample;
        sample.sampleRate = c.sampleRate;
        sample.rootFrequency = c.root;
        computePitch(sample, c.transpose);
        EXPECT_EQ(sample.relativeNote, c.relativeNote);
        EXPECT_EQ(sample.finetune, c.finetune);
    }
}

struct EnvelopeCase {
    const char* name;
    WaveEnvelope wave;
    std::vector<EnvelopePoint> points;
    int sustain, loopStart, loopEnd, type;
};

void expectEnvelope(const InstrumentRecord& instrument, const EnvelopeCase& c) {
    ASSERT_EQ(instrument.volumePointCount, c.points.size());
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(instrument.volumeEnvelope[i].x, c.points[i].x);
        EXPECT_EQ(instrument.volumeEnvelope[i].y, c.points[i].y);
    }
    EXPECT_EQ(instrument.volumeSustainPoint, c.sustain);
    EXPECT_EQ(instrument.volumeLoopStart, c.loopStart);
    EXPECT_EQ(instrument.volumeLoopEnd, c.loopEnd);
    EXPECT_EQ(instrument.volumeType, c.type);
}

const WaveEnvelope kReleaseExample{{0x7F, 0xBF, 0xBF, 0xDF, 0xFF, 0xFF}, {250, 245, 240, 20, 10, 5}, 0, 0, 0x64};
const WaveEnvelope kTremoloExample{{0x3F, 0x3F, 0x3F, 0x1F, 0x3F, 0x3F}, {245, 240, 230, 8, 8, 8}, 40, 100, 0x64};

TEST(ConvertEnvelope, PointsSustainAndLoop) {
    const EnvelopeCase cases[] = {
        {"sustained release", kReleaseExample, {{0, 53}, {1, 43}, {2, 33}, {67, 0}}, 2, 0, 0, 3},
        {"tremolo period behind the sustain point", kTremoloExample,
         {{0, 43}, {1, 33}, {2, 22}, {10, 31}, {18, 31}, {35, 13}, {43, 13}, {52, 22}, {53, 0}},
         7, 2, 7, 7},
        {"envelope off", {kReleaseExample.rates, kReleaseExample.offsets, 0, 0, 0x04}, {}, 0, 0, 0, 0},
        {"no sustain", {kReleaseExample.rates, kReleaseExample.offsets, 40, 100, 0x44},
         {{0, 53}, {1, 43}, {2, 33}, {67, 0}}, 0, 0, 0, 1},
        {"full and zero offsets", {{0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F}, {0xFF, 0xFF, 0xFF, 0, 0, 0}, 0, 0, 0x40},
         {{0, 63}, {1, 63}, {2, 63}, {3, 0}}, 0, 0, 0, 1},
        // Silent after the first stage: the sustain point is the last point.
        {"silence before the sustain stage", {{0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F}, {250, 10, 10, 10, 10, 10}, 0, 0, 0x60},
         {{0, 53}, {1, 0}}, 1, 0, 0, 3},
        {"silence before the sustain stage, with tremolo", {{0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F}, {250, 10, 10, 10, 10, 10}, 40, 100, 0x60},
         {{0, 53}, {1, 0}, {9, 9}, {17, 9}, {34, 0}, {42, 0}, {51, 0}}, 6, 1, 6, 7},
    };
    for (const EnvelopeCase& c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentRecord instrument;
        convertEnvelope(instrument, c.wave, 125, 1000, 1000, 0);
        expectEnvelope(instrument, c);
        EXPECT_LT(instrument.volumeSustainPoint, std::max<int>(instrument.volumePointCount, 1));
        EXPECT_LT(instrument.volumeLoopEnd, std::max<int>(instrument.volumePointCount, 1));
    }
}

TEST(ConvertEnvelope, FadeoutAndReleaseTime) {
    struct Case {
        const char* name;
        WaveEnvelope wave;
        std::uint32_t releaseFactor;
        std::size_t sampleIndex;
        int fadeout;
        std::uint32_t releaseTime;
    };
    const Case cases[] = {
        {"release sum 1351 ms kept as 327", kReleaseExample, 1000, 0, 2978, 11},
        {"only the first wave sets the fadeout", kReleaseExample, 1000, 1, 0, 0},
        {"a release too long for a fadeout", kReleaseExample, 4000000000u, 0, 0, 32768},
        {"an instant release", {{0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F}, {0, 0, 0, 0, 0, 0}, 0, 0, 0x40}, 1000, 0, 4095, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentRecord instrument;
        convertEnvelope(instrument, c.wave, 125, 1000, c.releaseFactor, c.sampleIndex);
        EXPECT_EQ(instrument.volumeFadeout, c.fadeout);
        EXPECT_EQ(instrument.releaseTime, c.releaseTime);
    }
}

TEST(ConvertEnvelope, ZeroIncrementTakesTheSlowestRate) {
    for (std::uint8_t range = 0; range < 4; ++range) {
        SCOPED_TRACE(range);
        const auto zero = static_cast<std::uint8_t>(range << 6);
        const auto one = static_cast<std::uint8_t>(zero | 1);
        WaveEnvelope slowest{{zero, zero, zero, zero, zero, zero}, {250, 200, 150, 100, 50, 0}, 0, 0, 0x60};
        WaveEnvelope increment1{{one, one, one, one, one, one}, slowest.offsets, 0, 0, 0x60};
        InstrumentRecord a, b;
        convertEnvelope(a, slowest, 125, 1000, 1000, 0);
        convertEnvelope(b, increment1, 125, 1000, 1000, 0);
        ASSERT_EQ(a.volumePointCount, b.volumePointCount);
        for (std::size_t i = 0; i < a.volumePointCount; ++i) EXPECT_EQ(a.volumeEnvelope[i].x, b.volumeEnvelope[i].x);
        EXPECT_EQ(a.volumeFadeout, b.volumeFadeout);
    }
}

TEST(ScaleEnvelopes, CommonPeakOf63) {
    FileState file;
    file.instruments.resize(2);
    convertEnvelope(file.instruments[0], kReleaseExample, 125, 1000, 1000, 0);
    file.instruments[1].volumePointCount = 1;
    file.instruments[1].volumeEnvelope[0] = {0, 20};  // envelope off: not part of the peak

    FileState off = file;
    off.instruments[0].volumeType = 0;
    scaleEnvelopes(off);
    EXPECT_EQ(off.instruments[0].volumeEnvelope[0].y, 53);
    EXPECT_EQ(off.instruments[1].volumeEnvelope[0].y, 20);

    scaleEnvelopes(file);
    EXPECT_EQ(file.instruments[0].volumeEnvelope[0].y, 63);
    EXPECT_EQ(file.instruments[0].volumeEnvelope[1].y, 43 * 63 / 53);
    EXPECT_EQ(file.instruments[1].volumeEnvelope[0].y, 20 * 63 / 53);
}

TEST(SampleSteps, SignedConversion) {
    Bytes eight{0x00, 0x80, 0xFF};
    samples::toSigned8(eight);
    EXPECT_EQ(eight, (Bytes{0x80, 0x00, 0x7F}));
    Bytes sixteen = bytes16({0x0000, 0x8000, 0xFFFF});
    samples::toSigned16(sixteen);
    EXPECT_EQ(sixteen, bytes16({0x8000, 0x0000, 0x7FFF}));
}

TEST(SampleSteps, Resampling) {
    struct Case {
        const char* name;
        bool wide;
        std::vector<int> in;
        float step;
        std::vector<int> out;
        std::size_t consumed;
    };
    const Case cases[] = {
        {"every second value", false, {0, 10, 20, 30, 40}, 2.0f, {0, 20, 40}, 6},
        {"interpolated", false, {0, 10, 20, 30}, 1.5f, {0, 15, 30}, 4},
        // The last value has no successor and is used again.
        {"between the last value and itself", false, {0, 100}, 1.5f, {0, 100}, 3},
        {"negative values truncate toward zero", false, {-1, -2, -4}, 1.5f, {-1, -3}, 3},
        {"16-bit", true, {1000, -1000, 3000, 5000}, 1.5f, {1000, 1000, 5000}, 4},
        {"a much lower rate", false, {5, 6, 7}, 1000.0f, {5}, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes data;
        for (int v : c.in) {
            if (c.wide) putU16LE(data, static_cast<std::uint16_t>(v));
            else data.push_back(static_cast<std::uint8_t>(v));
        }
        std::size_t consumed = 0;
        const std::size_t written = c.wide ? samples::resample16(data, c.step, consumed)
                                           : samples::resample8(data, c.step, consumed);
        ASSERT_EQ(written, c.out.size());
        EXPECT_EQ(consumed, c.consumed);
        for (std::size_t i = 0; i < written; ++i) {
            const int value = c.wide ? static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8))
                                     : static_cast<std::int8_t>(data[i]);
            EXPECT_EQ(value, c.out[i]) << "value " << i;
        }
    }
}

TEST(SampleSteps, ReductionNormalisationAndDeltas) {
    Bytes reduce = bytes16({0x1234, -2, 0x7FFF});
    EXPECT_EQ(samples::reduceTo8Bit(reduce), 3u);
    EXPECT_EQ(Bytes(reduce.begin(), reduce.begin() + 3), (Bytes{0x12, 0xFF, 0x7F}));

    Bytes silent{0, 0, 0};
    samples::normalize8(silent);
    EXPECT_EQ(silent, (Bytes{0, 0, 0}));
    Bytes quiet{10, static_cast<std::uint8_t>(-20)};
    samples::normalize8(quiet);
    EXPECT_EQ(quiet, (Bytes{63, static_cast<std::uint8_t>(-127)}));
    Bytes quiet16 = bytes16({100, -200});
    samples::normalize16(quiet16);
    EXPECT_EQ(quiet16, bytes16({16383, -32767}));

    Bytes delta{10, 5, static_cast<std::uint8_t>(-3), 127};
    samples::deltaEncode8(delta);
    EXPECT_EQ(delta, (Bytes{10, static_cast<std::uint8_t>(-5), static_cast<std::uint8_t>(-8), 130}));
    Bytes delta16 = bytes16({1000, -1000, 32767});
    samples::deltaEncode16(delta16);
    EXPECT_EQ(delta16, bytes16({1000, -2000, 33767}));
}

TEST(FitLoop, LoopsStayInsideTheSample) {
    struct Case {
        const char* name;
        std::uint8_t type;
        std::uint32_t length, loopStart, loopLength;
        std::uint8_t typeOut;
        std::uint32_t loopStartOut, loopLengthOut;
    };
    const Case cases[] = {
        {"inside", 0x01, 100, 10, 50, 0x01, 10, 50},
        {"odd 16-bit loop", 0x11, 20, 3, 7, 0x11, 2, 6},
        {"past the end", 0x01, 50, 10, 100, 0x01, 10, 40},
        {"starting past the end", 0x02, 50, 60, 10, 0x00, 0, 0},
        {"empty", 0x01, 50, 10, 0, 0x00, 0, 0},
        {"one byte of 16-bit data", 0x11, 20, 4, 1, 0x10, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleRecord sample;
        sample.type = c.type;
        sample.byteLength = c.length;
        sample.loopStart = c.loopStart;
        sample.loopLength = c.loopLength;
        fitLoop(sample);
        EXPECT_EQ(sample.type, c.typeOut);
        EXPECT_EQ(sample.loopStart, c.loopStartOut);
        EXPECT_EQ(sample.loopLength, c.loopLengthOut);
    }
}

SampleRecord rampSample16(std::size_t frames, std::uint32_t rate, std::uint32_t maxRate) {
    SampleRecord sample;
    sample.used = true;
    sample.type = kSample16Bit | kSampleUnsigned | kLoopForward;
    sample.sampleRate = rate;
    sample.maxRate = maxRate;
    sample.rootFrequency = 261626;
    for (std::size_t i = 0; i < frames; ++i)
        putU16LE(sample.data, static_cast<std::uint16_t>(0x8000 + i * 32));  // unsigned, signed i * 32
    sample.byteLength = static_cast<std::uint32_t>(sample.data.size());
    sample.loopStart = 402;
    sample.loopLength = 1000;
    return sample;
}

TEST(ConvertSamples, Unsigned16BitTo8BitAtHalfTheRate) {
    InstrumentRecord instrument;
    instrument.samples.push_back(rampSample16(1000, 44100, 22050));
    ConversionSettings settings;
    settings.optionFlags = 0;  // -8bit
    convertSamples(instrument, settings);

    const SampleRecord& sample = instrument.samples[0];
    EXPECT_EQ(sample.type, kLoopForward);
    EXPECT_EQ(sample.frameCount, 500u);
    EXPECT_EQ(sample.byteLength, 500u);
    EXPECT_EQ(sample.data.size(), 500u);
    EXPECT_EQ(sample.sampleRate, 22050u);
    // 402 * 500 / 1000 = 201, made even before halving.
    EXPECT_EQ(sample.loopStart, 100u);
    EXPECT_EQ(sample.loopLength, 250u);
    // Every second value (64 k) keeps its high byte, delta encoded.
    int value = 0;
    for (std::size_t k = 0; k < sample.data.size(); ++k) {
        value = static_cast<std::int8_t>(value + static_cast<std::int8_t>(sample.data[k]));
        ASSERT_EQ(value, static_cast<int>(64 * k) >> 8) << "value " << k;
    }
}

TEST(ConvertSamples, SettingsAndDegenerateSamples) {
    struct Case {
        const char* name;
        std::size_t frames;
        std::uint32_t maxRate;
        std::uint8_t flags;
        std::uint32_t byteLength, sampleRate;
        std::uint8_t type;
    };
    const Case cases[] = {
        {"kept at 16 bits", 1000, 48000, kKeep16Bit, 2000, 44100, kSample16Bit | kLoopForward},
        {"no rate limit", 1000, 0, kKeep16Bit, 2000, 44100, kSample16Bit | kLoopForward},
        {"empty sample", 0, 22050, kKeep16Bit, 0, 44100, kSample16Bit},
        {"normalised", 1000, 48000, kKeep16Bit | kTweakVolume, 2000, 44100, kSample16Bit | kLoopForward},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentRecord instrument;
        instrument.samples.push_back(rampSample16(c.frames, 44100, c.maxRate));
        instrument.samples.push_back(rampSample16(10, 44100, c.maxRate));
        instrument.samples[1].used = false;
        ConversionSettings settings;
        settings.optionFlags = c.flags;
        convertSamples(instrument, settings);
        const SampleRecord& sample = instrument.samples[0];
        EXPECT_EQ(sample.byteLength, c.byteLength);
        EXPECT_EQ(sample.data.size(), c.byteLength);
        EXPECT_EQ(sample.sampleRate, c.sampleRate);
        EXPECT_EQ(sample.type, c.type);
        EXPECT_LE(sample.loopStart + sample.loopLength, sample.byteLength);
        // An unused sample is left alone.
        EXPECT_EQ(instrument.samples[1].type, kSample16Bit | kSampleUnsigned | kLoopForward);
        if (c.flags & kTweakVolume) {
            // The peak (signed 999 * 32) becomes 32767; the first delta is the first value.
            const int last = static_cast<std::int16_t>(sample.data[2] | (sample.data[3] << 8));
            EXPECT_EQ(last, 32 * 32767 / (999 * 32));
        }
    }
}

}  // namespace
}  // namespace korvalin
