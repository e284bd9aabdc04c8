// The patch loader on patches built in code: instrument numbering, the search
// for the wanted instrument, key ranges, wave fields and broken files.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "patches/Patches.h"
#include "support/PatchBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

using test::PatchBuilder;
using test::PatchBytes;
using test::PatchWave;

class PatchLoaderTest : public testing::Test {
  protected:
    PatchLoaderTest() { reset(); }

    void reset() {
        run = RunState{};
        file = FileState{};
        file.timing.bpm = 125;
        out = CaptureConsole{};
    }

    // Gives map entry `mapIndex` the next instrument number, with a patch
    // file written from `patch` (none: no patch.cfg entry).
    void use(std::size_t mapIndex, const PatchBytes* patch, std::uint32_t patchInstrument = 0,
             std::int16_t highestNote = 60) {
        PatchMapEntry& entry = run.patchMap[mapIndex];
        entry = {static_cast<std::uint8_t>(file.nextInstrument++),
                 false,
                 "",
                 1000,
                 patchInstrument,
                 highestNote};
        if (patch) {
            const std::string name = "p" + std::to_string(mapIndex) + ".pat";
            dir.write(name, *patch);
            entry.hasPath = true;
            entry.patchPath = (dir / name).string();
        }
    }

    // Loads a single program whose patch is `patch`.
    Status loadOne(const PatchBuilder& patch, std::uint32_t patchInstrument = 0,
                   std::int16_t highestNote = 60, std::size_t mapIndex = 0) {
        const PatchBytes bytes = patch.bytes();
        use(mapIndex, &bytes, patchInstrument, highestNote);
        return initPatches(run, file, out);
    }
    const SampleRecord& sample(std::size_t i = 0) const { return file.instruments[0].samples[i]; }

    test::TempDir dir;
    RunState run;
    FileState file;
    CaptureConsole out;
};

PatchBuilder oneWavePatch(const PatchWave& wave = PatchWave::pcm8({0, 1, 2, 3})) {
    PatchBuilder patch;
    patch.instrument(0).layer().wave(wave);
    return patch;
}

TEST_F(PatchLoaderTest, UnmappedInstrumentIsDroppedAndLaterNumbersCloseUp) {
    const PatchBytes patch = oneWavePatch().bytes();
    use(0, &patch);
    use(5, nullptr);
    use(kPercussionBase + 36, &patch);
    ASSERT_EQ(initPatches(run, file, out), Status::Ok);
    EXPECT_EQ(out.out,
              "Instruments used: 3\nInitializing Patches.\n"
              "    WARNING: Midi instrument 5 has no entry in patch.cfg!.\n");
    EXPECT_EQ(file.instruments.size(), 2u);
    EXPECT_EQ(file.nextInstrument, 3u);
    EXPECT_EQ(run.patchMap[5].instrument, 0);
    EXPECT_EQ(run.patchMap[kPercussionBase + 36].instrument, 2);
    EXPECT_EQ(file.instruments[0].drumNote, 1u);
    EXPECT_EQ(file.instruments[1].drumNote, 37u);

    // With nothing mapped, or nothing used, no instrument is left.
    reset();
    use(0, nullptr);
    use(1, nullptr);
    ASSERT_EQ(initPatches(run, file, out), Status::Ok);
    EXPECT_EQ(out.out,
              "Instruments used: 2\nInitializing Patches"
              "\n    WARNING: Midi instrument 0 has no entry in patch.cfg!"
              "\n    WARNING: Midi instrument 1 has no entry in patch.cfg!.\n");
    EXPECT_TRUE(file.instruments.empty());
    EXPECT_EQ(file.nextInstrument, 1u);
    reset();
    ASSERT_EQ(initPatches(run, file, out), Status::Ok);
    EXPECT_EQ(out.out, "Instruments used: 0\nInitializing Patches\n");
}

TEST_F(PatchLoaderTest, MissingPatchFileFailsTheStage) {
    use(0, nullptr);
    run.patchMap[0].hasPath = true;
    run.patchMap[0].patchPath = (dir / "absent.pat").string();
    EXPECT_EQ(initPatches(run, file, out), Status::Failed);
    EXPECT_EQ(out.err, (dir / "absent.pat").string() + ": No such file or directory\n");
}

TEST_F(PatchLoaderTest, BrokenPatchFilesEndTheProcess) {
    const std::string invalid = "is invalid!\n", absent = "does not contain instrument 0!\n";
    const auto instrument1 = [](std::optional<std::uint32_t> size) {
        PatchBuilder patch;
        auto& instrument = patch.instrument(1);
        instrument.declaredSize = size;
        instrument.layer().wave(PatchWave::pcm8({1}));
        return patch.bytes();
    };
    const PatchBuilder good = oneWavePatch();
    // Patch header 129 bytes, instrument header 63, layer header 47, wave header 96.
    const std::size_t waves = 129 + 63 + 47;
    const struct {
        const char* name;
        PatchBytes bytes;
        std::string message;
    } cases[] = {
        {"empty file", {}, invalid},
        {"unknown header", oneWavePatch().header("GF1PATCH200").bytes(), invalid},
        {"unknown id", oneWavePatch().id("ID#000003").bytes(), invalid},
        {"patch header cut", good.truncated(100), invalid},
        {"instrument header cut", good.truncated(129 + 30), invalid},
        {"layer header cut", good.truncated(129 + 63 + 10), invalid},
        {"wave header cut", good.truncated(waves + 50), invalid},
        {"wave data cut", good.truncated(waves + 96 + 2), invalid},
        {"wave size past the end", oneWavePatch(PatchWave::pcm8({1, 2, 3}).size(1000)).bytes(),
         invalid},
        {"instrument size below its header", instrument1(20), invalid},
        {"wanted instrument absent", instrument1(std::nullopt), absent},
        {"instrument size past the end", instrument1(0x7FFFFFFF), absent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        file.instruments.resize(1);
        EXPECT_EQ(readPatchInstrument(run, file, 0, 0, "x.pat", c.bytes, out), Status::Abort);
        EXPECT_TRUE(out.out.starts_with("\n    ERROR: Patch file x.pat ")) << out.out;
        EXPECT_TRUE(out.out.ends_with(c.message)) << out.out;
    }
}

TEST_F(PatchLoaderTest, WaveKeyRangesFillTheKeymap) {
    PatchBuilder patch;
    patch.instrument(0)
        .layer()
        .wave(PatchWave::pcm8({1}).keys(261626, 0xFFFFFFFF))  // above every table entry
        .wave(PatchWave::pcm8({1}).keys(1000, 261625));       // below the table's second entry
    ASSERT_EQ(loadOne(patch), Status::Ok);
    for (std::size_t key = 0; key < 96; ++key)
        EXPECT_EQ(file.instruments[0].keymap[key], key >= 24 && key <= 71 ? 1 : 0) << "key " << key;
}

TEST_F(PatchLoaderTest, HighestAllowedSampleRate) {
    // 65535 Hz at root 100000 has relative note 40; 44100 Hz at 261626 has 16.
    const struct {
        const char* name;
        std::size_t mapIndex;
        std::uint16_t sampleRate;
        std::uint32_t root;
        std::int16_t highestNote;
        std::uint32_t maxRate;
    } cases[] = {
        {"top 130 halves the rate", 0, 65535, 100000, 90, 32767},
        {"top 120 never lifts the maximum", 0, 65535, 100000, 80, 48000},
        {"top 76 keeps the maximum", 0, 44100, 261626, 60, 48000},
        {"percussion keeps the maximum", kPercussionBase + 40, 65535, 100000, 90, 48000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        ASSERT_EQ(loadOne(oneWavePatch(PatchWave::pcm8({1}).pitch(c.sampleRate, c.root)), 0,
                          c.highestNote, c.mapIndex),
                  Status::Ok);
        EXPECT_EQ(sample().maxRate, c.maxRate);
    }
}

TEST_F(PatchLoaderTest, EmptyLayerReadsNoWaveAndVibratoIsDividedPerLayer) {
    PatchBuilder patch;
    auto& instrument = patch.instrument(0);
    instrument.layer();  // wave count 0
    instrument.layer()
        .wave(PatchWave::pcm8({5, 6, 7}).named("real").vibrato(30, 40, 100))
        .wave(PatchWave::pcm8({1}).vibrato(50, 20, 50));
    ASSERT_EQ(loadOne(patch), Status::Ok);
    const InstrumentRecord& loaded = file.instruments[0];
    ASSERT_EQ(loaded.sampleCount, 2);
    EXPECT_STREQ(sample().name.data(), "real");
    EXPECT_EQ(sample().byteLength, 3u);
    // The largest of the layer's values: rate 40 / 4, depth 100 / 16, sweep as is.
    EXPECT_EQ(std::tuple(loaded.vibratoRate, loaded.vibratoDepth, loaded.vibratoSweep),
              std::tuple(10, 6, 50));
}

TEST_F(PatchLoaderTest, FindsTheWantedInstrumentBehindAnotherAndReadsItsWave) {
    PatchWave wave = PatchWave::pcm16({0, 100, 200, 300, 400}).loop(2, 8).named("LONGNAME");
    wave.balance = 12;
    wave.scaleFrequency = -5;
    wave.scaleFactor = 2048;
    PatchBuilder patch;
    patch.instrument(0, "first").layer().wave(PatchWave::pcm8({1, 2, 3, 4, 5}));
    patch.instrument(7, "ABCDEFGHIJKLMNOPQRS").layer().wave(PatchWave::pcm8({9})).wave(wave);
    ASSERT_EQ(loadOne(patch, 7, 100), Status::Ok);

    EXPECT_STREQ(file.instruments[0].name.data(), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(file.instruments[0].transpose, 5);
    ASSERT_EQ(file.instruments[0].sampleCount, 2);
    const SampleRecord& s = sample(1);
    EXPECT_STREQ(s.name.data(), "LONGNAM");
    EXPECT_EQ(std::tuple(s.byteLength, s.frameCount, s.loopStart, s.loopLength),
              std::tuple(10u, 5u, 2u, 6u));
    EXPECT_EQ(std::tuple(s.volume, s.panning, s.type),
              std::tuple(63, 192, kSample16Bit | kLoopForward));
    EXPECT_EQ(std::tuple(s.scaleRoot, s.scaleFactor, s.relativeNote),
              std::tuple(-5, 2048u, 16 + 5));
    // Behind the first instrument (63 + 47 + 96 + 5 bytes) and the first wave.
    EXPECT_EQ(s.dataOffset, 129u + 211 + 63 + 47 + 96 + 1 + 96);
}

TEST_F(PatchLoaderTest, VolumeTypeAndLoopOfAWave) {
    // The wave holds 100 bytes; loops reaching outside it are pulled back in.
    const struct {
        const char* name;
        std::uint16_t masterVolume;
        std::uint8_t modes;
        std::uint32_t loopStart, loopEnd;
        std::uint8_t volume, type;
        std::uint32_t loopStartOut, loopLengthOut;
    } cases[] = {
        {"looping", 127, 0x04, 10, 90, 63, 0x01, 10, 80},
        {"master volume 65535", 65535, 0x04, 10, 90, 64, 0x01, 10, 80},
        {"loop end past the wave", 127, 0x04, 50, 500, 63, 0x01, 50, 50},
        {"loop past the wave", 127, 0x04, 200, 300, 63, 0x01, 100, 0},
        {"loop end before its start", 127, 0x04, 80, 60, 63, 0x01, 80, 0},
        {"looping bidirectional", 127, 0x0C, 0, 4, 63, 0x02, 0, 4},
        {"16-bit unsigned", 127, 0x03, 0, 0, 63, 0x30, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        PatchWave wave = PatchWave::pcm8(std::vector<int>(100, 1)).withModes(c.modes);
        wave.loopStart = c.loopStart;
        wave.loopEnd = c.loopEnd;
        PatchBuilder patch = oneWavePatch(wave);
        patch.masterVolume(c.masterVolume);
        ASSERT_EQ(loadOne(patch), Status::Ok);
        EXPECT_EQ(
            std::tuple(sample().volume, sample().type, sample().loopStart, sample().loopLength),
            std::tuple(c.volume, c.type, c.loopStartOut, c.loopLengthOut));
    }
}

}  // namespace
}  // namespace korvalin
