// Channel-message data bytes with the top bit set convert exactly like 127.
#include <gtest/gtest.h>

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
    patch.instrument(0, "P").layer().wave(test::PatchWave::pcm8({0, 40, 0, -40}));
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

// Cells (flags 0x80 | fields present, or five fields): notes, instruments, volume column.
void expectCellsInRange(const std::vector<std::uint8_t>& xm) {
    const auto at = [&](std::size_t i) { return xm.at(i); };
    for (std::size_t pos = 336, p = 0; p < at(70); ++p) {
        const std::size_t end = pos + 9 + (at(pos + 7) | at(pos + 8) << 8);
        for (pos += 9; pos < end;) {
            const unsigned flags = at(pos) & 0x80 ? at(pos++) : 0x1F;
            int field[5] = {0, 0, 0x10, 0, 0};
            for (int f = 0; f < 5; ++f)
                if (flags & 1u << f) field[f] = at(pos++);
            EXPECT_LE(field[0], 97);
            EXPECT_LE(field[1], at(72));
            EXPECT_TRUE((field[2] >= 0x10 && field[2] <= 0x50) || (field[2] & 0xE0) == 0xA0);
        }
    }
}

TEST(StrayDataBytes, ConvertLikeTheLargestValueAndStayInRange) {
    const std::vector<std::uint8_t> clamped = convert(0x7F);
    for (const std::uint8_t x : {0x80, 0xCC, 0xFF}) {
        const std::vector<std::uint8_t> xm = convert(x);
        expectCellsInRange(xm);
        EXPECT_EQ(xm, clamped) << +x;
    }
}

}  // namespace
}  // namespace korvalin
