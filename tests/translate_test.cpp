#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "notedata_fixture.h"

namespace korvalin {
namespace {

using namespace korvalin::test;

MidiEvent controller(int ch, int number, int value) {
    return channelEvent(0, 0xB0 | ch, number, value);
}
MidiEvent bend(int ch, int value) {
    return channelEvent(0, 0xE0 | ch, (value + 8192) & 0x7F, (value + 8192) >> 7);
}

// Packs the row into a scratch pattern, which applies the slides and clears the cells.
void nextRow(NoteContext& ctx) {
    PatternRecord scratch;
    packRow(ctx, scratch);
}

TEST(TranslateNoteOn, ChoosesChannelAndPansTheNote) {
    // Key 64 arrives at time 20 in module tick 2: its note delay gives way to
    // the panning that every note start writes.
    struct Busy {
        ChannelState state;
        std::int16_t note;
        std::uint32_t start, release;
    };
    struct Case {
        const char* name;
        Busy busy[2];
        bool noPan;
        std::size_t chosen;
        int pan;
    };
    using S = ChannelState;
    const Busy freeChannel = {S::Free, -1, 0, 0}, playing = {S::Playing, 60, 0, 0};
    const Case cases[] = {
        {"lowest free channel, MIDI pan 64", {playing, freeChannel}, false, 1, 0x80},
        {"noPan, even channel", {freeChannel, freeChannel}, true, 0, 1},
        {"noPan, odd channel", {playing, freeChannel}, true, 1, 255},
        {"same note while releasing re-uses its channel",
         {playing, {S::Releasing, 64, 5, 30}},
         false,
         1,
         0x80},
        {"both playing: the older note is stolen",
         {{S::Playing, 60, 9, 0}, {S::Playing, 62, 4, 0}},
         false,
         1,
         0x80},
        {"a releasing note is stolen before a playing one",
         {{S::Releasing, 60, 9, 30}, {S::Playing, 62, 4, 0}},
         false,
         0,
         0x80},
        {"of two releasing notes the nearer end is stolen",
         {{S::Releasing, 60, 0, 30}, {S::KeyOffPending, 62, 0, 10}},
         false,
         1,
         0x80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(3, 2);
        if (c.noPan) score.run.settings.optionFlags |= kNoPan;
        score.addInstrument(0, plainInstrument());
        NoteContext ctx = score.context();
        for (std::size_t k = 0; k < 2; ++k) {
            const Busy& b = c.busy[k];
            ctx.channels[k] = {.note = b.note,
                               .instrument = 1,
                               .startTime = b.start,
                               .state = b.state,
                               .midiChannel = 0,
                               .releaseTicks = b.release};
        }
        MidiEvent event = at(on(0, 0, 64), 0, 2);
        event.time = 20;
        translateNoteOn(ctx, event);
        EXPECT_EQ(cellOf(ctx.cells[c.chosen]), (Cell{64, 1, 0x42, 0x08, c.pan}));
        EXPECT_EQ(ctx.cells[1 - c.chosen].note, -1);
        EXPECT_EQ(ctx.channels[c.chosen].state, ChannelState::Playing);
        EXPECT_EQ(ctx.channels[c.chosen].startTime, 20u);
        EXPECT_EQ(ctx.channels[c.chosen].panning, c.pan);
    }
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
        {"scaling below 0 is limited", 2, 1, 0, 0, 4096, 1, 1},
        {"transposed key", 100, 1, 10, 0, 1024, 1, 90},
        {"key far above the keymap is limited", 128, 1, 0, 0, 1024, 1, 96},
        {"key below the transpose plays the lowest note", 5, 1, 33, 0, 1024, 1, 1},
        {"keymap naming no sample uses sample 0", 61, 1, 0, 7, 1024, 2, 61},
        {"instrument without samples still plays", 61, 1, 0, 0, 1024, 0, 61},
        {"program without patch is dropped", 61, 0, 0, 0, 1024, 1, -1},
        {"number beyond the loaded instruments is dropped", 61, 3, 0, 0, 1024, 1, -1},
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

TEST(TranslateNoteOff, ReleaseTimesByEnvelope) {
    struct Case {
        const char* name;
        int volumeType, points, lastX, elapsed;
        bool sustainPedal;
        std::uint32_t releaseTicks, keyOffDelay;
    };
    const Case cases[] = {
        {"no envelope", 0, 0, 0, 5, false, 1, 0},
        {"envelope without sustain waits for its end", 1, 3, 40, 10, false, 0, 30},
        {"envelope already over", 1, 3, 40, 50, false, 0, 0},
        {"envelope switched on without points", 1, 0, 0, 10, false, 1, 0},
        {"sustain envelope, pedal held", 2, 2, 10, 5, true, 30, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(3, 2);
        InstrumentRecord instrument = plainInstrument();
        instrument.volumeType = c.volumeType;
        instrument.volumePointCount = c.points;
        if (c.points) instrument.volumeEnvelope[c.points - 1].x = c.lastX;
        instrument.releaseTime = 30;
        score.addInstrument(0, instrument);
        NoteContext ctx = score.context();
        if (c.sustainPedal) translateController(ctx, controller(0, 64, 127));
        translateNoteOn(ctx, on(0, 0, 61));
        ctx.channels[0].elapsed = c.elapsed;
        translateNoteOff(ctx, off(0, 0, 61));
        EXPECT_EQ(ctx.channels[0].state, ChannelState::KeyOffPending);
        EXPECT_EQ(ctx.channels[0].elapsed, 0u);
        EXPECT_EQ(ctx.channels[0].releaseTicks, c.releaseTicks);
        EXPECT_EQ(ctx.channels[0].keyOffDelay, c.keyOffDelay);
    }
}

TEST(TranslatePitchBend, SlidesTowardsTheBendTarget) {
    struct Case {
        const char* name;
        std::uint32_t speed;
        int offset, bend, effect, param, slide;
    };
    const Case cases[] = {
        {"speed 3, 60 units up", 3, -30, 8191, 0x01, 30, 60},
        {"speed 3, 60 units down", 3, 30, -8192, 0x02, 30, -60},
        {"speed 1, 60 units up is a fine slide", 1, -30, 8191, 0x0E, 0x1F, 15},
        {"small step down", 3, 0, -273 * 4, 0x0E, 0x24, -4},
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

TEST(TranslateController, BendRangeFromDataEntry) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> controllers;
        int divisor;
    };
    const Case cases[] = {
        {"12 semitones", {{101, 0}, {100, 0}, {6, 12}}, 45},
        {"127 semitones", {{100, 0}, {101, 0}, {6, 127}}, 4},
        {"value 0 is ignored", {{101, 0}, {100, 0}, {6, 0}}, 273},
        {"only one half selected", {{100, 0}, {6, 12}}, 273},
        {"another parameter", {{101, 0}, {100, 1}, {6, 12}}, 273},
        {"flags cleared by the first entry", {{101, 0}, {100, 0}, {6, 12}, {6, 1}}, 45},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 1);
        NoteContext ctx = score.context();
        for (const auto& [number, value] : c.controllers)
            translateController(ctx, controller(2, number, value));
        EXPECT_EQ(ctx.midi[2].bendDivisor, c.divisor);
        EXPECT_EQ(score.run.rpnFlags, 0);
        EXPECT_EQ(ctx.midi[0].bendDivisor, 273);
    }
}

TEST(TranslateController, VolumeModulationPanAndSustain) {
    Score score(1, 4);
    score.addInstrument(0, plainInstrument());
    NoteContext ctx = score.context();
    translateNoteOn(ctx, on(0, 0, 61, 127));
    translateNoteOn(ctx, on(0, 1, 61, 127));
    nextRow(ctx);
    translateController(ctx, controller(0, 7, 127));
    translateController(ctx, controller(0, 1, 100));
    EXPECT_EQ(ctx.cells[0].volume, 0x4E) << "set volume beats the vibrato command";
    EXPECT_EQ(ctx.cells[1].volume, -1);
    EXPECT_EQ(ctx.channels[0].vibratoDepth, 4);
    nextRow(ctx);
    translateController(ctx, controller(0, 1, 10));  // depth 0: notes keep theirs
    EXPECT_EQ(ctx.channels[0].vibratoDepth, 4);
    EXPECT_EQ(ctx.cells[0].volume, -1);

    translateController(ctx, controller(1, 10, 20));
    EXPECT_EQ(cellOf(ctx.cells[1]), (Cell{-1, -1, -1, 0x08, 40}));
    EXPECT_EQ(ctx.channels[1].panning, 40);

    translateController(ctx, controller(0, 64, 127));
    translateNoteOff(ctx, off(0, 0, 61));
    EXPECT_EQ(ctx.channels[0].keyOffDelay, 16u);
    translateController(ctx, controller(0, 64, 64));  // 63 and 64 change nothing
    EXPECT_EQ(ctx.midi[0].sustain, 16);
    translateController(ctx, controller(0, 64, 0));
    EXPECT_EQ(ctx.channels[0].keyOffDelay, 0u);
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
        {"faster than the format allows", {0x00, 0x10, 0x00}, 2, 1, 255},
        {"slower than the format allows", {0xFF, 0xFF, 0xFF}, 2, 1, 32},
        {"speed 3", {0x07, 0xA1, 0x20}, 8, 3, 180},
        {"tempo 0", {0x00, 0x00, 0x00}, 2, 1, 255},
        {"missing payload bytes count as 0", {0x07, 0xA1}, 2, 1, 240},
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

}  // namespace
}  // namespace korvalin
