// The patch loader and the instrument writer on patches built in code:
// instrument numbering, broken files, the sample-rate limit, dropping of
// unplayed samples and failures while writing.
#include "patches/Patches.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/PatchBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using test::PatchBuilder;
using test::PatchWave;

struct Patches {
    test::TempDir dir;
    RunState run;
    FileState file;
    CaptureConsole out;
    MemorySink sink;

    Patches() { file.timing.bpm = 125; }
    // Gives map entry `mapIndex` the next instrument number, played from
    // `patch` (none: no patch.cfg entry).
    void use(std::size_t mapIndex, const PatchBuilder* patch, std::int16_t highestNote = 60) {
        const std::string name = "p" + std::to_string(mapIndex) + ".pat";
        if (patch) dir.write(name, patch->bytes());
        run.patchMap[mapIndex] = {static_cast<std::uint8_t>(file.nextInstrument++),
                                  patch != nullptr,
                                  patch ? (dir / name).string() : "",
                                  1000,
                                  0,
                                  highestNote};
    }
};

PatchBuilder oneWavePatch(const PatchWave& wave = PatchWave::pcm8({0, 1, 2, 3})) {
    PatchBuilder patch;
    patch.instrument(0).wave(wave);
    return patch;
}

// Two waves of 5000 bytes: the loader reads a file in windows of 4 KiB, so
// the second wave's header lies outside the first window.
PatchBuilder twoLongWaves() {
    PatchBuilder patch;
    patch.instrument(0)
        .wave(PatchWave::pcm8(std::vector<int>(5000, 1)).named("one"))
        .wave(PatchWave::pcm8(std::vector<int>(5000, 2)).named("two").loop(10, 4000));
    return patch;
}

TEST(PatchLoader, UnmappedInstrumentIsDroppedAndLaterNumbersCloseUp) {
    Patches p;
    const PatchBuilder patch = oneWavePatch();
    p.use(0, &patch);
    p.use(5, nullptr);
    p.use(kPercussionBase + 36, &patch);
    ASSERT_EQ(initPatches(p.run, p.file, p.out), Status::Ok);
    EXPECT_EQ(p.out.out,
              "Instruments used: 3\nInitializing Patches.\n"
              "    WARNING: Midi instrument 5 has no entry in patch.cfg!.\n");
    EXPECT_EQ(p.file.instruments.size(), 2u);
    EXPECT_EQ(p.file.nextInstrument, 3u);
    EXPECT_EQ(p.run.patchMap[5].instrument, 0);
    EXPECT_EQ(p.run.patchMap[kPercussionBase + 36].instrument, 2);
    EXPECT_EQ(p.file.instruments[1].drumNote, 37u);
}

TEST(PatchLoader, BrokenPatchFilesEndTheProcess) {
    const std::string invalid = "is invalid!\n", absent = "does not contain instrument 0!\n";
    const auto instrument1 = [](std::optional<std::uint32_t> size) {
        PatchBuilder patch;
        auto& instrument = patch.instrument(1);
        instrument.declaredSize = size;
        instrument.wave(PatchWave::pcm8({1}));
        return patch.bytes();
    };
    // The good patch with one byte changed (patch header 129 bytes, instrument
    // 63, layer 47, then the wave's header with its size at offset 8).
    const test::PatchBytes good = oneWavePatch().bytes();
    test::PatchBytes cutInSecondHeader = twoLongWaves().bytes();
    cutInSecondHeader.resize(129 + 63 + 47 + 96 + 5000 + 50);
    const auto with = [&good](std::size_t offset, unsigned char value) {
        test::PatchBytes changed = good;
        changed[offset] = value;
        return changed;
    };
    const struct {
        const char* name;
        test::PatchBytes bytes;
        std::string message;
    } cases[] = {
        {"empty file", {}, invalid},
        {"unknown header", with(8, '2'), invalid},  // GF1PATCH210
        {"wave size past the end", with(129 + 63 + 47 + 9, 3), invalid},
        {"wanted instrument absent", instrument1(std::nullopt), absent},
        {"second wave's header cut short", cutInSecondHeader, invalid},
    };
    const PatchBuilder placeholder = oneWavePatch();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Patches p;
        p.file.instruments.resize(1);
        EXPECT_EQ(readPatchInstrument(p.run, p.file, 0, 0, "x.pat", c.bytes, p.out), Status::Abort);
        EXPECT_TRUE(p.out.out.starts_with("\n    ERROR: Patch file x.pat ")) << p.out.out;
        EXPECT_TRUE(p.out.out.ends_with(c.message)) << p.out.out;
        // The same bytes as a file, which the loader reads a window at a time.
        Patches fromFile;
        fromFile.use(0, &placeholder);
        fromFile.dir.write("p0.pat", c.bytes);
        EXPECT_EQ(initPatches(fromFile.run, fromFile.file, fromFile.out), Status::Abort);
        EXPECT_TRUE(fromFile.out.out.ends_with(c.message)) << fromFile.out.out;
    }
}

TEST(PatchLoader, FileReadInWindowsGivesTheSameWaves) {
    Patches p;
    const PatchBuilder patch = twoLongWaves();
    p.use(0, &patch);
    ASSERT_EQ(initPatches(p.run, p.file, p.out), Status::Ok);
    const auto& waves = p.file.instruments[0].samples;
    ASSERT_EQ(waves.size(), 2u);
    EXPECT_EQ(waves[1].dataOffset, 129u + 63 + 47 + 2 * 96 + 5000);
    EXPECT_EQ(std::string(waves[1].name.data()), "two");
    EXPECT_EQ(waves[1].loopLength, 3990u);
}

TEST(PatchLoader, HighestAllowedSampleRate) {
    // 65535 Hz at root 100000 has relative note 40.
    const struct {
        const char* name;
        std::int16_t highestNote;
        std::uint32_t maxRate;
    } cases[] = {
        {"top 130 halves the rate", 90, 32767},
        {"top 120 never lifts the maximum", 80, 48000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Patches p;
        const PatchBuilder patch = oneWavePatch(PatchWave::pcm8({1}).pitch(65535, 100000));
        p.use(0, &patch, c.highestNote);
        ASSERT_EQ(initPatches(p.run, p.file, p.out), Status::Ok);
        EXPECT_EQ(p.file.instruments[0].samples[0].maxRate, c.maxRate);
    }
}

TEST(InstrumentWriter, TwoOfThreeSamplesPlayedAndAnUnplayedInstrument) {
    PatchBuilder abc;
    abc.instrument(0, "abc")
        .wave(PatchWave::pcm8({1, 2, 3, 4}).named("A").keys(0, 261625))
        .wave(PatchWave::pcm8({9, 9, 9}).named("B").keys(261626, 523251))
        .wave(PatchWave::pcm8({-1, 1}).named("C").keys(523252, 0xFFFFFFFF));
    Patches p;
    p.use(0, &abc);
    p.use(1, &abc);
    ASSERT_EQ(initPatches(p.run, p.file, p.out), Status::Ok);
    p.file.instruments[0].samples[0].used = p.file.instruments[0].samples[2].used = true;
    p.out = CaptureConsole{};
    ASSERT_EQ(writePatches(p.run, p.file, p.sink, p.out), Status::Ok);
    EXPECT_EQ(p.out.all, "Writing patches..\n");
    // A then C, whose keys (72 on) now name place 1; the unplayed instrument
    // is its header alone.
    const std::vector<std::uint8_t>& b = p.sink.bytes;
    ASSERT_EQ(b.size(), 263u + 2 * 40 + 4 + 2 + 263);
    for (std::size_t key = 0; key < 96; ++key) EXPECT_EQ(b[33 + key], key >= 72 ? 1 : 0) << key;
    EXPECT_EQ(b[263 + 40 + 18], 'C');
}

TEST(InstrumentWriter, Failures) {
    const PatchBuilder patch = oneWavePatch(PatchWave::pcm8(std::vector<int>(100, 3)));
    const struct {
        const char* name;
        void (*change)(const fs::path& patchFile, MemorySink& sink);
        Status status;
        const char* message;
    } cases[] = {
        {"patch file gone", [](const fs::path& f, MemorySink&) { fs::remove(f); }, Status::Failed,
         ": No such file or directory\n"},
        {"patch file cut short since loading",
         [](const fs::path& f, MemorySink&) { fs::resize_file(f, 400); }, Status::Abort,
         "    ERROR: Sample data of patch file "},
        {"output full", [](const fs::path&, MemorySink& s) { s.limit = 100; }, Status::Failed,
         "ERROR: No space left on device\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Patches p;
        p.use(0, &patch);
        ASSERT_EQ(initPatches(p.run, p.file, p.out), Status::Ok);
        p.file.instruments[0].samples[0].used = true;
        c.change(p.run.patchMap[0].patchPath, p.sink);
        EXPECT_EQ(writePatches(p.run, p.file, p.sink, p.out), c.status);
        EXPECT_NE(p.out.all.find(c.message), std::string::npos) << p.out.all;
    }
}

}  // namespace
}  // namespace korvalin
