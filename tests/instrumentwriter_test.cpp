// The instrument writer: dropping of unplayed samples, failures, and every
// patch of the installed freepats set.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "XmWalk.h"
#include "patches/Patches.h"
#include "support/PatchBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using test::PatchBuilder;
using test::PatchWave;

struct Writer {
    test::TempDir dir;
    RunState run;
    FileState file;
    MemorySink sink;
    CaptureConsole out;

    // Program `mapIndex` becomes the next instrument, played from `patch`.
    void use(std::size_t mapIndex, const std::string& path) {
        run.patchMap[mapIndex] = {
            static_cast<std::uint8_t>(file.nextInstrument++), true, path, 1000, 0, 100};
    }
    // Loads the patches and marks the given samples of the first instrument as played.
    void load(const std::vector<std::size_t>& played) {
        file.timing.bpm = 125;
        CaptureConsole loading;
        ASSERT_EQ(initPatches(run, file, loading), Status::Ok) << loading.all;
        for (std::size_t s : played) file.instruments[0].samples[s].used = true;
    }
};

TEST(InstrumentWriter, TwoOfThreeSamplesPlayedAndAnUnplayedInstrument) {
    PatchBuilder abc;
    abc.instrument(0, "abc")
        .layer()
        .wave(PatchWave::pcm8({1, 2, 3, 4}).named("A").keys(0, 261625))
        .wave(PatchWave::pcm8({9, 9, 9}).named("B").keys(261626, 523251))
        .wave(PatchWave::pcm8({-1, 1}).named("C").keys(523252, 0xFFFFFFFF));
    Writer w;
    w.dir.write("abc.pat", abc.bytes());
    w.use(0, (w.dir / "abc.pat").string());
    w.use(1, (w.dir / "abc.pat").string());
    w.load({0, 2});
    ASSERT_EQ(writePatches(w.run, w.file, w.sink, w.out), Status::Ok);
    EXPECT_EQ(w.out.all, "Writing patches..\n");
    // A then C (keys 24 to 47, 48 to 71 and 72 on): the keys of B now play
    // C at place 1; the unplayed instrument is its header alone.
    const std::vector<std::uint8_t>& b = w.sink.bytes;
    ASSERT_EQ(b.size(), 263u + 2 * 40 + 4 + 2 + 263);
    for (std::size_t key = 0; key < 96; ++key) EXPECT_EQ(b[33 + key], key >= 72 ? 1 : 0) << key;
    EXPECT_EQ(std::string(b.begin() + 263 + 58, b.begin() + 263 + 59), "C");
    EXPECT_EQ(w.file.instruments[1].writtenSampleCount, 0);
}

TEST(InstrumentWriter, Failures) {
    PatchBuilder patch;
    patch.instrument(0).layer().wave(PatchWave::pcm8(std::vector<int>(100, 3)));
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
        Writer w;
        w.dir.write("p.pat", patch.bytes());
        w.use(0, (w.dir / "p.pat").string());
        w.load({0});
        c.change(w.run.patchMap[0].patchPath, w.sink);
        EXPECT_EQ(writePatches(w.run, w.file, w.sink, w.out), c.status);
        EXPECT_NE(w.out.all.find(c.message), std::string::npos) << w.out.all;
    }
}

// Every instrument of the installed freepats set loads and converts into a
// module instrument the module walker finds sound (loops, volumes, keymap,
// envelope points), written 16-bit and 8-bit.
TEST(InstrumentWriter, EveryFreepatsPatch) {
    const fs::path root = "/usr/share/midi/freepats";
    ASSERT_TRUE(test::installed(root, "freepats"));
    int patches = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".pat") continue;
        ++patches;
        for (const std::uint8_t flags : {std::uint8_t{kKeep16Bit}, std::uint8_t{kTweakVolume}}) {
            SCOPED_TRACE(entry.path().string() + (flags & kKeep16Bit ? " 16-bit" : " 8-bit"));
            Writer w;
            w.run.settings.optionFlags = flags;
            const bool drum = entry.path().parent_path().filename().string().starts_with("Drum");
            w.use(drum ? kPercussionBase + 40 : 0, entry.path().string());
            w.load({});
            for (auto& sample : w.file.instruments[0].samples) sample.used = true;
            ASSERT_EQ(writePatches(w.run, w.file, w.sink, w.out), Status::Ok);
            // A module of one empty pattern around the instrument.
            std::vector<std::uint8_t> module = {'E', 'x', 't', 'e', 'n', 'd', 'e', 'd', ' ',
                                                'M', 'o', 'd', 'u', 'l', 'e', ':', ' '};
            module.resize(336);
            module[37] = 0x1A;
            const std::uint8_t fields[][2] = {{58, 4}, {59, 1}, {60, 20}, {61, 1}, {64, 1},
                                              {68, 2}, {70, 1}, {72, 1},  {74, 1}, {76, 1}};
            for (const auto& f : fields) module[f[0]] = f[1];
            for (int i = 0; i < 256; ++i) module[80 + std::size_t(i)] = std::uint8_t(i);
            module.insert(module.end(), {9, 0, 0, 0, 0, 1, 0, 2, 0, 0x80, 0x80});
            module.insert(module.end(), w.sink.bytes.begin(), w.sink.bytes.end());
            EXPECT_EQ(xmwalk::walk(module).fault, "");
        }
    }
    EXPECT_GT(patches, 100);
}

}  // namespace
}  // namespace korvalin
