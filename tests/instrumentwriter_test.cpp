// The instrument writer: byte layout of instruments and samples, dropping of
// unplayed samples, failures, and every patch of the installed freepats set.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "patches/Patches.h"
#include "support/PatchBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

using test::PatchBuilder;
using test::PatchBytes;
using test::PatchWave;
using Bytes = std::vector<std::uint8_t>;

class InstrumentWriterTest : public testing::Test {
protected:
    InstrumentWriterTest() { file.timing.bpm = 125; }

    // Program `mapIndex` becomes the next instrument, played from `patch`.
    void use(std::size_t mapIndex, const PatchBuilder& patch) {
        const std::string name = "p" + std::to_string(mapIndex) + ".pat";
        dir.write(name, patch.bytes());
        PatchMapEntry& entry = run.patchMap[mapIndex];
        entry.instrument = static_cast<std::uint8_t>(file.nextInstrument++);
        entry.hasPath = true;
        entry.patchPath = (dir / name).string();
        entry.releaseFactor = 1000;
        entry.highestNote = 60;
    }

    void load() {
        CaptureConsole loading;
        ASSERT_EQ(initPatches(run, file, loading), Status::Ok) << loading.all;
    }

    void play(std::size_t instrument, std::initializer_list<std::size_t> samples) {
        for (std::size_t s : samples) file.instruments[instrument].samples[s].used = true;
    }

    test::TempDir dir;
    RunState run;
    FileState file;
    MemorySink sink;
    CaptureConsole out;
};

// A byte-exact instrument header with the given keymap and samples.
struct ExpectedSample {
    std::uint32_t length;
    std::uint8_t finetune, type, panning, relativeNote;
    const char* name;
};

Bytes instrumentHeader(const char* name, const std::array<std::uint8_t, 96>& keymap,
                       std::uint16_t fadeout, const std::vector<ExpectedSample>& samples) {
    Bytes out;
    putU32LE(out, 263);
    Bytes field(22, 0);
    std::copy(name, name + std::strlen(name), field.begin());
    putBytes(out, field.data(), 22);
    putU8(out, 0);
    putU16LE(out, static_cast<std::uint16_t>(samples.size()));
    putU32LE(out, 40);
    putBytes(out, keymap.data(), 96);
    out.insert(out.end(), 48 + 48, 0);  // both envelopes (volume envelope off)
    out.insert(out.end(), 14, 0);       // counts, sustain, loops, types, vibrato
    putU16LE(out, fadeout);
    out.insert(out.end(), 22, 0);
    for (const auto& s : samples) {
        putU32LE(out, s.length);
        putU32LE(out, 0);
        putU32LE(out, 0);
        putU8(out, 63);
        putU8(out, s.finetune);
        putU8(out, s.type);
        putU8(out, s.panning);
        putU8(out, s.relativeNote);
        putU8(out, 0);
        Bytes sampleName(22, 0);
        std::copy(s.name, s.name + std::strlen(s.name), sampleName.begin());
        putBytes(out, sampleName.data(), 22);
    }
    return out;
}

void expectSameBytes(const Bytes& actual, const Bytes& expected) {
    const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    EXPECT_TRUE(mismatch.first == actual.end() && mismatch.second == expected.end())
        << "first difference at offset " << (mismatch.first - actual.begin()) << " of "
        << actual.size() << " (expected " << expected.size() << " bytes)";
}

TEST_F(InstrumentWriterTest, TwoOfThreeSamplesPlayedAndAnUnplayedInstrument) {
    PatchBuilder abc;
    abc.instrument(0, "abc")
        .layer()
        .wave(PatchWave::pcm8({1, 2, 3, 4}).named("A").keys(0, 261625))
        .wave(PatchWave::pcm8({9, 9, 9}).named("B").keys(261626, 523251))
        .wave(PatchWave::pcm8({-1, 1}).named("C").keys(523252, 0xFFFFFFFF));
    use(0, abc);
    use(1, abc);
    load();
    play(0, {0, 2});

    ASSERT_EQ(writePatches(run, file, sink, out), Status::Ok);
    EXPECT_EQ(out.all, "Writing patches..\n");

    // Keys of B now play C, which moved to place 1.
    std::array<std::uint8_t, 96> keymap{};
    std::fill(keymap.begin() + 72, keymap.end(), 1);
    // 44100 Hz at middle C: relative note 16, finetune 100; balance 7 pans to 112.
    Bytes expected = instrumentHeader("abc", keymap, 4095,
                                      {{4, 100, 0, 112, 16, "A"}, {2, 100, 0, 112, 16, "C"}});
    const Bytes deltas{1, 1, 1, 1, 0xFF, 2};
    expected.insert(expected.end(), deltas.begin(), deltas.end());
    // The unplayed instrument is its header alone.
    const Bytes unplayed = instrumentHeader("abc", {}, 4095, {});
    expected.insert(expected.end(), unplayed.begin(), unplayed.end());
    expectSameBytes(sink.bytes, expected);
    EXPECT_EQ(file.instruments[0].writtenSampleCount, 2);
    EXPECT_EQ(file.instruments[1].writtenSampleCount, 0);
    EXPECT_TRUE(file.instruments[0].samples[0].data.empty());
}

TEST_F(InstrumentWriterTest, KeymapNamesOnlyWrittenSamples) {
    struct Case {
        const char* name;
        std::size_t waves;
        std::vector<std::size_t> played;
        std::uint16_t written;
    };
    const Case cases[] = {
        {"trailing samples unplayed", 3, {0}, 1},
        {"leading samples unplayed", 3, {2}, 1},
        {"more than 16 samples played", 21, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run = RunState{};
        file = FileState{};
        file.timing.bpm = 125;
        sink = MemorySink{};
        PatchBuilder patch;
        auto& layer = patch.instrument(0).layer();
        for (std::size_t i = 0; i < c.waves; ++i) {
            const std::uint32_t low = noteFrequencyTable[1 + 4 * i];
            const std::uint32_t high = i + 1 == c.waves ? 0xFFFFFFFF : noteFrequencyTable[4 + 4 * i];
            layer.wave(PatchWave::pcm8({1, 2}).keys(low, high));
        }
        use(0, patch);
        load();
        for (std::size_t s : c.played) play(0, {s});
        ASSERT_EQ(writePatches(run, file, sink, out), Status::Ok);
        const InstrumentRecord& instrument = file.instruments[0];
        EXPECT_EQ(instrument.writtenSampleCount, c.written);
        for (std::size_t key = 0; key < 96; ++key) {
            EXPECT_LT(sink.bytes[33 + key], c.written) << "key " << key;
            EXPECT_EQ(instrument.keymap[key], sink.bytes[33 + key]);
        }
        EXPECT_EQ(sink.bytes.size(), 263u + c.written * (40u + 2u));
    }
}

TEST_F(InstrumentWriterTest, SixteenBitSampleKeptAtSixteenBits) {
    PatchBuilder patch;
    patch.instrument(0).layer().wave(PatchWave::pcm16({0x1234, -2}).loop(1, 4));
    use(0, patch);
    load();
    play(0, {0});
    ASSERT_EQ(writePatches(run, file, sink, out), Status::Ok);
    const std::size_t sampleHeader = 263;
    EXPECT_EQ(sink.bytes[sampleHeader + 0], 4);       // byte length
    EXPECT_EQ(sink.bytes[sampleHeader + 4], 0);       // loop start made even
    EXPECT_EQ(sink.bytes[sampleHeader + 8], 2);       // loop length made even
    EXPECT_EQ(sink.bytes[sampleHeader + 14], 0x11);   // 16-bit, forward loop
    const Bytes data(sink.bytes.end() - 4, sink.bytes.end());
    EXPECT_EQ(data, (Bytes{0x34, 0x12, 0xCA, 0xED}));  // 0x1234, then -2 - 0x1234
}

TEST_F(InstrumentWriterTest, Failures) {
    PatchBuilder patch;
    patch.instrument(0).layer().wave(PatchWave::pcm8(std::vector<int>(100, 3)));
    struct Case {
        const char* name;
        void (*change)(const std::filesystem::path& patchFile, MemorySink& sink);
        Status status;
        const char* message;
    };
    const Case cases[] = {
        {"patch file gone", [](const std::filesystem::path& p, MemorySink&) { std::filesystem::remove(p); },
         Status::Failed, ": No such file or directory\n"},
        {"patch file cut short since loading",
         [](const std::filesystem::path& p, MemorySink&) { std::filesystem::resize_file(p, 400); },
         Status::Abort, "    ERROR: Sample data of patch file "},
        {"output full", [](const std::filesystem::path&, MemorySink& s) { s.limit = 100; },
         Status::Failed, "ERROR: No space left on device\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run = RunState{};
        file = FileState{};
        file.timing.bpm = 125;
        sink = MemorySink{};
        out = CaptureConsole{};
        use(0, patch);
        load();
        play(0, {0});
        c.change(run.patchMap[0].patchPath, sink);
        EXPECT_EQ(writePatches(run, file, sink, out), c.status);
        EXPECT_NE(out.all.find(c.message), std::string::npos) << out.all;
    }
}

// Every instrument of the installed freepats set loads and converts into a
// module instrument whose loops, volumes, keymap and envelope are valid.
TEST(Freepats, EveryPatchLoadsAndConverts) {
    const std::filesystem::path root = "/usr/share/midi/freepats";
    if (!std::filesystem::exists(root)) GTEST_SKIP() << "freepats not installed";
    std::vector<std::filesystem::path> patches;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.path().extension() == ".pat") patches.push_back(entry.path());
    ASSERT_FALSE(patches.empty());

    for (const std::uint8_t flags : {std::uint8_t{kKeep16Bit}, std::uint8_t{kTweakVolume}}) {
        for (const auto& path : patches) {
            SCOPED_TRACE(path.string() + (flags & kKeep16Bit ? " 16-bit" : " 8-bit"));
            RunState run;
            run.settings.optionFlags = flags;
            run.settings.maxSampleRate = flags & kKeep16Bit ? 48000 : 22050;
            const bool drum = path.parent_path().filename().string().starts_with("Drum");
            const std::size_t mapIndex = drum ? kPercussionBase + 40 : 0;
            run.patchMap[mapIndex] = {1, true, path.string(), 1000, 0, 100};
            FileState file;
            file.timing.bpm = 125;
            file.nextInstrument = 2;
            NullConsole out;
            ASSERT_EQ(initPatches(run, file, out), Status::Ok);
            InstrumentRecord& instrument = file.instruments[0];
            for (auto& sample : instrument.samples) sample.used = true;
            MemorySink sink;
            ASSERT_EQ(writePatches(run, file, sink, out), Status::Ok);

            std::size_t expectedSize = 263 + 40 * instrument.sampleCount;
            for (const auto& sample : instrument.samples) {
                expectedSize += sample.byteLength;
                EXPECT_LE(sample.loopStart + sample.loopLength, sample.byteLength);
                EXPECT_LE(sample.volume, 64);
                if (sample.type & kSample16Bit) {
                    EXPECT_EQ(sample.loopStart % 2, 0u);
                    EXPECT_EQ(sample.loopLength % 2, 0u);
                    EXPECT_EQ(sample.byteLength % 2, 0u);
                }
                if (sample.type & 3) {
                    EXPECT_GT(sample.loopLength, 0u);
                }
            }
            EXPECT_EQ(sink.bytes.size(), expectedSize);
            for (const std::int16_t entry : instrument.keymap) EXPECT_LT(entry, instrument.writtenSampleCount);
            if (instrument.volumeType & kEnvelopeOn) {
                ASSERT_GT(instrument.volumePointCount, 0);
                EXPECT_LE(instrument.volumePointCount, 12);
                EXPECT_LT(instrument.volumeSustainPoint, instrument.volumePointCount);
                EXPECT_LT(instrument.volumeLoopEnd, instrument.volumePointCount);
                for (std::size_t i = 1; i < instrument.volumePointCount; ++i)
                    EXPECT_GT(instrument.volumeEnvelope[i].x, instrument.volumeEnvelope[i - 1].x);
            }
        }
    }
}

}  // namespace
}  // namespace korvalin
