// The note-data builder: event translation, effect and volume-column
// arbitration, packing and the closing pattern.
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
        const auto channels = std::clamp<std::uint32_t>(score.run.settings.maxChannels, 1, 32);
        for (const PatternRecord& pattern : score.file.patterns)
            rows.push_back(unpack(pattern, channels));
    }
    Status status;
    CaptureConsole console;
    std::vector<std::vector<std::vector<Cell>>> rows;  // pattern, row, channel
};

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

MidiEvent bend(int ch, int value) {
    return channelEvent(0, 0xE0 | ch, (value + 8192) & 0x7F, (value + 8192) >> 7);
}

TEST(TranslateNoteOn, ModuleNoteFromKeymapScalingAndTransposeOrDropped) {
    // mapped: the instrument number in the map entry; cellNote -1: the note is dropped
    struct Case {
        const char* name;
        int key, mapped, transpose, keymapEntry, scaleFactor;
        std::size_t samples;
        int cellNote;
    };
    const Case cases[] = {
        {"half scaling around the root", 73, 1, 0, 0, 512, 1, 67},
        {"transposed key", 100, 1, 10, 0, 1024, 1, 90},
        {"key below the transpose plays the lowest note", 5, 1, 33, 0, 1024, 1, 1},
        {"keymap naming no sample uses sample 0", 61, 1, 0, 7, 1024, 2, 61},
        {"program without patch is dropped", 61, 0, 0, 0, 1024, 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 2);
        InstrumentRecord instrument;
        instrument.transpose = c.transpose;
        instrument.keymap.fill(c.keymapEntry);
        instrument.samples.resize(c.samples);
        for (SampleRecord& sample : instrument.samples) {
            sample.scaleRoot = 60;
            sample.scaleFactor = c.scaleFactor;
        }
        score.addInstrument(0, instrument);
        score.run.patchMap[0].instrument = c.mapped;
        NoteContext ctx = score.context();
        const bool plays = c.cellNote != -1;
        translateNoteOn(ctx, on(0, 0, c.key));
        EXPECT_EQ(ctx.cells[0].note, c.cellNote);
        EXPECT_EQ(ctx.channels[0].everUsed, plays ? 1u : 0u);
        for (std::size_t s = 0; s < c.samples; ++s)
            EXPECT_EQ(score.file.instruments[0].samples[s].used, plays && s == 0);
        // The note-off finds the note again.
        translateNoteOff(ctx, off(0, 0, c.key));
        EXPECT_EQ(ctx.channels[0].state, plays ? ChannelState::KeyOffPending : ChannelState::Free);
    }
}

// A damaged file's data bytes of 0x80 and above count as 127, so the volume
// byte stays a set-volume byte rather than becoming a volume slide.
TEST(TranslateNoteOn, DamagedDataBytesKeepTheSetVolumeRange) {
    Score score(1, 2);
    score.addInstrument(0, plainInstrument());
    NoteContext ctx = score.context();
    translateController(ctx, channelEvent(0, 0xB0, 7, 0xFF));
    translateNoteOn(ctx, on(0, 0, 61, 0xFF));
    EXPECT_EQ(ctx.cells[0].volume, 0x10 + 63 * 63 / 64);
}

TEST(TranslatePitchBend, SlidesTowardsTheBendTarget) {
    struct Case {
        const char* name;
        std::uint32_t speed;
        int offset, bend, effect, param, slide;
    };
    const Case cases[] = {
        {"speed 3, 60 units up", 3, -30, 8191, 0x01, 30, 60},
        {"speed 1, 60 units up is a fine slide", 1, -30, 8191, 0x0E, 0x1F, 15},
        {"already there clears the cell", 3, 30, 8191, -1, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(c.speed, 2);
        NoteContext ctx = score.context();
        ctx.channels[0].state = ChannelState::Playing;
        ctx.channels[0].midiChannel = 0;
        ctx.channels[0].pitchOffset = static_cast<std::int16_t>(c.offset);
        ctx.cells[0].effect = 0x0E;  // a note delay, replaced or cleared
        ctx.cells[0].param = 0xD1;
        translatePitchBend(ctx, bend(0, c.bend));
        EXPECT_EQ(cellOf(ctx.cells[0]), (Cell{-1, -1, -1, c.effect, c.param}));
        EXPECT_EQ(ctx.cells[0].slide, c.slide);
        EXPECT_EQ(ctx.midi[0].pitchBend, c.bend);
    }
}

TEST(TranslateTempo, SetBpmFromTempo) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> payload;
        std::uint32_t ticksPerRow, speed;
        int bpm;
    };
    const Case cases[] = {
        {"120 beats per minute", {0x07, 0xA1, 0x20}, 2, 1, 0xF0},
        {"speed 3", {0x07, 0xA1, 0x20}, 8, 3, 180},
        {"tempo 0", {0x00, 0x00, 0x00}, 2, 1, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(c.speed, 2);
        score.file.timing.ticksPerRow = c.ticksPerRow;
        NoteContext ctx = score.context();
        translateTempo(ctx, meta(0, kMetaSetTempo, c.payload));
        EXPECT_EQ(ctx.cells[0].effect, 0x0F);
        EXPECT_EQ(ctx.cells[0].param, c.bpm);
    }
}

TEST(PlaceEffect, WeakerNeverReplacesStronger) {
    struct Case {
        const char* name;
        int oldEffect, oldParam, newEffect, newParam, placed, effect, param;
    };
    const Case cases[] = {
        {"panning replaces note delay", 0x0E, 0xD2, 0x08, 0x80, true, 0x08, 0x80},
        {"portamento refused by panning", 0x08, 0x80, 0x01, 0x10, false, 0x08, 0x80},
        {"key off replaces panning", 0x08, 0x80, 0x14, -1, true, 0x14, -1},
        {"note cut replaces key off", 0x14, -1, 0x0E, 0xC0, true, 0x0E, 0xC0},
        {"equal priority replaces", 0x08, 0x80, 0x08, 0x20, true, 0x08, 0x20},
        {"class 0 is never placed", -1, -1, 0x12, 0x00, false, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(3, 1);
        NoteContext ctx = score.context();
        ctx.cells[0].effect = static_cast<std::int16_t>(c.oldEffect);
        ctx.cells[0].param = static_cast<std::int16_t>(c.oldParam);
        ctx.cells[0].slide = c.oldEffect == 0x01 ? 60 : 0;
        EXPECT_EQ(placeEffect(ctx, 0, 0, c.newEffect, c.newParam), bool(c.placed));
        EXPECT_EQ(ctx.cells[0].effect, c.effect);
        EXPECT_EQ(ctx.cells[0].param, c.param);
        EXPECT_EQ(ctx.channels[0].everUsed, c.placed ? 1u : 0u);
        // A replaced slide no longer moves the pitch.
        if (c.placed) {
            EXPECT_EQ(ctx.cells[0].slide, 0);
        }
    }
}

TEST(PutVolume, SetVolumeBeatsCommandsTheTweakCurveBendsSetVolume) {
    struct Case {
        const char* name;
        int before, byte;
        bool tweak, written;
        int after, speedSent;
    };
    const Case cases[] = {
        {"empty column", -1, 0xB3, false, true, 0xB3, 7},
        {"volume replaces vibrato depth", 0xB3, 0x42, false, true, 0x42, 7},
        {"vibrato depth refused after volume", 0x42, 0xB3, false, false, 0x42, 7},
        {"vibrato speed replaces depth", 0xB3, 0xA7, false, true, 0xA7, 7},
        {"later volume wins", 0x30, 0x42, false, true, 0x42, 7},
        {"overwritten vibrato speed is sent again", 0xA7, 0x40, false, true, 0x40, -1},
        {"tweak keeps 0x10", -1, 0x10, true, true, 0x10, 7},
        {"tweak bends 0x40", -1, 0x40, true, true, 0x25, 7},
        {"tweak keeps 0x50 below 0x50", -1, 0x50, true, true, 0x4F, 7},
        {"tweak leaves commands alone", -1, 0xA7, true, true, 0xA7, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 1);
        if (c.tweak) score.run.settings.optionFlags |= kTweakVolume;
        NoteContext ctx = score.context();
        ctx.cells[0].volume = static_cast<std::int16_t>(c.before);
        ctx.channels[0].vibratoSpeedSent = 7;
        EXPECT_EQ(putVolume(ctx, c.byte, 0), c.written);
        EXPECT_EQ(ctx.cells[0].volume, c.after);
        EXPECT_EQ(ctx.channels[0].vibratoSpeedSent, c.speedSent);
    }
}

}  // namespace
}  // namespace korvalin
