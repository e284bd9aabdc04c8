#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "notedata_fixture.h"
#include "score/Score.h"

namespace korvalin {
namespace {

using namespace korvalin::test;

// Runs the builder the way the module header stage does and keeps the text.
struct Build {
    Build(Score& score, std::uint32_t lastPattern, std::uint32_t lastRow) {
        score.file.header.patternCount = static_cast<std::uint16_t>(lastPattern + 1);
        score.file.header.songLength = static_cast<std::uint16_t>(lastPattern + 1);
        score.file.patterns.resize(lastPattern + 1);
        status = buildNoteData(score.run, score.file, lastPattern, lastRow, console);
        for (const PatternRecord& pattern : score.file.patterns)
            rows.push_back(unpack(pattern, score.file.header.channelCount));
    }
    Status status;
    CaptureConsole console;
    std::vector<std::vector<std::vector<Cell>>> rows;  // pattern, row, channel
};

TEST(PackRow, CellsPackWithFlagByteForTheModuleChannels) {
    // Two channels built; the module has `channels` of them.
    const std::vector<std::uint8_t> full = {0x9F, 0x3D, 0x01, 0x42, 0x08, 0x80};
    const NoteCell fullCell = {61, 1, 0x42, 0x08, 0x80, 0}, cut = {-1, -1, -1, 0x0E, 0xC0, 0};
    struct Case {
        const char* name;
        NoteCell cells[2];
        std::size_t channels;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"full cell", {fullCell, {}}, 2, {0x9F, 0x3D, 0x01, 0x42, 0x08, 0x80, 0x80}},
        {"key off", {{}, {-1, -1, -1, 0x14, -1, 0}}, 2, {0x80, 0x88, 0x14}},
        {"note cut beyond the module's channels", {{}, cut}, 1, {0x80}},
        {"more module channels than built", {cut, {}}, 4, {0x98, 0x0E, 0xC0, 0x80, 0x80, 0x80}},
        {"empty", {{}, {}}, 2, {0x80, 0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 2);
        NoteContext ctx = score.context();
        PatternRecord pattern;
        pattern.rowCount = 2;
        for (std::size_t k = 0; k < 2; ++k) ctx.cell(k) = c.cells[k];
        packRow(ctx, pattern);
        EXPECT_EQ(ctx.cells[0].note, -1);  // the cells are cleared for the next row
        packRow(ctx, pattern);
        std::vector<std::uint8_t> scratch;
        packPattern(pattern, c.channels, scratch, score.console);
        std::vector<std::uint8_t> rows = c.bytes;
        rows.insert(rows.end(), c.channels, 0x80);  // the second row is empty
        EXPECT_EQ(pattern.packedData, rows);
        EXPECT_EQ(pattern.packedSize, rows.size());
    }
}

TEST(BuildNoteData, EmptyPieceGetsFullVolumeRowAndClosingRow) {
    Score score(1, 4);
    score.file.midi.tracks[0].events.push_back(end(0));
    Build build(score, 0, 0);
    EXPECT_EQ(build.status, Status::Ok);
    EXPECT_EQ(build.console.out,
              "No of patterns: 1\nCreating XM note data..\nChannels present: 2\n");
    ASSERT_EQ(score.file.patterns.size(), 2u);
    EXPECT_EQ(score.file.header.patternCount, 2);
    EXPECT_EQ(score.file.header.songLength, 2);
    EXPECT_EQ(score.file.header.channelCount, 2);
    const std::vector<std::uint8_t> fullVolume = {0x84, 0x50, 0x84, 0x50};
    EXPECT_EQ(score.file.patterns[0].packedData, fullVolume);
    EXPECT_EQ(score.file.patterns[1].packedData, std::vector<std::uint8_t>(2, 0x80));
    for (const PatternRecord& pattern : score.file.patterns) {
        EXPECT_EQ(pattern.rowCount, 1);
        EXPECT_EQ(pattern.headerLength, 9u);
        EXPECT_EQ(pattern.packedSize, pattern.packedData.size());
    }
}

TEST(BuildNoteData, ChannelLimitIsKeptWithinTheFormat) {
    // A chord of 40 notes takes every channel there is.
    const std::uint32_t cases[][2] = {{0, 2}, {1, 2}, {32, 32}, {100, 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Score score(1, c[0]);
        score.addInstrument(0, plainInstrument());
        for (int n = 0; n < 40; ++n)
            score.file.midi.tracks[0].events.push_back(at(on(0, 0, 40 + n), 0));
        Build build(score, 0, 1);
        EXPECT_EQ(score.file.header.channelCount, c[1]);
        EXPECT_EQ(build.rows[0][0][0].note, 79);  // each note past the limit steals channel 0
    }
}

TEST(BuildNoteData, ChannelCountIsEvenAndAtLeastTwo) {
    const std::size_t cases[][2] = {{0, 2}, {1, 2}, {2, 2}, {3, 4}, {5, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Score score(1, 8);
        score.addInstrument(0, plainInstrument());
        for (std::size_t n = 0; n < c[0]; ++n)  // a chord, on the lowest free channels
            score.file.midi.tracks[0].events.push_back(at(on(0, 0, 40 + int(n)), 0));
        Build build(score, 0, 0);
        EXPECT_EQ(score.file.header.channelCount, c[1]);
        for (std::size_t n = 0; n < c[0]; ++n) EXPECT_EQ(build.rows[0][0][n].note, 40 + int(n));
    }
}

TEST(BuildNoteData, ReleaseTimeline) {
    // Speed 3, sustain envelope with releaseTime 30: note from row 0, note-off
    // in row 4, key off in row 5, cut when elapsed reaches the release.
    // Percussion plays the drum note 50 of the key's instrument.
    struct Case {
        const char* name;
        bool percussion;
        std::uint32_t releaseFactor, cutRow;
    };
    const Case cases[] = {
        {"melodic, factor 1000", false, 1000, 15},
        {"melodic, factor 500", false, 500, 10},
        {"percussion uses the program entry's factor", true, 2000, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(3, 4);
        const int ch = c.percussion ? 9 : 0;
        if (c.percussion) {
            score.addInstrument(0, plainInstrument(), c.releaseFactor);
            InstrumentRecord drum = sustainedInstrument(30);
            drum.drumNote = 50;
            score.addInstrument(kPercussionBase + 61, drum, 1000);
        } else {
            score.addInstrument(0, sustainedInstrument(30), c.releaseFactor);
        }
        // A note in the row of the cut cannot have the cut channel yet.
        const auto cutRow = static_cast<std::uint16_t>(c.cutRow);
        score.file.midi.tracks[0].events = {at(on(0, ch, 61), 0), at(off(0, ch, 61), 4),
                                            at(on(0, 1, 70), cutRow), at(on(0, 1, 72), cutRow + 1)};
        Build build(score, 0, 30);
        const auto& rows = build.rows[0];
        EXPECT_EQ(rows[0][0].note, c.percussion ? 50 : 61);
        EXPECT_EQ(rows[1][0].volume, 0xA7);  // vibrato speed after the note start
        for (std::size_t r = 1; r <= c.cutRow; ++r) {
            SCOPED_TRACE(r);
            EXPECT_EQ(rows[r][0].effect, r == 5 ? 0x14 : r == c.cutRow ? 0x0E : -1);
        }
        EXPECT_EQ(rows[5][0].param, -1);
        EXPECT_EQ(rows[c.cutRow][0].param, 0xC0);
        EXPECT_EQ(rows[c.cutRow][1].note, 70);
        EXPECT_EQ(rows[c.cutRow + 1][0].note, 72);
    }
}

TEST(BuildNoteData, ClosingPatternCoversPendingRelease) {
    // Speed 3, note-off in the last row (3): the closing pattern starts with
    // the key off and is long enough for the release to end in a cut.
    struct Case {
        const char* name;
        std::uint32_t release;
        bool dirtyEnd, noteOff;
        int rows, cut;
    };
    const Case cases[] = {
        {"release of 40 ticks", 40, false, true, 40, 14},
        {"release of 300 ticks is limited", 300, false, true, 255, 100},
        {"note never switched off", 40, false, false, 1, 0},
        {"dirtyEnd keeps the last row", 40, true, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(3, 2);
        if (c.dirtyEnd) score.run.settings.optionFlags |= kDirtyEnd;
        score.addInstrument(0, sustainedInstrument(c.release));
        auto& events = score.file.midi.tracks[0].events;
        events.push_back(at(on(0, 0, 61), 0));
        if (c.noteOff) events.push_back(at(off(0, 0, 61), 3));
        Build build(score, 0, 3);
        const std::size_t patterns = c.dirtyEnd ? 1 : 2;
        ASSERT_EQ(score.file.patterns.size(), patterns);
        EXPECT_EQ(score.file.header.patternCount, patterns);
        EXPECT_EQ(score.file.header.songLength, patterns);
        EXPECT_EQ(score.file.patterns[0].rowCount, 4);
        if (c.dirtyEnd) {
            EXPECT_EQ(build.rows[0][3][0].effect, -1);  // neither released nor cut
            continue;
        }
        EXPECT_EQ(score.file.patterns[1].rowCount, c.rows);
        EXPECT_EQ(build.rows[1][0][0].effect, c.noteOff ? 0x14 : -1);
        if (c.cut) {
            EXPECT_EQ(build.rows[1][std::size_t(c.cut)][0], (Cell{-1, -1, -1, 0x0E, 0xC0}));
        }
    }
}

TEST(BuildNoteData, ClosingPatternOnlyWhileTheOrderTableHasRoom) {
    const std::uint32_t cases[][2] = {{254, 256}, {255, 256}};  // last pattern, patterns built
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Score score(1, 1);
        Build build(score, c[0], 0);
        EXPECT_EQ(score.file.patterns.size(), c[1]);
        EXPECT_EQ(score.file.header.patternCount, c[1]);
        EXPECT_EQ(build.console.out, "No of patterns: " + std::to_string(c[0] + 1) +
                                         "\nCreating XM note data" + std::string(c[1], '.') +
                                         "\nChannels present: 2\n");
    }
}

TEST(BuildNoteData, RefusedPanningIsRetriedOnFollowingRows) {
    // One channel, noPan: the tempo change of the first track takes the
    // slot, so the note's fixed panning comes one row later.
    Score score(1, 1);
    score.run.settings.optionFlags |= kNoPan;
    score.addInstrument(0, plainInstrument());
    score.file.midi.tracks = store(96, {{tempo(0, 500000)}, {at(on(0, 0, 61), 0)}}).tracks;
    Build build(score, 0, 3);
    const auto& rows = build.rows[0];
    EXPECT_EQ(rows[0][0], (Cell{61, 1, 0x42, 0x0F, 0xF0}));
    EXPECT_EQ(rows[1][0], (Cell{-1, -1, 0xA7, 0x08, 0x01}));
    EXPECT_EQ(rows[2][0], Cell{});
}

TEST(BuildNoteData, BendUnfinishedInOneRowContinues) {
    Score score(1, 2);
    score.addInstrument(0, plainInstrument());
    // 30 slide units up: more than one fine slide of 15 can make.
    score.file.midi.tracks[0].events = {at(on(0, 0, 61), 0), channelEvent(0, 0xE0, 0x7F, 0x7F)};
    Build build(score, 0, 4);
    const auto& rows = build.rows[0];
    EXPECT_EQ(rows[0][0].effect, 0x08);  // panning beats the slide at the note start
    EXPECT_EQ(rows[1][0], (Cell{-1, -1, 0xA7, 0x0E, 0x1F}));
    EXPECT_EQ(rows[2][0], (Cell{-1, -1, -1, 0x0E, 0x1F}));
    EXPECT_EQ(rows[3][0], Cell{});
}

}  // namespace
}  // namespace korvalin
