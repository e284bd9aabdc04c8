// The patch loader on patches built in code: instrument numbering, the search
// for the wanted instrument, key ranges, wave fields and broken files.
#include <gtest/gtest.h>

#include <string>

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
    PatchLoaderTest() { file.timing.bpm = 125; }

    // Gives map entry `mapIndex` the next instrument number, with a patch
    // file written from `patch` (none: no patch.cfg entry).
    void use(std::size_t mapIndex, const PatchBytes* patch, std::uint32_t patchInstrument = 0,
             std::int16_t highestNote = 60) {
        PatchMapEntry& entry = run.patchMap[mapIndex];
        entry.instrument = static_cast<std::uint8_t>(file.nextInstrument++);
        entry.highestNote = highestNote;
        entry.releaseFactor = 1000;
        entry.patchInstrument = patchInstrument;
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
    EXPECT_EQ(file.instruments[1].drumNote, 37u);
    EXPECT_EQ(file.instruments[0].drumNote, 1u);
}

TEST_F(PatchLoaderTest, UnmappedTrailingAndAllUnmappedInstruments) {
    struct Case {
        const char* name;
        std::vector<bool> mapped;
        const char* output;
        std::uint32_t kept;
    };
    const Case cases[] = {
        {"last unmapped", {true, false},
         "Instruments used: 2\nInitializing Patches."
         "\n    WARNING: Midi instrument 1 has no entry in patch.cfg!.\n",
         1},
        {"all unmapped", {false, false},
         "Instruments used: 2\nInitializing Patches"
         "\n    WARNING: Midi instrument 0 has no entry in patch.cfg!"
         "\n    WARNING: Midi instrument 1 has no entry in patch.cfg!.\n",
         0},
        {"none used", {}, "Instruments used: 0\nInitializing Patches\n", 0},
    };
    const PatchBytes patch = oneWavePatch().bytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run = RunState{};
        file = FileState{};
        file.timing.bpm = 125;
        out = CaptureConsole{};
        for (std::size_t i = 0; i < c.mapped.size(); ++i) use(i, c.mapped[i] ? &patch : nullptr);
        ASSERT_EQ(initPatches(run, file, out), Status::Ok);
        EXPECT_EQ(out.out, c.output);
        EXPECT_EQ(file.instruments.size(), c.kept);
        EXPECT_EQ(file.nextInstrument, c.kept + 1);
    }
}

TEST_F(PatchLoaderTest, MissingPatchFileFailsTheStage) {
    use(0, nullptr);
    run.patchMap[0].hasPath = true;
    run.patchMap[0].patchPath = (dir / "absent.pat").string();
    EXPECT_EQ(initPatches(run, file, out), Status::Failed);
    EXPECT_EQ(out.err, (dir / "absent.pat").string() + ": No such file or directory\n");
}

TEST_F(PatchLoaderTest, FindsTheWantedInstrumentBehindAnother) {
    PatchBuilder patch;
    patch.instrument(0, "first").layer().wave(PatchWave::pcm8({1, 2, 3, 4, 5}));
    auto& second = patch.instrument(7, "second");
    second.layer().wave(PatchWave::pcm8({9, 9}).named("w1")).wave(PatchWave::pcm8({8}).named("w2"));

    ASSERT_EQ(loadOne(patch, 7), Status::Ok);
    const InstrumentRecord& instrument = file.instruments[0];
    EXPECT_STREQ(instrument.name.data(), "second");
    ASSERT_EQ(instrument.sampleCount, 2);
    ASSERT_EQ(instrument.samples.size(), 2u);
    EXPECT_STREQ(instrument.samples[1].name.data(), "w2");
    EXPECT_EQ(instrument.samples[1].byteLength, 1u);
    EXPECT_EQ(instrument.headerSize, 263u);
    EXPECT_EQ(instrument.sampleHeaderSize, 40u);
}

TEST_F(PatchLoaderTest, BrokenPatchFilesEndTheProcess) {
    const std::string invalid = "is invalid!\n";
    auto wave = [](std::uint32_t declared) { return PatchWave::pcm8({1, 2, 3}).size(declared); };
    PatchBuilder good = oneWavePatch();
    PatchBuilder badHeader = oneWavePatch();
    badHeader.header("GF1PATCH200");
    PatchBuilder badId = oneWavePatch();
    badId.id("ID#000003");
    PatchBuilder longWave = oneWavePatch(wave(1000));
    PatchBuilder otherInstrument;
    otherInstrument.instrument(1).layer().wave(PatchWave::pcm8({1}));
    PatchBuilder hugeInstrumentSize;
    hugeInstrumentSize.instrument(1).size(0x7FFFFFFF).layer().wave(PatchWave::pcm8({1}));
    PatchBuilder shortSize;
    shortSize.instrument(1).size(20).layer().wave(PatchWave::pcm8({1}));

    struct Case {
        const char* name;
        PatchBytes bytes;
        std::string message;
    };
    const std::size_t wavesStart = 129 + 63 + 47;
    const Case cases[] = {
        {"empty file", {}, invalid},
        {"unknown header", badHeader.bytes(), invalid},
        {"unknown id", badId.bytes(), invalid},
        {"patch header cut", good.truncated(100), invalid},
        {"instrument header cut", good.truncated(129 + 30), invalid},
        {"layer header cut", good.truncated(129 + 63 + 10), invalid},
        {"wave header cut", good.truncated(wavesStart + 50), invalid},
        {"wave data cut", good.truncated(wavesStart + 96 + 2), invalid},
        {"wave size past the end", longWave.bytes(), invalid},
        {"instrument size below its header", shortSize.bytes(), invalid},
        {"wanted instrument absent", otherInstrument.bytes(), "does not contain instrument 0!\n"},
        {"instrument size past the end", hugeInstrumentSize.bytes(), "does not contain instrument 0!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        file = FileState{};
        file.timing.bpm = 125;
        out = CaptureConsole{};
        file.instruments.resize(1);
        const Status status =
            readPatchInstrument(run, file, 0, 0, "x.pat", c.bytes, out);
        EXPECT_EQ(status, Status::Abort);
        EXPECT_EQ(out.out.rfind("\n    ERROR: Patch file x.pat ", 0), 0u) << out.out;
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
    const InstrumentRecord& instrument = file.instruments[0];
    for (std::size_t key = 0; key < 96; ++key) {
        SCOPED_TRACE(key);
        const int expected = key >= 24 && key <= 71 ? 1 : 0;
        EXPECT_EQ(instrument.keymap[key], expected);
    }
}

TEST_F(PatchLoaderTest, HighestAllowedSampleRate) {
    struct Case {
        const char* name;
        std::size_t mapIndex;
        std::uint16_t sampleRate;
        std::uint32_t root;
        std::int16_t highestNote;
        std::uint32_t maxRate;
    };
    // 65535 Hz at root 100000 has relative note 40; 44100 Hz at 261626 has 16.
    const Case cases[] = {
        {"top 130 halves the rate", 0, 65535, 100000, 90, 32767},
        {"top 120 keeps the sample's rate", 0, 65535, 100000, 80, 65535},
        {"top 76 keeps the maximum", 0, 44100, 261626, 60, 48000},
        {"percussion keeps the maximum", kPercussionBase + 40, 65535, 100000, 90, 48000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run = RunState{};
        file = FileState{};
        file.timing.bpm = 125;
        ASSERT_EQ(loadOne(oneWavePatch(PatchWave::pcm8({1}).pitch(c.sampleRate, c.root)), 0,
                          c.highestNote, c.mapIndex),
                  Status::Ok);
        EXPECT_EQ(file.instruments[0].samples[0].maxRate, c.maxRate);
    }
}

TEST_F(PatchLoaderTest, VibratoKeepsTheLargestValueDividedPerLayer) {
    PatchBuilder patch;
    patch.instrument(0)
        .layer()
        .wave(PatchWave::pcm8({1}).vibrato(30, 40, 100))
        .wave(PatchWave::pcm8({1}).vibrato(50, 20, 50));
    ASSERT_EQ(loadOne(patch), Status::Ok);
    EXPECT_EQ(file.instruments[0].vibratoRate, 10);
    EXPECT_EQ(file.instruments[0].vibratoDepth, 6);
    EXPECT_EQ(file.instruments[0].vibratoSweep, 50);
}

TEST_F(PatchLoaderTest, LayerWithoutWavesReadsNone) {
    PatchBuilder patch;
    auto& instrument = patch.instrument(0);
    instrument.layer();  // wave count 0
    instrument.layer().wave(PatchWave::pcm8({5, 6, 7}).named("real"));
    ASSERT_EQ(loadOne(patch), Status::Ok);
    ASSERT_EQ(file.instruments[0].sampleCount, 1);
    EXPECT_STREQ(file.instruments[0].samples[0].name.data(), "real");
    EXPECT_EQ(file.instruments[0].samples[0].byteLength, 3u);
}

TEST_F(PatchLoaderTest, WaveFields) {
    PatchWave wave = PatchWave::pcm16({0, 100, 200, 300, 400}).loop(2, 8).named("LONGNAME");
    wave.balance = 12;
    wave.scaleFrequency = -5;
    wave.scaleFactor = 2048;
    PatchBuilder patch;
    patch.masterVolume(127);
    patch.instrument(0, "ABCDEFGHIJKLMNOPQRS").layer().wave(wave);
    ASSERT_EQ(loadOne(patch, 0, 100), Status::Ok);

    const InstrumentRecord& instrument = file.instruments[0];
    EXPECT_EQ(std::string(instrument.name.data()), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(instrument.transpose, 5);
    const SampleRecord& sample = instrument.samples[0];
    EXPECT_EQ(std::string(sample.name.data()), "LONGNAM");
    EXPECT_EQ(sample.byteLength, 10u);
    EXPECT_EQ(sample.frameCount, 5u);
    EXPECT_EQ(sample.loopStart, 2u);
    EXPECT_EQ(sample.loopLength, 6u);
    EXPECT_EQ(sample.volume, 63);
    EXPECT_EQ(sample.panning, 192);
    EXPECT_EQ(sample.type, kSample16Bit | kLoopForward);
    EXPECT_EQ(sample.scaleRoot, -5);
    EXPECT_EQ(sample.scaleFactor, 2048u);
    EXPECT_EQ(sample.dataOffset, 129u + 63 + 47 + 96);
    EXPECT_EQ(sample.sampleRate, 44100u);
    EXPECT_EQ(sample.rootFrequency, 261626u);
    EXPECT_EQ(sample.relativeNote, 16 + 5);
    EXPECT_FALSE(sample.used);
}

TEST_F(PatchLoaderTest, SampleTypeFromModes) {
    struct Case {
        const char* name;
        std::uint8_t modes;
        std::uint8_t type;
    };
    const Case cases[] = {
        {"plain", 0x00, 0x00},
        {"looping", 0x04, 0x01},
        {"looping bidirectional", 0x0C, 0x02},
        {"bidirectional only", 0x08, 0x01},
        {"16-bit unsigned", 0x03, 0x30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        file = FileState{};
        file.timing.bpm = 125;
        run = RunState{};
        PatchWave wave = PatchWave::pcm8({1, 2, 3, 4}).withModes(c.modes);
        wave.loopStart = 0;
        wave.loopEnd = 4;
        ASSERT_EQ(loadOne(oneWavePatch(wave)), Status::Ok);
        EXPECT_EQ(file.instruments[0].samples[0].type, c.type);
    }
}

TEST_F(PatchLoaderTest, OddValuesFromRealPatchSets) {
    struct Case {
        const char* name;
        std::uint16_t masterVolume;
        std::uint32_t loopStart, loopEnd;
        std::uint8_t volume;
        std::uint32_t loopStartOut, loopLengthOut;
    };
    // The wave holds 100 bytes.
    const Case cases[] = {
        {"usual volume", 127, 10, 90, 63, 10, 80},
        {"master volume 65535", 65535, 10, 90, 64, 10, 80},
        {"loop end past the wave", 127, 50, 500, 63, 50, 50},
        {"loop past the wave", 127, 200, 300, 63, 100, 0},
        {"loop end before its start", 127, 80, 60, 63, 80, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run = RunState{};
        file = FileState{};
        file.timing.bpm = 125;
        PatchBuilder patch = oneWavePatch(PatchWave::pcm8(std::vector<int>(100, 1)).loop(c.loopStart, c.loopEnd));
        patch.masterVolume(c.masterVolume);
        ASSERT_EQ(loadOne(patch), Status::Ok);
        const SampleRecord& sample = file.instruments[0].samples[0];
        EXPECT_EQ(sample.volume, c.volume);
        EXPECT_EQ(sample.loopStart, c.loopStartOut);
        EXPECT_EQ(sample.loopLength, c.loopLengthOut);
    }
}

TEST(NoteFrequencyTable, EqualTemperedFromC0) {
    EXPECT_EQ(noteFrequencyTable[0], 16351u);
    EXPECT_EQ(noteFrequencyTable[37], 138591u);
    EXPECT_EQ(noteFrequencyTable[57], 440000u);
    EXPECT_EQ(noteFrequencyTable[107], 7902150u);
    for (std::size_t i = 1; i < noteFrequencyTable.size(); ++i) EXPECT_GT(noteFrequencyTable[i], noteFrequencyTable[i - 1]);
}

}  // namespace
}  // namespace korvalin
