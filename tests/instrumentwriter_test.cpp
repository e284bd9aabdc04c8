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
using test::PatchWave;
using Bytes = std::vector<std::uint8_t>;

class InstrumentWriterTest : public testing::Test {
  protected:
    InstrumentWriterTest() { reset(); }

    void reset() {
        run = RunState{};
        file = FileState{};
        file.timing.bpm = 125;
        sink = MemorySink{};
        out = CaptureConsole{};
    }

    // Program `mapIndex` becomes the next instrument, played from `patch`.
    void use(std::size_t mapIndex, const PatchBuilder& patch) {
        // Appended piecewise: GCC 12 in Release sees a false -Wrestrict
        // overlap in "p" + std::to_string(...).
        std::string name = "p";
        name += std::to_string(mapIndex);
        name += ".pat";
        dir.write(name, patch.bytes());
        run.patchMap[mapIndex] = {static_cast<std::uint8_t>(file.nextInstrument++),
                                  true,
                                  (dir / name).string(),
                                  1000,
                                  0,
                                  60};
    }

    // Loads the patches and marks the given samples of the first instrument as played.
    void load(const std::vector<std::size_t>& played) {
        CaptureConsole loading;
        ASSERT_EQ(initPatches(run, file, loading), Status::Ok) << loading.all;
        for (std::size_t s : played) file.instruments[0].samples[s].used = true;
    }

    test::TempDir dir;
    RunState run;
    FileState file;
    MemorySink sink;
    CaptureConsole out;
};

void putName(Bytes& out, const char* name) {
    Bytes field(22, 0);
    std::memcpy(field.data(), name, std::strlen(name));
    putBytes(out, field.data(), field.size());
}

// A byte-exact instrument header with the given keymap and samples (named and
// sized), its volume envelope off, fadeout 4095. Every sample has volume 63,
// no loop, and 44100 Hz at middle C: finetune 100, relative note 16; balance 7
// pans to 112.
Bytes instrumentHeader(const char* name, const std::array<std::uint8_t, 96>& keymap,
                       const std::vector<std::pair<std::uint32_t, const char*>>& samples) {
    Bytes out;
    putU32LE(out, 263);
    putName(out, name);
    putU8(out, 0);
    putU16LE(out, static_cast<std::uint16_t>(samples.size()));
    putU32LE(out, 40);
    putBytes(out, keymap.data(), keymap.size());
    out.insert(out.end(), 48 + 48 + 14,
               0);  // both envelopes; counts, sustain, loops, types, vibrato
    putU16LE(out, 4095);
    out.insert(out.end(), 22, 0);
    for (const auto& [length, sampleName] : samples) {
        putU32LE(out, length);
        out.insert(out.end(), 8, 0);  // loop start and length
        for (std::uint8_t v : {63, 100, 0, 112, 16, 0}) putU8(out, v);
        putName(out, sampleName);
    }
    return out;
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
    load({0, 2});
    ASSERT_EQ(writePatches(run, file, sink, out), Status::Ok);
    EXPECT_EQ(out.all, "Writing patches..\n");

    // Keys of B now play C, which moved to place 1.
    std::array<std::uint8_t, 96> keymap{};
    std::fill(keymap.begin() + 72, keymap.end(), 1);
    Bytes expected = instrumentHeader("abc", keymap, {{4, "A"}, {2, "C"}});
    for (std::uint8_t delta : {1, 1, 1, 1, 0xFF, 2}) putU8(expected, delta);
    // The unplayed instrument is its header alone.
    const Bytes unplayed = instrumentHeader("abc", {}, {});
    expected.insert(expected.end(), unplayed.begin(), unplayed.end());
    const auto diff =
        std::mismatch(sink.bytes.begin(), sink.bytes.end(), expected.begin(), expected.end());
    EXPECT_EQ(sink.bytes, expected) << "first difference at " << (diff.first - sink.bytes.begin());
    EXPECT_EQ(file.instruments[0].writtenSampleCount, 2);
    EXPECT_EQ(file.instruments[1].writtenSampleCount, 0);
    EXPECT_TRUE(file.instruments[0].samples[0].data.empty());
}

TEST_F(InstrumentWriterTest, KeymapNamesOnlyWrittenSamples) {
    const struct {
        const char* name;
        std::size_t waves;
        std::vector<std::size_t> played;
    } cases[] = {
        {"trailing samples unplayed", 3, {0}},
        {"leading samples unplayed", 3, {2}},
        {"more than 16 samples played", 21, {0,  1,  2,  3,  4,  5,  6,  7,  8,  9, 10,
                                             11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        PatchBuilder patch;
        auto& layer = patch.instrument(0).layer();
        for (std::size_t i = 0; i < c.waves; ++i)
            layer.wave(PatchWave::pcm8({1, 2}).keys(
                noteFrequencyTable[1 + 4 * i],
                i + 1 == c.waves ? 0xFFFFFFFF : noteFrequencyTable[4 + 4 * i]));
        use(0, patch);
        load(c.played);
        ASSERT_EQ(writePatches(run, file, sink, out), Status::Ok);
        const InstrumentRecord& instrument = file.instruments[0];
        EXPECT_EQ(instrument.writtenSampleCount, c.played.size());
        ASSERT_EQ(sink.bytes.size(), 263u + c.played.size() * (40u + 2u));
        for (std::size_t key = 0; key < 96; ++key) {
            EXPECT_LT(sink.bytes[33 + key], c.played.size()) << "key " << key;
            EXPECT_EQ(instrument.keymap[key], sink.bytes[33 + key]);
        }
    }
}

TEST_F(InstrumentWriterTest, Failures) {
    PatchBuilder patch;
    patch.instrument(0).layer().wave(PatchWave::pcm8(std::vector<int>(100, 3)));
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        void (*change)(const fs::path& patchFile, MemorySink& sink);
        Status status;
        const char* message;
    } cases[] = {
        {"patch file gone", [](const fs::path& p, MemorySink&) { fs::remove(p); }, Status::Failed,
         ": No such file or directory\n"},
        {"patch file cut short since loading",
         [](const fs::path& p, MemorySink&) { fs::resize_file(p, 400); }, Status::Abort,
         "    ERROR: Sample data of patch file "},
        {"output full", [](const fs::path&, MemorySink& s) { s.limit = 100; }, Status::Failed,
         "ERROR: No space left on device\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        use(0, patch);
        load({0});
        c.change(run.patchMap[0].patchPath, sink);
        EXPECT_EQ(writePatches(run, file, sink, out), c.status);
        EXPECT_NE(out.all.find(c.message), std::string::npos) << out.all;
    }
}

// Every instrument of the installed freepats set loads and converts into a
// module instrument whose loops, volumes, keymap and envelope are valid.
TEST(Freepats, EveryPatchLoadsAndConverts) {
    const std::filesystem::path root = "/usr/share/midi/freepats";
    ASSERT_TRUE(test::installed(root, "freepats"));
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
            run.patchMap[drum ? kPercussionBase + 40 : 0] = {1, true, path.string(), 1000, 0, 100};
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
                    EXPECT_EQ((sample.loopStart | sample.loopLength | sample.byteLength) % 2, 0u);
                }
                if (sample.type & 3) {
                    EXPECT_GT(sample.loopLength, 0u);
                }
            }
            EXPECT_EQ(sink.bytes.size(), expectedSize);
            for (const std::int16_t entry : instrument.keymap)
                EXPECT_LT(entry, instrument.writtenSampleCount);
            if (instrument.volumeType & kEnvelopeOn) {
                ASSERT_GT(instrument.volumePointCount, 0);
                EXPECT_LE(instrument.volumePointCount, 12);
                EXPECT_LT(std::max(instrument.volumeSustainPoint, instrument.volumeLoopEnd),
                          instrument.volumePointCount);
                for (std::size_t i = 1; i < instrument.volumePointCount; ++i)
                    EXPECT_GT(instrument.volumeEnvelope[i].x, instrument.volumeEnvelope[i - 1].x);
            }
        }
    }
}

}  // namespace
}  // namespace korvalin
