#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

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
std::uint32_t u32At(const Bytes& b, std::size_t pos) {
    return static_cast<std::uint32_t>(u16At(b, pos) | u16At(b, pos + 2) << 16);
}

// Walks the patterns of a written module: every pattern header must be 9
// bytes, and its data must hold exactly rows x channels packed cells.
// Returns the position after the last pattern.
std::size_t checkPatterns(const Bytes& b) {
    std::size_t pos = kModuleHeaderBytes;
    for (std::uint16_t p = 0; p < u16At(b, 70); ++p) {
        SCOPED_TRACE("pattern " + std::to_string(p));
        if (pos + 9 > b.size()) {
            ADD_FAILURE() << "pattern header past the end";
            return pos;
        }
        EXPECT_EQ(u32At(b, pos), 9u);
        EXPECT_EQ(b[pos + 4], 0);
        const std::size_t cells = std::size_t{u16At(b, pos + 5)} * u16At(b, 68);
        const std::size_t end = pos + 9 + u16At(b, pos + 7);
        pos += 9;
        std::size_t cell = 0;
        for (; cell < cells && pos < std::min(end, b.size()); ++cell) {
            EXPECT_TRUE(b[pos] & kCellPacked) << "cell " << cell;
            pos += 1 + std::size_t(__builtin_popcount(b[pos] & 0x1F));
        }
        EXPECT_EQ(cell, cells) << "cells missing";
        EXPECT_EQ(pos, end) << "pattern data longer or shorter than its cells";
        pos = end;
    }
    return pos;
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
        EXPECT_EQ(file.header.songLength, c.patterns);
        EXPECT_EQ(file.header.patternCount, c.patterns);
        EXPECT_EQ(file.header.instrumentCount, 2);
        ASSERT_EQ(file.patterns.size(), std::size_t(c.patterns));
        EXPECT_EQ(file.patterns.back().rowCount, c.rows);
    }
}

// The whole score part of a conversion, from events to bytes.
TEST(WriteScore, WritesAModuleOtherPlayersLoad) {
    RunState run;
    FileState file;
    CaptureConsole out;
    std::vector<MidiEvent> notes = {program(0, 0, 1)};
    for (std::uint32_t t = 0; t < 96 * 64; t += 48) {
        const int key = 50 + int(t / 48 % 24);
        notes.insert(notes.end(),
                     {on(t, 0, key), on(t, 9, 36), off(t + 40, 0, key), off(t + 40, 9, 36)});
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
    EXPECT_EQ(std::string(b.begin(), b.begin() + 37), std::string("Extended Module: ") + name);
    EXPECT_EQ(b[37], 0x1A);
    EXPECT_EQ(std::string(b.begin() + 38, b.begin() + 58), "KORVALIN" + std::string(12, '\0'));
    const std::uint16_t fields[] = {0x0104,
                                    276,
                                    0,
                                    h.songLength,
                                    0,
                                    h.channelCount,
                                    h.patternCount,
                                    0,
                                    1,
                                    std::uint16_t(file.timing.speed),
                                    std::uint16_t(file.timing.bpm)};
    // Version, header size (32 bits), song length, restart, channels, patterns,
    // instruments, flags, speed, BPM.
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        SCOPED_TRACE(58 + 2 * i);
        EXPECT_EQ(u16At(b, 58 + 2 * i), fields[i]);
    }
    for (std::size_t i = 0; i < 256; ++i) EXPECT_EQ(b[80 + i], i);
    EXPECT_EQ(checkPatterns(b), b.size()) << "bytes after the last pattern";
    for (const PatternRecord& p : file.patterns) EXPECT_TRUE(p.packedData.empty());
    EXPECT_NE(out.out.find("Writing XM score" + std::string(h.patternCount, '.') + "\n"),
              std::string::npos)
        << out.out;

    openmpt_module* mod = openmpt_module_create_from_memory2(
        b.data(), b.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
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

TEST(WriteScore, WritesThePackedBytes) {
    const Bytes full = {0x9F, 0x3D, 0x01, 0x42, 0x08, 0x80}, keyOff = {0x88, 0x14}, e = {0x80};
    struct Case {
        const char* name;
        Bytes data;
        int packedSize;  // -1: the size of data
        Bytes written;
    };
    const Case cases[] = {
        {"a whole row", cat({full, keyOff}), -1, cat({full, keyOff})},
        {"bytes beyond packedSize are not written", cat({e, e, full}), 2, cat({e, e})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(2, 2);
        score.addPattern(1, c.data, c.packedSize);
        ASSERT_EQ(score.write(), Status::Ok);
        const Bytes& b = score.sink.bytes;
        ASSERT_EQ(b.size(), kModuleHeaderBytes + 9 + c.written.size());
        EXPECT_EQ(u16At(b, kModuleHeaderBytes + 5), 1);
        EXPECT_EQ(u16At(b, kModuleHeaderBytes + 7), c.written.size());
        EXPECT_EQ(Bytes(b.begin() + kModuleHeaderBytes + 9, b.end()), c.written);
        EXPECT_EQ(score.out.out, "Writing XM score.\n");
    }
}

TEST(WriteScore, FailsOnEveryShortWrite) {
    // Header 336 bytes, then two patterns of 9 + 2 bytes each: 358 in all.
    // Cut inside the header, a pattern header or pattern data; 358 is enough.
    for (std::size_t limit : {0, 335, 336, 344, 346, 347, 356, 357, 358}) {
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
