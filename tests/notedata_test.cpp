#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "notedata_fixture.h"
#include "score/Score.h"

namespace korvalin {
namespace {

using testing::Cell;
using testing::channelEvent;
using testing::metaEvent;
using testing::plainInstrument;
using testing::Score;
using testing::sustainedInstrument;
using testing::unpack;

MidiEvent noteOnAt(std::uint8_t ch, std::uint8_t key, std::uint16_t row, std::uint32_t pattern = 0) {
    return channelEvent(static_cast<std::uint8_t>(0x90 | ch), key, 100, pattern, row, 0, row * 2u);
}
MidiEvent noteOffAt(std::uint8_t ch, std::uint8_t key, std::uint16_t row) {
    return channelEvent(static_cast<std::uint8_t>(0x80 | ch), key, 0, 0, row, 0, row * 2u);
}

// Runs the builder the way the module header stage does and keeps the text.
struct Build {
    explicit Build(Score& score, std::uint32_t lastPattern, std::uint32_t lastRow) {
        score.file.header.patternCount = static_cast<std::uint16_t>(lastPattern + 1);
        score.file.header.songLength = static_cast<std::uint16_t>(lastPattern + 1);
        score.file.patterns.resize(lastPattern + 1);
        status = buildNoteData(score.run, score.file, lastPattern, lastRow, console);
        for (const PatternRecord& pattern : score.file.patterns)
            rows.push_back(unpack(pattern, channels(score)));
    }
    static std::size_t channels(const Score& score) {
        return std::clamp<std::uint32_t>(score.run.settings.maxChannels, 1, 32);
    }
    Status status;
    CaptureConsole console;
    std::vector<std::vector<std::vector<Cell>>> rows;  // pattern, row, channel
};

TEST(PackRow, CellsPackWithFlagByte) {
    struct Case {
        const char* name;
        NoteCell cell;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"full cell", {61, 1, 0x42, 0x08, 0x80, 0}, {0x9F, 0x3D, 0x01, 0x42, 0x08, 0x80}},
        {"key off", {-1, -1, -1, 0x14, -1, 0}, {0x88, 0x14}},
        {"note cut", {-1, -1, -1, 0x0E, 0xC0, 0}, {0x98, 0x0E, 0xC0}},
        {"empty", {}, {0x80}},
        {"volume only", {-1, -1, 0xA7, -1, -1, 0}, {0x84, 0xA7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 1);
        NoteContext ctx = score.context();
        ctx.cells[0] = c.cell;
        PatternRecord pattern;
        pattern.packedData.resize(6);
        packRow(ctx, pattern);
        ASSERT_EQ(pattern.packedSize, c.bytes.size());
        EXPECT_EQ(std::vector<std::uint8_t>(pattern.packedData.begin(),
                                            pattern.packedData.begin() + pattern.packedSize),
                  c.bytes);
        EXPECT_EQ(ctx.cells[0].note, -1);
        EXPECT_EQ(ctx.cells[0].param, -1);
    }
}

TEST(BuildNoteData, EmptyPieceGetsFullVolumeRowAndClosingRow) {
    Score score(1, 4);
    score.file.midi.tracks[0].events.push_back(metaEvent(kMetaEndOfTrack, {}));
    Build build(score, 0, 0);
    EXPECT_EQ(build.status, Status::Ok);
    EXPECT_EQ(build.console.out,
              "No of patterns: 1\nCreating XM note data..\nChannels present: 2\n");
    ASSERT_EQ(score.file.patterns.size(), 2u);
    EXPECT_EQ(score.file.header.patternCount, 2);
    EXPECT_EQ(score.file.header.songLength, 2);
    EXPECT_EQ(score.file.header.channelCount, 2);
    const std::vector<std::uint8_t> fullVolume = {0x84, 0x50, 0x84, 0x50, 0x84, 0x50, 0x84, 0x50};
    EXPECT_EQ(score.file.patterns[0].packedData, fullVolume);
    EXPECT_EQ(score.file.patterns[1].packedData, std::vector<std::uint8_t>(4, 0x80));
    for (const PatternRecord& pattern : score.file.patterns) {
        EXPECT_EQ(pattern.rowCount, 1);
        EXPECT_EQ(pattern.headerLength, 9u);
        EXPECT_EQ(pattern.packedSize, pattern.packedData.size());
    }
}

TEST(BuildNoteData, ChannelLimitIsKeptWithinTheFormat) {
    const std::uint32_t cases[][2] = {{0, 1}, {1, 1}, {32, 32}, {100, 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Score score(1, c[0]);
        Build build(score, 0, 254);
        EXPECT_EQ(score.file.patterns[0].packedSize, 2 * c[1] + 254 * c[1]);
    }
}

TEST(BuildNoteData, ReleaseTimeline) {
    // Speed 3, sustain envelope with releaseTime 30: note from row 0, note-off
    // in row 4, key off in row 5, cut when elapsed reaches the release.
    struct Case {
        const char* name;
        bool percussion;
        std::uint32_t releaseFactor;
        std::size_t cutRow;
    };
    const Case cases[] = {
        {"melodic, factor 1000", false, 1000, 15},
        {"melodic, factor 500", false, 500, 10},
        {"percussion uses the program entry's factor", true, 2000, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(3, 4);
        const std::uint8_t ch = c.percussion ? 9 : 0;
        if (c.percussion) {
            score.addInstrument(0, plainInstrument(), c.releaseFactor);
            score.addInstrument(kPercussionBase + 61, sustainedInstrument(30), 1000);
        } else {
            score.addInstrument(0, sustainedInstrument(30), c.releaseFactor);
        }
        auto& events = score.file.midi.tracks[0].events;
        events.push_back(noteOnAt(ch, 61, 0));
        events.push_back(noteOffAt(ch, 61, 4));
        // A note in the row of the cut cannot have the cut channel yet.
        const auto cutRow = static_cast<std::uint16_t>(c.cutRow);
        events.push_back(noteOnAt(1, 70, cutRow));
        events.push_back(noteOnAt(1, 72, static_cast<std::uint16_t>(cutRow + 1)));
        Build build(score, 0, 30);
        const auto& rows = build.rows[0];

        EXPECT_EQ(rows[1][0].volume, 0xA7);  // vibrato speed after the note start
        for (std::size_t r = 1; r <= c.cutRow; ++r) {
            SCOPED_TRACE(r);
            const int expected = r == 5 ? 0x14 : r == c.cutRow ? 0x0E : -1;
            EXPECT_EQ(rows[r][0].effect, expected);
        }
        EXPECT_EQ(rows[5][0].param, -1);
        EXPECT_EQ(rows[c.cutRow][0].param, 0xC0);
        EXPECT_EQ(rows[c.cutRow][1].note, 70);
        EXPECT_EQ(rows[c.cutRow + 1][0].note, 72);
    }
}

TEST(BuildNoteData, ClosingPatternCoversPendingRelease) {
    struct Case {
        const char* name;
        std::uint32_t releaseTime;
        bool dirtyEnd;
        bool noteOff;
        std::size_t patterns;
        std::uint16_t closingRows;
    };
    const Case cases[] = {
        {"release of 40 ticks", 40, false, true, 2, 40},
        {"release of 300 ticks is limited", 300, false, true, 2, 255},
        {"note never switched off", 40, false, false, 2, 1},
        {"dirtyEnd keeps the last row", 40, true, true, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(3, 2);
        if (c.dirtyEnd) score.run.settings.optionFlags |= kDirtyEnd;
        score.addInstrument(0, sustainedInstrument(c.releaseTime));
        auto& events = score.file.midi.tracks[0].events;
        events.push_back(noteOnAt(0, 61, 0));
        if (c.noteOff) events.push_back(noteOffAt(0, 61, 3));
        Build build(score, 0, 3);
        ASSERT_EQ(score.file.patterns.size(), c.patterns);
        EXPECT_EQ(score.file.header.patternCount, c.patterns);
        EXPECT_EQ(score.file.header.songLength, c.patterns);
        EXPECT_EQ(score.file.patterns[0].rowCount, 4);
        if (c.patterns == 1) {
            EXPECT_EQ(build.rows[0][3][0].effect, -1);  // neither released nor cut
            continue;
        }
        const auto& closing = build.rows[1];
        EXPECT_EQ(score.file.patterns[1].rowCount, c.closingRows);
        if (c.noteOff) {
            EXPECT_EQ(closing[0][0].effect, 0x14);
            const std::size_t cutRow = (c.releaseTime + 2) / 3;  // first row with elapsed >= release
            if (cutRow < closing.size()) {
                EXPECT_EQ(closing[cutRow][0].param, 0xC0);
            }
        }
    }
}

TEST(BuildNoteData, ClosingPatternOnlyWhileTheOrderTableHasRoom) {
    struct Case {
        std::uint32_t lastPattern;
        std::size_t patterns;
    };
    const Case cases[] = {{254, 256}, {255, 256}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastPattern);
        Score score(1, 1);
        Build build(score, c.lastPattern, 0);
        EXPECT_EQ(score.file.patterns.size(), c.patterns);
        EXPECT_EQ(score.file.header.patternCount, c.patterns);
        EXPECT_EQ(build.console.out,
                  "No of patterns: " + std::to_string(c.lastPattern + 1) +
                      "\nCreating XM note data" + std::string(c.patterns, '.') +
                      "\nChannels present: 2\n");
    }
}

TEST(BuildNoteData, ChannelCountIsEvenAndAtLeastTwo) {
    const std::size_t cases[][2] = {{0, 2}, {1, 2}, {2, 2}, {3, 4}, {4, 4}, {5, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Score score(1, 8);
        score.addInstrument(0, plainInstrument());
        for (std::size_t n = 0; n < c[0]; ++n)
            score.file.midi.tracks[0].events.push_back(
                noteOnAt(0, static_cast<std::uint8_t>(40 + n), 0));
        Build build(score, 0, 0);
        EXPECT_EQ(score.file.header.channelCount, c[1]);
        EXPECT_EQ(build.console.out.substr(build.console.out.rfind("Channels")),
                  "Channels present: " + std::to_string(c[1]) + "\n");
    }
}

TEST(BuildNoteData, RefusedPanningIsRetriedOnFollowingRows) {
    // One channel, noPan: the tempo change of the first track takes the
    // slot, so the note's fixed panning comes one row later.
    Score score(1, 1);
    score.run.settings.optionFlags |= kNoPan;
    score.addInstrument(0, plainInstrument());
    score.file.midi.tracks.resize(2);
    score.file.midi.tracks[0].events.push_back(metaEvent(kMetaSetTempo, {0x07, 0xA1, 0x20}));
    score.file.midi.tracks[1].events.push_back(noteOnAt(0, 61, 0));
    Build build(score, 0, 3);
    const auto& rows = build.rows[0];
    EXPECT_EQ(rows[0][0], (Cell{61, 1, 0x42, 0x0F, 0xF0}));
    EXPECT_EQ(rows[1][0], (Cell{-1, -1, 0xA7, 0x08, 0x01}));
    EXPECT_EQ(rows[2][0], Cell{});
}

TEST(BuildNoteData, BendUnfinishedInOneRowContinues) {
    Score score(1, 2);
    score.addInstrument(0, plainInstrument());
    auto& events = score.file.midi.tracks[0].events;
    events.push_back(noteOnAt(0, 61, 0));
    events.push_back(channelEvent(0xE0, 0x7F, 0x7F, 0, 0));  // 30 units up
    Build build(score, 0, 4);
    const auto& rows = build.rows[0];
    EXPECT_EQ(rows[0][0].effect, 0x08);  // panning beats the slide at the note start
    for (std::size_t r = 1; r <= 2; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(rows[r][0].effect, 0x0E);
        EXPECT_EQ(rows[r][0].param, 0x1F);
    }
    EXPECT_EQ(rows[3][0].effect, -1);
}

}  // namespace
}  // namespace korvalin
