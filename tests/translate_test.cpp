#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "notedata_fixture.h"

namespace korvalin {
namespace {

using testing::channelEvent;
using testing::metaEvent;
using testing::plainInstrument;
using testing::Score;
using testing::sustainedInstrument;

MidiEvent noteOn(std::uint8_t ch, std::uint8_t key, std::uint8_t velocity = 100,
                 std::uint32_t time = 0, std::uint16_t tick = 0) {
    return channelEvent(static_cast<std::uint8_t>(0x90 | ch), key, velocity, 0, 0, tick, time);
}
MidiEvent noteOff(std::uint8_t ch, std::uint8_t key) {
    return channelEvent(static_cast<std::uint8_t>(0x80 | ch), key, 0);
}
MidiEvent controller(std::uint8_t ch, std::uint8_t number, std::uint8_t value) {
    return channelEvent(static_cast<std::uint8_t>(0xB0 | ch), number, value);
}
MidiEvent bend(std::uint8_t ch, std::int32_t value) {
    const std::int32_t raw = value + 8192;
    return channelEvent(static_cast<std::uint8_t>(0xE0 | ch), static_cast<std::uint8_t>(raw & 0x7F),
                        static_cast<std::uint8_t>(raw >> 7));
}

// Clears the cells as packing a row would, without a pattern buffer.
void nextRow(NoteContext& ctx) {
    for (std::size_t c = 0; c < ctx.cells.size(); ++c) {
        ctx.channels[c].pitchOffset =
            static_cast<std::int16_t>(ctx.channels[c].pitchOffset + ctx.cells[c].slide);
        ctx.cells[c] = NoteCell{};
    }
}

TEST(TranslateNoteOn, ChoosesChannelByReuseFreeOrSteal) {
    struct Case {
        const char* name;
        ChannelState states[2];
        std::uint8_t notes[2];
        std::uint32_t starts[2];
        std::uint32_t releaseTicks[2];
        std::size_t expected;
    };
    const Case cases[] = {
        {"lowest free channel", {ChannelState::Playing, ChannelState::Free}, {60, 62}, {0, 0}, {0, 0}, 1},
        {"same note while releasing re-uses its channel",
         {ChannelState::Playing, ChannelState::Releasing}, {60, 64}, {0, 5}, {0, 30}, 1},
        {"both playing: the older note is stolen",
         {ChannelState::Playing, ChannelState::Playing}, {60, 62}, {9, 4}, {0, 0}, 1},
        {"a releasing note is stolen before a playing one",
         {ChannelState::Releasing, ChannelState::Playing}, {60, 62}, {9, 4}, {30, 0}, 0},
        {"of two releasing notes the nearer end is stolen",
         {ChannelState::Releasing, ChannelState::KeyOffPending}, {60, 62}, {0, 0}, {30, 10}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 2);
        score.addInstrument(0, plainInstrument());
        NoteContext ctx = score.context();
        for (std::size_t k = 0; k < 2; ++k) {
            ctx.channels[k].state = c.states[k];
            ctx.channels[k].midiChannel = 0;
            ctx.channels[k].instrument = 1;
            ctx.channels[k].note = c.notes[k];
            ctx.channels[k].startTime = c.starts[k];
            ctx.channels[k].releaseTicks = c.releaseTicks[k];
        }
        translateNoteOn(ctx, noteOn(0, 64, 100, 20));
        EXPECT_EQ(ctx.cells[c.expected].note, 64);
        EXPECT_EQ(ctx.cells[c.expected].instrument, 1);
        EXPECT_EQ(ctx.cells[1 - c.expected].note, -1);
        EXPECT_EQ(ctx.channels[c.expected].state, ChannelState::Playing);
        EXPECT_EQ(ctx.channels[c.expected].startTime, 20u);
    }
}

TEST(TranslateNoteOn, PanningAtNoteStartReplacesTheNoteDelay) {
    // The note delay (0xD2 for tick 2) is placed first and then gives way to
    // the panning that every note start writes.
    struct Case {
        const char* name;
        bool noPan;
        std::size_t busyChannels;  // channels taken before the note
        int param;
    };
    const Case cases[] = {
        {"MIDI pan 64", false, 0, 0x80},
        {"noPan, even channel", true, 0, 1},
        {"noPan, odd channel", true, 1, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(3, 2);
        if (c.noPan) score.run.settings.optionFlags |= kNoPan;
        score.addInstrument(0, plainInstrument());
        NoteContext ctx = score.context();
        for (std::size_t k = 0; k < c.busyChannels; ++k) ctx.channels[k].state = ChannelState::Playing;
        const std::size_t ch = c.busyChannels;
        translateNoteOn(ctx, noteOn(0, 61, 100, 0, 2));
        EXPECT_EQ(ctx.cells[ch].volume, 0x42);
        EXPECT_EQ(ctx.cells[ch].effect, 0x08);
        EXPECT_EQ(ctx.cells[ch].param, c.param);
        EXPECT_EQ(ctx.channels[ch].panning, c.param);
    }
}

TEST(TranslateNoteOn, DroppedWithoutUsablePatch) {
    struct Case {
        const char* name;
        std::uint8_t mapped;  // instrument number in the map entry
        std::size_t loaded;   // instruments actually loaded
    };
    const Case cases[] = {
        {"program without patch", 0, 1},
        {"number beyond the loaded instruments", 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 2);
        for (std::size_t i = 0; i < c.loaded; ++i) score.addInstrument(5, plainInstrument());
        score.run.patchMap[0].instrument = c.mapped;
        NoteContext ctx = score.context();
        translateNoteOn(ctx, noteOn(0, 61));
        EXPECT_EQ(ctx.cells[0].note, -1);
        EXPECT_EQ(ctx.channels[0].state, ChannelState::Free);
        EXPECT_EQ(ctx.channels[0].everUsed, 0u);
        translateNoteOff(ctx, noteOff(0, 61));
        EXPECT_EQ(ctx.channels[0].state, ChannelState::Free);
    }
}

TEST(TranslateNoteOn, ModuleNoteFromKeymapScalingAndTranspose) {
    struct Case {
        const char* name;
        std::uint8_t key;
        std::int16_t transpose;
        std::int32_t scaleRoot;
        std::uint32_t scaleFactor;
        std::int16_t keymapEntry;  // for every note
        std::size_t samples;
        int cellNote;
        int usedSample;  // -1: none marked
    };
    const Case cases[] = {
        {"plain key", 61, 0, 60, 1024, 0, 1, 61, 0},
        {"half scaling around the root", 73, 0, 60, 512, 0, 1, 67, 0},
        {"scaling below 0 is limited", 2, 0, 60, 4096, 0, 1, 1, 0},
        {"transposed key", 100, 10, 60, 1024, 0, 1, 90, 0},
        {"key far above the keymap is limited", 128, 0, 60, 1024, 0, 1, 96, 0},
        {"key below the transpose plays the lowest note", 5, 33, 60, 1024, 0, 1, 1, 0},
        {"keymap naming no sample uses sample 0", 61, 0, 60, 1024, 7, 2, 61, 0},
        {"instrument without samples still plays", 61, 0, 0, 0, 0, 0, 61, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 2);
        InstrumentRecord instrument;
        instrument.transpose = c.transpose;
        instrument.keymap.fill(c.keymapEntry);
        instrument.samples.resize(c.samples);
        for (SampleRecord& sample : instrument.samples) {
            sample.scaleRoot = c.scaleRoot;
            sample.scaleFactor = c.scaleFactor;
        }
        score.addInstrument(0, instrument);
        NoteContext ctx = score.context();
        translateNoteOn(ctx, noteOn(0, c.key));
        EXPECT_EQ(ctx.cells[0].note, c.cellNote);
        for (std::size_t s = 0; s < c.samples; ++s)
            EXPECT_EQ(score.file.instruments[0].samples[s].used, static_cast<int>(s) == c.usedSample);
        // The note-off finds the note again.
        translateNoteOff(ctx, noteOff(0, c.key));
        EXPECT_EQ(ctx.channels[0].state, ChannelState::KeyOffPending);
    }
}

TEST(TranslateNoteOn, PercussionPlaysDrumNoteAndMatchesByInstrument) {
    Score score(1, 4);
    InstrumentRecord drum = plainInstrument();
    drum.drumNote = 50;
    score.addInstrument(kPercussionBase + 36, drum);
    score.addInstrument(kPercussionBase + 38, drum);
    NoteContext ctx = score.context();
    translateNoteOn(ctx, noteOn(9, 36));
    translateNoteOn(ctx, noteOn(9, 38));
    translateNoteOn(ctx, noteOn(9, 36));  // same key again: same channel
    EXPECT_EQ(ctx.cells[0].note, 50);
    EXPECT_EQ(ctx.cells[0].instrument, 1);
    EXPECT_EQ(ctx.cells[1].instrument, 2);
    EXPECT_EQ(ctx.channels[2].state, ChannelState::Free);
    translateNoteOff(ctx, noteOff(9, 38));
    EXPECT_EQ(ctx.channels[1].state, ChannelState::KeyOffPending);
    EXPECT_EQ(ctx.channels[0].state, ChannelState::Playing);
    // A key outside the map is ignored.
    translateNoteOn(ctx, noteOn(9, 200));
    EXPECT_EQ(ctx.channels[2].state, ChannelState::Free);
}

TEST(TranslateNoteOff, ReleaseTimesByEnvelope) {
    struct Case {
        const char* name;
        std::uint8_t volumeType;
        std::uint8_t points;
        std::uint16_t lastX;
        std::uint32_t elapsed;
        bool sustainPedal;
        std::uint32_t releaseTicks, keyOffDelay;
    };
    const Case cases[] = {
        {"no envelope", 0, 0, 0, 5, false, 1, 0},
        {"no envelope, pedal held", 0, 0, 0, 5, true, 1, 16},
        {"envelope without sustain waits for its end", 1, 3, 40, 10, false, 0, 30},
        {"envelope already over", 1, 3, 40, 50, false, 0, 0},
        {"envelope switched on without points", 1, 0, 0, 10, false, 1, 0},
        {"sustain envelope, pedal up", 3, 2, 10, 5, false, 30, 0},
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
        translateNoteOn(ctx, noteOn(0, 61));
        ctx.channels[0].elapsed = c.elapsed;
        translateNoteOff(ctx, noteOff(0, 61));
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
        std::int16_t pitchOffset;
        std::int32_t bend;
        int effect, param, slide;
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
        ctx.channels[0].pitchOffset = c.pitchOffset;
        ctx.cells[0].effect = 0x0E;  // a note delay, replaced or cleared
        ctx.cells[0].param = 0xD1;
        translatePitchBend(ctx, bend(0, c.bend));
        EXPECT_EQ(ctx.cells[0].effect, c.effect);
        EXPECT_EQ(ctx.cells[0].param, c.param);
        EXPECT_EQ(ctx.cells[0].slide, c.slide);
        EXPECT_EQ(ctx.midi[0].pitchBend, c.bend);
    }
}

TEST(TranslatePitchBend, RefusedPortamentoLeavesPitchForNextRow) {
    Score score(3, 1);
    NoteContext ctx = score.context();
    ctx.channels[0].state = ChannelState::Playing;
    ctx.channels[0].midiChannel = 0;
    ctx.cells[0].effect = 0x08;
    ctx.cells[0].param = 0x80;
    translatePitchBend(ctx, bend(0, 8191));
    EXPECT_EQ(ctx.cells[0].effect, 0x08);
    nextRow(ctx);
    EXPECT_EQ(ctx.channels[0].pitchOffset, 0);
    updateChannels(ctx);  // the stored bend is tried again
    EXPECT_EQ(ctx.cells[0].effect, 0x01);
    EXPECT_EQ(ctx.cells[0].param, 15);
    EXPECT_EQ(ctx.cells[0].slide, 30);
}

TEST(TranslateController, BendRangeFromDataEntry) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint8_t, std::uint8_t>> controllers;
        std::int16_t divisor;
    };
    const Case cases[] = {
        {"12 semitones", {{101, 0}, {100, 0}, {6, 12}}, 45},
        {"1 semitone", {{100, 0}, {101, 0}, {6, 1}}, 546},
        {"127 semitones", {{101, 0}, {100, 0}, {6, 127}}, 4},
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
    translateNoteOn(ctx, noteOn(0, 61, 127));
    translateNoteOn(ctx, noteOn(1, 61, 127));
    nextRow(ctx);

    translateController(ctx, controller(0, 7, 127));
    EXPECT_EQ(ctx.cells[0].volume, 0x4E);
    EXPECT_EQ(ctx.cells[1].volume, -1);

    translateController(ctx, controller(0, 1, 100));
    EXPECT_EQ(ctx.channels[0].vibratoDepth, 4);
    EXPECT_EQ(ctx.cells[0].volume, 0x4E) << "set volume beats the vibrato command";
    nextRow(ctx);
    translateController(ctx, controller(0, 1, 10));  // depth 0: notes keep theirs
    EXPECT_EQ(ctx.channels[0].vibratoDepth, 4);
    EXPECT_EQ(ctx.cells[0].volume, -1);

    translateController(ctx, controller(1, 10, 20));
    EXPECT_EQ(ctx.cells[1].effect, 0x08);
    EXPECT_EQ(ctx.cells[1].param, 40);
    EXPECT_EQ(ctx.channels[1].panning, 40);
    EXPECT_EQ(ctx.midi[1].pan, 20);

    translateController(ctx, controller(0, 64, 127));
    EXPECT_EQ(ctx.midi[0].sustain, 16);
    translateNoteOff(ctx, noteOff(0, 61));
    EXPECT_EQ(ctx.channels[0].keyOffDelay, 16u);
    translateController(ctx, controller(0, 64, 64));  // 63 and 64 change nothing
    EXPECT_EQ(ctx.midi[0].sustain, 16);
    translateController(ctx, controller(0, 64, 0));
    EXPECT_EQ(ctx.midi[0].sustain, 0);
    EXPECT_EQ(ctx.channels[0].keyOffDelay, 0u);
}

TEST(TranslateTempo, SetBpmFromTempo) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> payload;
        std::uint16_t division;
        std::uint32_t ticksPerRow, speed;
        int bpm;
    };
    const Case cases[] = {
        {"120 beats per minute", {0x07, 0xA1, 0x20}, 96, 2, 1, 0xF0},
        {"faster than the format allows", {0x00, 0x10, 0x00}, 96, 2, 1, 255},
        {"slower than the format allows", {0xFF, 0xFF, 0xFF}, 96, 2, 1, 32},
        {"speed 3", {0x07, 0xA1, 0x20}, 96, 8, 3, 180},
        {"tempo 0", {0x00, 0x00, 0x00}, 96, 2, 1, 255},
        {"missing payload bytes count as 0", {0x07, 0xA1}, 96, 2, 1, 240},
        {"empty payload", {}, 96, 2, 1, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(c.speed, 2);
        score.file.midi.division = c.division;
        score.file.timing.ticksPerRow = c.ticksPerRow;
        NoteContext ctx = score.context();
        translateTempo(ctx, metaEvent(kMetaSetTempo, c.payload));
        EXPECT_EQ(ctx.cells[0].effect, 0x0F);
        EXPECT_EQ(ctx.cells[0].param, c.bpm);
    }
}

}  // namespace
}  // namespace korvalin
