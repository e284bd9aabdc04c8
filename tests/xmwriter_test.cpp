#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "patches/Patches.h"
#include "score/Score.h"
#include "support/EventStore.h"
#include "xm/Xm.h"

namespace korvalin {
namespace {

using namespace korvalin::test;
using Bytes = std::vector<std::uint8_t>;

std::uint16_t u16At(const Bytes& b, std::size_t pos) {
    return static_cast<std::uint16_t>(b[pos] | b[pos + 1] << 8);
}
TEST(FillModuleHeader, FindsTheEndOfTheMusicAndFillsTheRecord) {
    // Event times are rows (one tick a row).
    struct Case {
        const char* name;
        std::vector<std::vector<MidiEvent>> tracks;
        int patterns, rows;
    };
    const Case cases[] = {
        {"everything in pattern 0", {{end(0)}}, 1, 1},
        {"latest pattern wins over a later row", {{end(255 + 3)}, {end(250)}}, 2, 4},
        {"an empty track is skipped", {{}, {end(300)}, {}}, 2, 46},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunState run;
        run.settings.optionFlags |= kDirtyEnd;  // no closing pattern
        FileState file;
        NullConsole out;
        file.midi = store(96, c.tracks);
        file.timing = {1, 500000, 3, 125};
        file.nextInstrument = 3;  // two instruments kept by the patch loader
        file.instruments.resize(2);
        ASSERT_EQ(preconvertTracks(run, file, out), Status::Ok);
        ASSERT_EQ(fillModuleHeader(run, file, out), Status::Ok);
        EXPECT_EQ(file.header.songLength, c.patterns);
        EXPECT_EQ(file.header.patternCount, c.patterns);
        EXPECT_EQ(file.header.instrumentCount, 2);
        ASSERT_EQ(file.patterns.size(), std::size_t(c.patterns));
        EXPECT_EQ(file.patterns.back().rowCount, c.rows);
    }
}

// A score of hand-made patterns for the writer alone.
struct Score {
    RunState run;
    FileState file;
    CaptureConsole out;
    MemorySink sink;

    Score(std::uint32_t maxChannels, std::uint16_t channelCount) {
        run.settings.maxChannels = maxChannels;
        file.header.channelCount = channelCount;
    }
    void addPattern(std::uint16_t rows, const Bytes& data, int packedSize = -1) {
        PatternRecord p;
        p.rowCount = rows;
        p.packedData = data;
        p.packedSize = std::uint16_t(packedSize < 0 ? data.size() : std::size_t(packedSize));
        file.patterns.push_back(p);
        ++file.header.patternCount;
        ++file.header.songLength;
    }
    Status write() { return writeScore(run, file, sink, out); }
};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(WriteScore, KeepsOnlyTheChannelsInUse) {
    const Bytes full = {0x9F, 0x3D, 0x01, 0x42, 0x08, 0x80}, cut = {0x98, 0x0E, 0xC0};
    const Bytes keyOff = {0x88, 0x14}, note = {0x81, 0x3D}, e = {0x80};
    struct Case {
        const char* name;
        std::uint16_t maxChannels, channelCount, rows;
        Bytes data;
        int packedSize;  // -1: the size of data
        Bytes written;
    };
    const Case cases[] = {
        {"all channels in use: bytes unchanged", 2, 2, 1, cat({full, keyOff}), -1,
         cat({full, keyOff})},
        {"32 empty cells become 4", 32, 4, 1, Bytes(32, 0x80), -1, Bytes(4, 0x80)},
        {"a full cell beyond the channels is dropped whole", 3, 2, 2,
         cat({e, e, full, cut, e, keyOff}), -1, cat({e, e, cut, e})},
        {"a cell cut inside its fields is not copied", 3, 2, 1, cat({e, {0x9F, 0x3D}}), -1,
         cat({e, e})},
        {"absent data", 2, 2, 2, {}, 10, Bytes(4, 0x80)},
        {"fewer cells built than channels counted", 1, 2, 2, cat({note, e}), -1,
         cat({note, e, e, e})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(c.maxChannels, c.channelCount);
        score.addPattern(c.rows, c.data, c.packedSize);
        ASSERT_EQ(score.write(), Status::Ok);
        const Bytes& b = score.sink.bytes;
        ASSERT_EQ(b.size(), kModuleHeaderBytes + 9 + c.written.size());
        EXPECT_EQ(u16At(b, kModuleHeaderBytes + 5), c.rows);
        EXPECT_EQ(u16At(b, kModuleHeaderBytes + 7), c.written.size());
        EXPECT_EQ(Bytes(b.begin() + kModuleHeaderBytes + 9, b.end()), c.written);
        EXPECT_EQ(score.out.out, "Writing XM score.\n");
    }
}

}  // namespace
}  // namespace korvalin
