// Channel-message data bytes with the top bit set convert exactly like 127.
#include <gtest/gtest.h>

#include "XmWalk.h"
#include "driver/Driver.h"
#include "driver/PatchMap.h"
#include "support/MidiBuilder.h"
#include "support/PatchBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

// A song with `x` as program, controller number and values, pressures, bend,
// note and velocity (also under running status) and percussion key.
std::vector<std::uint8_t> convert(std::uint8_t x) {
    static const test::TempDir dir;
    test::Smf smf(0, 96);
    smf.track()
        .raw({0, 0xC0, x, 0, 0xB0, 7, x, 0, 0xB0, 10, x, 0, 0xB0, 1, x, 0, 0xB0, x, 64})
        .raw({0, 0xB0, 101, 0, 0, 0xB0, 100, 0, 0, 0xB0, 6, x, 0, 0xD0, x, 0, 0xA0, x, x})
        .raw({0, 0xE0, x, x, 0, 0x90, 60, x, 0, 0x90, x, 64, 0, 62, x, 0, 0x99, x, x})
        .raw({96, 0x80, 60, x, 0, 0x80, x, x, 0, 0x89, x, 0, 0, 0x90, 62, 0})
        .endOfTrack(96);
    test::PatchBuilder patch;
    patch.instrument(0, "P").wave(test::PatchWave::pcm8({0, 40, 0, -40}));
    dir.write("p.pat", patch.bytes());
    RunState run;
    NullConsole console;
    readPatchMap("0 p.pat 0 1000\n127 p.pat 0 1000\n255 p.pat 0 1000\n", dir.path().string() + "/",
                 run.patchMap, console);
    FileState file;
    const test::Bytes song = smf.bytes();
    ByteReader in({song.data(), song.size()});
    MemorySink sink;
    EXPECT_EQ(runStages(run, file, in, sink, console), Status::Ok);
    return sink.bytes;
}

TEST(StrayDataBytes, ConvertLikeTheLargestValueAndStayInRange) {
    const std::vector<std::uint8_t> clamped = convert(0x7F);
    for (const std::uint8_t x : {0x80, 0xCC, 0xFF}) {
        const std::vector<std::uint8_t> xm = convert(x);
        EXPECT_EQ(xmwalk::walk(xm).fault, "") << "stray byte " << int{x};
        EXPECT_EQ(xm, clamped) << +x;
    }
}

}  // namespace
}  // namespace korvalin
