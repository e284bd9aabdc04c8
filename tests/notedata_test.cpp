// The note-data builder: event translation, effect and volume-column
// arbitration, packing and the closing pattern.
#include "score/NoteData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Console.h"
#include "base/State.h"
#include "score/Score.h"
#include "support/EventStore.h"

namespace korvalin {
namespace {

using namespace korvalin::test;

// Two MIDI ticks a row at division 96, one track.
struct Score {
    RunState run;
    FileState file;
    NullConsole console;

    explicit Score(std::uint32_t speed = 1, std::uint32_t maxChannels = 8) {
        run.settings.maxChannels = maxChannels;
        file.midi.division = 96;
        file.timing.ticksPerRow = 2;
        file.timing.speed = speed;
        file.midi.tracks.resize(1);
    }

    // Adds an instrument and maps program (0..127) or 128 + key to it.
    std::uint8_t addInstrument(std::size_t mapIndex, InstrumentRecord instrument) {
        file.instruments.push_back(std::move(instrument));
        const auto number = static_cast<std::uint8_t>(file.instruments.size());
        run.patchMap[mapIndex].instrument = number;
        run.patchMap[mapIndex].releaseFactor = 1000;
        return number;
    }

    NoteContext context() { return NoteContext(run, file, run.settings.maxChannels, console); }
};

TEST(BuildNoteData, ClosingPatternOnlyWhileTheOrderTableHasRoom) {
    const std::uint32_t cases[][2] = {{254, 256}, {255, 256}};  // last pattern, patterns built
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Score score(1, 1);
        score.file.header.patternCount = score.file.header.songLength = std::uint16_t(c[0] + 1);
        score.file.patterns.resize(c[0] + 1);
        CaptureConsole out;
        ASSERT_EQ(buildNoteData(score.run, score.file, c[0], 0, out), Status::Ok);
        EXPECT_EQ(score.file.patterns.size(), c[1]);
        EXPECT_EQ(score.file.header.patternCount, c[1]);
        EXPECT_EQ(out.out, "No of patterns: " + std::to_string(c[0] + 1) +
                               "\nCreating XM note data" + std::string(c[1], '.') +
                               "\nChannels present: 2\n");
    }
}

// Rows packed before more channels came into use get the cells they had
// for those channels (here the first row's volumes).
TEST(BuildNoteData, RowsPackedBeforeTheChannelCountGrewAreWidened) {
    Score score(1, 4);
    score.addInstrument(0, InstrumentRecord{});
    score.file.midi = store(96, {{on(2, 0, 61), on(2, 0, 65), on(2, 0, 68), end(4)}});
    score.file.patterns.resize(1);
    NullConsole out;
    ASSERT_EQ(buildNoteData(score.run, score.file, 0, 2, out), Status::Ok);
    EXPECT_EQ(score.file.header.channelCount, 4);
    const std::vector<std::uint8_t>& data = score.file.patterns[0].packedData;
    const std::vector<std::uint8_t> firstRow = {0x84, 0x50, 0x84, 0x50, 0x84, 0x50, 0x84, 0x50};
    ASSERT_GE(data.size(), firstRow.size());
    EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + 8), firstRow);
    EXPECT_EQ(score.file.patterns[0].packedSize, data.size());
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

// Steals take the least release left, the first of equals and a release
// that went round last, also as released notes join the channels to steal.
TEST(TranslateNoteOn, StealsTheChannelWithTheLeastReleaseLeft) {
    Score score(1, 12);
    score.addInstrument(0, InstrumentRecord{});
    NoteContext ctx = score.context();
    const std::uint32_t release[12] = {9, 3, 3, 12, 1, 7, 2, 8, 5, 3, 11, 6};
    for (std::size_t c = 0; c < 12; ++c) {
        ctx.clock = c == 4 ? 90 : 100;  // channel 4's release went round
        ctx.channels[c].state = ChannelState::Releasing;
        ctx.channels[c].releaseTicks = release[c];
        ctx.restartAge(c);
    }
    ctx.freeChannels = ctx.playingChannels = 0;
    for (int key = 0; key < 18; ++key) {   // then every channel plays
        std::uint64_t least = UINT64_MAX;  // release left << 5 | channel
        for (std::size_t c = 0; c < 12; ++c)
            if (!(ctx.playingChannels >> c & 1))
                least = std::min(least, std::uint64_t{ctx.releaseEnd[c] - ctx.clock} << 5 | c);
        translateNoteOn(ctx, on(0, 0, key));
        EXPECT_EQ(ctx.channels[least & 31].key, key);
        if (key % 3 == 1) translateNoteOff(ctx, off(0, 0, key - 1));
    }
}

// A damaged file's data bytes of 0x80 and above count as 127, so the volume
// byte stays a set-volume byte rather than becoming a volume slide.
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
        {"overwritten vibrato speed is sent again", 0xA7, 0x40, false, true, 0x40, -1},
        {"tweak bends 0x40", -1, 0x40, true, true, 0x25, 7},
        {"tweak keeps 0x50 below 0x50", -1, 0x50, true, true, 0x4F, 7},
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
