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
    const struct {
        const char* name;
        PatchBytes bytes;
        std::string message;
    } cases[] = {
        {"empty file", {}, invalid},
        {"unknown header", oneWavePatch().header("GF1PATCH200").bytes(), invalid},
        {"wave data cut", good.truncated(129 + 63 + 47 + 96 + 2), invalid},
        {"wave size past the end", oneWavePatch(PatchWave::pcm8({1, 2, 3}).size(1000)).bytes(),
         invalid},
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

}  // namespace
}  // namespace korvalin
