// Pitch, envelope and sample-data conversion on worked values.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "patches/Patches.h"

namespace korvalin {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ComputePitch, RelativeNoteAndFinetune) {
    const struct {
        const char* name;
        std::uint32_t sampleRate, root;
        int relativeNote, finetune;
    } cases[] = {
        {"44100 Hz at middle C", 44100, 261626, 16, 100},
        {"reference rate and root", 8363, 138591, -1, 0},
        {"root 0 counts as the reference", 8363, 0, -1, 0},
        {"rate 0", 0, 261626, -49, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SampleRecord sample;
        sample.sampleRate = c.sampleRate;
        sample.rootFrequency = c.root;
        computePitch(sample, 0);
        EXPECT_EQ(sample.relativeNote, c.relativeNote);
        EXPECT_EQ(sample.finetune, c.finetune);
    }
}

const WaveEnvelope kReleaseExample{
    {0x7F, 0xBF, 0xBF, 0xDF, 0xFF, 0xFF}, {250, 245, 240, 20, 10, 5}, 0, 0, 0x64};
const WaveEnvelope kTremoloExample{
    {0x3F, 0x3F, 0x3F, 0x1F, 0x3F, 0x3F}, {245, 240, 230, 8, 8, 8}, 40, 100, 0x64};
const std::array<std::uint8_t, 6> kFastRates{0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F};

TEST(ConvertEnvelope, PointsSustainAndLoop) {
    const struct {
        const char* name;
        WaveEnvelope wave;
        std::vector<std::pair<int, int>> points;
        int sustain, loopStart, loopEnd, type;
    } cases[] = {
        {"sustained release", kReleaseExample, {{0, 53}, {1, 43}, {2, 33}, {67, 0}}, 2, 0, 0, 3},
        {"tremolo period behind the sustain point",
         kTremoloExample,
         {{0, 43}, {1, 33}, {2, 22}, {10, 31}, {18, 31}, {35, 13}, {43, 13}, {52, 22}, {53, 0}},
         7,
         2,
         7,
         7},
        {"envelope off",
         {kReleaseExample.rates, kReleaseExample.offsets, 0, 0, 0x04},
         {},
         0,
         0,
         0,
         0},
        {"no sustain",
         {kReleaseExample.rates, kReleaseExample.offsets, 40, 100, 0x44},
         {{0, 53}, {1, 43}, {2, 33}, {67, 0}},
         0,
         0,
         0,
         1},
        {"full and zero offsets",
         {kFastRates, {0xFF, 0xFF, 0xFF, 0, 0, 0}, 0, 0, 0x40},
         {{0, 63}, {1, 63}, {2, 63}, {3, 0}},
         0,
         0,
         0,
         1},
        // Silent after the first stage: the sustain point is the last point.
        {"silence before the sustain stage",
         {kFastRates, {250, 10, 10, 10, 10, 10}, 0, 0, 0x60},
         {{0, 53}, {1, 0}},
         1,
         0,
         0,
         3},
        {"silence before the sustain stage, with tremolo",
         {kFastRates, {250, 10, 10, 10, 10, 10}, 40, 100, 0x60},
         {{0, 53}, {1, 0}, {9, 9}, {17, 9}, {34, 0}, {42, 0}, {51, 0}},
         6,
         1,
         6,
         7},
        // An increment of 0 would never arrive: it is taken as 1.
        {"zero increments",
         {{0, 0, 0, 0, 0, 0}, {250, 200, 150, 100, 50, 0}, 0, 0, 0x40},
         {{0, 0}, {4, 53}, {5, 6}, {6, 0}},
         0,
         0,
         0,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentRecord instrument;
        convertEnvelope(instrument, c.wave, 125, 1000, 1000, 0);
        std::vector<std::pair<int, int>> points;
        for (std::size_t i = 0; i < instrument.volumePointCount; ++i)
            points.emplace_back(instrument.volumeEnvelope[i].x, instrument.volumeEnvelope[i].y);
        EXPECT_EQ(points, c.points);
        EXPECT_EQ(std::tuple(instrument.volumeSustainPoint, instrument.volumeLoopStart,
                             instrument.volumeLoopEnd, instrument.volumeType),
                  std::tuple(c.sustain, c.loopStart, c.loopEnd, c.type));
    }
}

TEST(ConvertEnvelope, FadeoutAndReleaseTime) {
    const struct {
        const char* name;
        WaveEnvelope wave;
        std::uint32_t releaseFactor;
        std::size_t sampleIndex;
        int fadeout;
        std::uint32_t releaseTime;
    } cases[] = {
        {"release sum 1351 ms kept as 327", kReleaseExample, 1000, 0, 2978, 11},
        {"only the first wave sets the fadeout", kReleaseExample, 1000, 1, 0, 0},
        {"a release too long for a fadeout", kReleaseExample, 4000000000u, 0, 0, 32768},
        {"an instant release", {kFastRates, {0, 0, 0, 0, 0, 0}, 0, 0, 0x40}, 1000, 0, 4095, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentRecord instrument;
        convertEnvelope(instrument, c.wave, 125, 1000, c.releaseFactor, c.sampleIndex);
        EXPECT_EQ(instrument.volumeFadeout, c.fadeout);
        EXPECT_EQ(instrument.releaseTime, c.releaseTime);
    }
}

TEST(ScaleEnvelopes, CommonPeakOf63) {
    FileState file;
    file.instruments.resize(2);
    convertEnvelope(file.instruments[0], kReleaseExample, 125, 1000, 1000, 0);
    file.instruments[1].volumePointCount = 1;
    file.instruments[1].volumeEnvelope[0] = {0, 20};  // envelope off: not part of the peak

    // With no envelope switched on there is no peak, and nothing changes.
    FileState off = file;
    off.instruments[0].volumeType = 0;
    scaleEnvelopes(off);
    EXPECT_EQ(
        std::tuple(off.instruments[0].volumeEnvelope[0].y, off.instruments[1].volumeEnvelope[0].y),
        std::tuple(53, 20));
    scaleEnvelopes(file);
    EXPECT_EQ(
        std::tuple(file.instruments[0].volumeEnvelope[0].y, file.instruments[0].volumeEnvelope[1].y,
                   file.instruments[1].volumeEnvelope[0].y),
        std::tuple(63, 51, 23));
}

TEST(SampleSteps, Resampling) {
    const struct {
        const char* name;
        std::vector<int> in;
        float step;
        std::vector<int> out;
        std::size_t consumed;
    } cases[] = {
        {"interpolated", {0, 10, 20, 30}, 1.5f, {0, 15, 30}, 4},
        // The last value has no successor and is used again.
        {"between the last value and itself", {0, 100}, 1.5f, {0, 100}, 3},
        {"a much lower rate", {5, 6, 7}, 1000.0f, {5}, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes data(c.in.begin(), c.in.end());
        std::size_t consumed = 0;
        data.resize(samples::resample8(data, c.step, consumed));
        EXPECT_EQ(data, Bytes(c.out.begin(), c.out.end()));
        EXPECT_EQ(consumed, c.consumed);
    }
}

TEST(SampleSteps, DeltaEncodingWrapsAtTheValueWidth) {
    const struct {
        const char* name;
        bool wide;
        Bytes in, out;
    } cases[] = {
        {"8-bit extremes", false, {0x7F, 0x80, 0x00, 0xFF, 0xFF}, {0x7F, 0x01, 0x80, 0xFF, 0x00}},
        {"16-bit extremes, odd byte left alone",
         true,
         {0xFF, 0x7F, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0x12},
         {0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x12}},
        {"empty", true, {}, {}},
    };
    for (const auto& c : cases) {
        Bytes data = c.in;
        c.wide ? samples::deltaEncode16(data) : samples::deltaEncode8(data);
        EXPECT_EQ(data, c.out) << c.name;
    }
}

TEST(FitLoop, LoopsStayInsideTheSample) {
    const struct {
        const char* name;
        std::uint8_t type;
        std::uint32_t length, loopStart, loopLength;
        std::uint8_t typeOut;
        std::uint32_t loopStartOut, loopLengthOut;
    } cases[] = {
        {"inside", 0x01, 100, 10, 50, 0x01, 10, 50},
        {"odd 16-bit loop", 0x11, 20, 3, 7, 0x11, 2, 6},
        {"past the end", 0x01, 50, 10, 100, 0x01, 10, 40},
        {"starting past the end", 0x02, 50, 60, 10, 0x00, 0, 0},
        {"empty", 0x01, 50, 10, 0, 0x00, 0, 0},
        {"one byte of 16-bit data", 0x11, 20, 4, 1, 0x10, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SampleRecord sample;
        sample.type = c.type;
        sample.byteLength = c.length;
        sample.loopStart = c.loopStart;
        sample.loopLength = c.loopLength;
        fitLoop(sample);
        EXPECT_EQ(std::tuple(sample.type, sample.loopStart, sample.loopLength),
                  std::tuple(c.typeOut, c.loopStartOut, c.loopLengthOut));
    }
}

// An unsigned 16-bit ramp (signed value 32 * i) looped from byte 402 over 1000 bytes.
SampleRecord rampSample16(std::size_t frames, std::uint32_t maxRate) {
    SampleRecord sample;
    sample.used = true;
    sample.type = kSample16Bit | kSampleUnsigned | kLoopForward;
    std::tie(sample.sampleRate, sample.maxRate, sample.loopStart, sample.loopLength) =
        std::tuple(44100u, maxRate, 402u, 1000u);
    for (std::size_t i = 0; i < frames; ++i)
        putU16LE(sample.data, static_cast<std::uint16_t>(0x8000 + i * 32));
    sample.byteLength = static_cast<std::uint32_t>(sample.data.size());
    return sample;
}

TEST(ConvertSamples, RateWidthVolumeAndDegenerateSamples) {
    // `last` is the last value, the sum of the written deltas.
    const struct {
        const char* name;
        std::size_t frames;
        std::uint32_t maxRate;
        std::uint8_t flags;
        std::uint32_t byteLength, sampleRate;
        std::uint8_t type;
        std::uint32_t loopStart, loopLength;
        int last;
    } cases[] = {
        // Every second value, its high byte; 402 * 500 / 1000 = 201 made even, then halved.
        {"8 bits at half the rate", 1000, 22050, 0, 500, 22050, kLoopForward, 100, 250,
         64 * 499 >> 8},
        {"no rate limit", 1000, 0, kKeep16Bit, 2000, 44100, kSample16Bit | kLoopForward, 402, 1000,
         32 * 999},
        {"normalised", 1000, 48000, kKeep16Bit | kTweakVolume, 2000, 44100,
         kSample16Bit | kLoopForward, 402, 1000, 32767},
        {"empty sample", 0, 22050, kKeep16Bit | kTweakVolume, 0, 44100, kSample16Bit, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentRecord instrument;
        instrument.samples = {rampSample16(c.frames, c.maxRate), rampSample16(10, c.maxRate)};
        instrument.samples[1].used = false;
        ConversionSettings settings;
        settings.optionFlags = c.flags;
        convertSamples(instrument, settings);
        const SampleRecord& s = instrument.samples[0];
        EXPECT_EQ(std::tuple(s.byteLength, s.data.size(), s.sampleRate, s.type, s.loopStart,
                             s.loopLength),
                  std::tuple(c.byteLength, std::size_t{c.byteLength}, c.sampleRate, c.type,
                             c.loopStart, c.loopLength));
        int last = 0;
        const bool wide = s.type & kSample16Bit;
        for (std::size_t i = 0; i < s.data.size(); i += wide ? 2 : 1)
            last = wide ? static_cast<std::int16_t>(last + (s.data[i] | s.data[i + 1] << 8))
                        : static_cast<std::int8_t>(last + s.data[i]);
        EXPECT_EQ(last, c.last);
        // An unused sample is left alone.
        EXPECT_EQ(instrument.samples[1].type, kSample16Bit | kSampleUnsigned | kLoopForward);
    }
}

}  // namespace
}  // namespace korvalin
