#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

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
std::uint32_t u32At(const Bytes& b, std::size_t pos) {
    return static_cast<std::uint32_t>(u16At(b, pos) | u16At(b, pos + 2) << 16);
}

// Walks the patterns of a written module: every pattern header must be 9
// bytes, and its data must hold exactly rows x channels packed cells.
// Returns the position after the last pattern.
std::size_t checkPatterns(const Bytes& b) {
    const std::uint16_t channels = u16At(b, 68);
    const std::uint16_t patterns = u16At(b, 70);
    std::size_t pos = kModuleHeaderBytes;
    for (std::uint16_t p = 0; p < patterns; ++p) {
        SCOPED_TRACE("pattern " + std::to_string(p));
        if (pos + 9 > b.size()) {
            ADD_FAILURE() << "pattern header past the end";
            return pos;
        }
        EXPECT_EQ(u32At(b, pos), 9u);
        EXPECT_EQ(b[pos + 4], 0);
        const std::uint16_t rows = u16At(b, pos + 5);
        const std::size_t end = pos + 9 + u16At(b, pos + 7);
        pos += 9;
        for (std::size_t cell = 0; cell < std::size_t{rows} * channels; ++cell) {
            if (pos >= end || !(b[pos] & kCellPacked)) {
                ADD_FAILURE() << "cell " << cell << " missing or unpacked";
                return end;
            }
            pos += 1 + std::size_t(__builtin_popcount(b[pos] & 0x1F));
        }
        EXPECT_EQ(pos, end) << "pattern data longer or shorter than its cells";
        pos = end;
    }
    return pos;
}

TEST(FillModuleHeader, FindsTheEndOfTheMusicAndFillsTheRecord) {
    struct Case {
        const char* name;
        std::vector<std::vector<MidiEvent>> tracks;  // times are rows (one tick a row)
        std::uint16_t patterns;
        std::uint16_t lastRows;
    };
    const Case cases[] = {
        {"everything in pattern 0", {{end(0)}}, 1, 1},
        {"latest pattern wins over a later row", {{end(255 + 3)}, {end(250)}}, 2, 4},
        {"latest row within the same pattern", {{end(20)}, {end(200)}, {end(7)}}, 1, 201},
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

        // The header's constant fields are checked byte by byte in the test below.
        EXPECT_EQ(file.header.songLength, c.patterns);
        EXPECT_EQ(file.header.patternCount, c.patterns);
        EXPECT_EQ(file.header.instrumentCount, 2);
        ASSERT_EQ(file.patterns.size(), c.patterns);
        EXPECT_EQ(file.patterns.back().rowCount, c.lastRows);
    }
}

// The whole score part of a conversion, from events to bytes.
TEST(WriteScore, WritesAModuleOtherPlayersLoad) {
    RunState run;
    FileState file;
    CaptureConsole out;
    std::vector<MidiEvent> notes = {program(0, 0, 1)};
    for (std::uint32_t t = 0; t < 96 * 64; t += 48) {
        notes.push_back(on(t, 0, static_cast<std::uint8_t>(50 + t / 48 % 24)));
        notes.push_back(on(t, 9, 36));
        notes.push_back(off(t + 40, 0, static_cast<std::uint8_t>(50 + t / 48 % 24)));
        notes.push_back(off(t + 40, 9, 36));
    }
    notes.push_back(end(96 * 64));
    file.midi = store(96, {{tempo(0, 500000), tempo(96 * 8, 400000), end(96 * 8)}, notes});
    const char name[] = "A twenty letter name";  // fills the field, no terminator
    std::memcpy(file.header.moduleName.data(), name, 20);

    ASSERT_EQ(scanTracks(run, file, out), Status::Ok);
    ASSERT_EQ(chooseTiming(run, file, out), Status::Ok);
    ASSERT_EQ(initPatches(run, file, out), Status::Ok);  // empty map: every instrument dropped
    ASSERT_EQ(preconvertTracks(run, file, out), Status::Ok);
    ASSERT_EQ(fillModuleHeader(run, file, out), Status::Ok);
    MemorySink sink;
    ASSERT_EQ(writeScore(run, file, sink, out), Status::Ok) << out.err;
    ASSERT_EQ(writePatches(run, file, sink, out), Status::Ok) << out.err;
    const Bytes& b = sink.bytes;
    const ModuleHeader& h = file.header;

    ASSERT_GE(b.size(), kModuleHeaderBytes);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 17), "Extended Module: ");
    EXPECT_EQ(std::string(b.begin() + 17, b.begin() + 37), name);
    EXPECT_EQ(b[37], 0x1A);
    EXPECT_EQ(std::string(b.begin() + 38, b.begin() + 58), std::string("KORVALIN") + std::string(12, '\0'));
    EXPECT_EQ(u16At(b, 58), 0x0104);
    EXPECT_EQ(u32At(b, 60), 276u);
    EXPECT_EQ(u16At(b, 64), h.songLength);
    EXPECT_EQ(u16At(b, 66), 0);
    EXPECT_EQ(u16At(b, 68), h.channelCount);
    EXPECT_EQ(u16At(b, 70), h.patternCount);
    EXPECT_EQ(u16At(b, 72), 0);  // no patch.cfg entries: no instruments
    EXPECT_EQ(u16At(b, 74), 1);
    EXPECT_EQ(u16At(b, 76), file.timing.speed);
    EXPECT_EQ(u16At(b, 78), file.timing.bpm);
    for (std::size_t i = 0; i < 256; ++i) EXPECT_EQ(b[80 + i], i);
    EXPECT_EQ(checkPatterns(b), b.size()) << "bytes after the last pattern";
    for (const PatternRecord& p : file.patterns) EXPECT_TRUE(p.packedData.empty());

    std::string dots(h.patternCount, '.');
    EXPECT_NE(out.out.find("Writing XM score" + dots + "\n"), std::string::npos) << out.out;

    openmpt_module* mod = openmpt_module_create_from_memory2(b.data(), b.size(), nullptr, nullptr,
                                                             nullptr, nullptr, nullptr, nullptr,
                                                             nullptr);
    ASSERT_NE(mod, nullptr);
    EXPECT_EQ(openmpt_module_get_num_channels(mod), h.channelCount);
    EXPECT_EQ(openmpt_module_get_num_patterns(mod), h.patternCount);
    EXPECT_EQ(openmpt_module_get_num_orders(mod), h.songLength);
    EXPECT_EQ(openmpt_module_get_num_instruments(mod), 0);
    openmpt_module_destroy(mod);
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
        p.packedSize = static_cast<std::uint16_t>(packedSize < 0 ? data.size() : std::size_t(packedSize));
        file.patterns.push_back(p);
        ++file.header.patternCount;
        ++file.header.songLength;
    }
    Status write() { return writeScore(run, file, sink, out); }
};

TEST(WriteScore, KeepsOnlyTheChannelsInUse) {
    const Bytes full = {0x9F, 0x3D, 0x01, 0x42, 0x08, 0x80};
    const Bytes cut = {0x98, 0x0E, 0xC0};
    const Bytes keyOff = {0x88, 0x14};
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Bytes e = {0x80};
    struct Case {
        const char* name;
        std::uint32_t maxChannels;
        std::uint16_t channelCount, rows;
        Bytes data;
        int packedSize;
        Bytes written;
    };
    const Case cases[] = {
        {"all channels in use: bytes unchanged", 2, 2, 1, cat({full, keyOff}), -1, cat({full, keyOff})},
        {"32 empty cells become 4", 32, 4, 1, Bytes(32, 0x80), -1, Bytes(4, 0x80)},
        {"a full cell beyond the channels is dropped whole", 3, 2, 2,
         cat({e, e, full, cut, e, keyOff}), -1, cat({e, e, cut, e})},
        {"data cut short: rows completed with empty cells", 2, 2, 2, {0x81, 0x3D}, 8,
         cat({{0x81, 0x3D}, e, e, e})},
        {"a cell cut inside its fields is not copied", 3, 2, 1, cat({e, {0x9F, 0x3D}}), -1, cat({e, e})},
        {"absent data", 2, 2, 2, {}, 10, Bytes(4, 0x80)},
        {"fewer cells built than channels counted", 1, 2, 2, cat({{0x81, 0x3D}, e}),
         -1, cat({{0x81, 0x3D}, e, e, e})},
        {"bytes beyond packedSize are not written", 2, 2, 1, cat({e, e, full}), 2, cat({e, e})},
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

TEST(WriteScore, FailsOnEveryShortWrite) {
    // Header 336 bytes, then two patterns of 9 + 2 bytes each: 358 in all.
    // Cut inside the header, a pattern header or pattern data; 358 is enough.
    const std::size_t limits[] = {0, 335, 336, 344, 346, 347, 356, 357, 358};
    for (std::size_t limit : limits) {
        SCOPED_TRACE("room for " + std::to_string(limit) + " bytes");
        Score score(2, 2);
        score.addPattern(1, {0x80, 0x80});
        score.addPattern(1, {0x80, 0x80});
        score.sink.limit = limit;
        const bool enough = limit == 358;
        EXPECT_EQ(score.write(), enough ? Status::Ok : Status::Failed);
        EXPECT_EQ(score.out.err, enough ? "" : std::string("ERROR: ") + std::strerror(28) + "\n");
    }
}

TEST(WriteScore, RefusesMorePatternsThanBuilt) {
    Score score(2, 2);
    score.addPattern(1, {0x80, 0x80});
    score.file.header.patternCount = 2;
    EXPECT_EQ(score.write(), Status::Failed);
    EXPECT_TRUE(score.sink.bytes.empty());
    EXPECT_NE(score.out.out.find("ERROR"), std::string::npos);
}

}  // namespace
}  // namespace korvalin
