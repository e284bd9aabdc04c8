#include <gtest/gtest.h>

#include <cstdint>

#include "notedata_fixture.h"

namespace korvalin {
namespace {

using namespace korvalin::test;

TEST(EffectPriority, OddCasesOfTheTables) {
    struct Case {
        const char* name;
        int effect, param, priority, cls;
    };
    const Case cases[] = {
        {"empty slot", -1, -1, -1, 0},
        {"extended without parameter", 0x0E, -1, -1, 0},
        {"0x23 never placed", 0x23, 0x00, 0, 0},
        {"beyond the table", 0x24, 0x00, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(effectPriority(c.effect, c.param), c.priority);
        EXPECT_EQ(effectClass(c.effect, c.param), c.cls);
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
        {"note delay refused by fine portamento", 0x0E, 0x13, 0x0E, 0xD1, false, 0x0E, 0x13},
        {"equal priority replaces", 0x08, 0x80, 0x08, 0x20, true, 0x08, 0x20},
        {"fine portamento replaces portamento", 0x01, 0x20, 0x0E, 0x1F, true, 0x0E, 0x1F},
        {"panning replaces portamento", 0x01, 30, 0x08, 0x80, true, 0x08, 0x80},
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

TEST(PlaceEffect, GlobalEffectsMoveAsideRatherThanBeingLost) {
    // Channel 0 holds a panning effect: the first BPM goes to the lowest
    // empty slot, the second moves it to the next empty slot and takes over.
    Score score(1, 4);
    NoteContext ctx = score.context();
    ctx.cells[0] = {.effect = 0x08, .param = 0x80};
    ASSERT_TRUE(placeEffect(ctx, 0, 0, 0x0F, 200));
    EXPECT_EQ(ctx.cells[1].effect, 0x0F);
    ASSERT_TRUE(placeEffect(ctx, 0, 0, 0x0F, 150));
    EXPECT_EQ(ctx.cells[1].param, 150);
    EXPECT_EQ(ctx.cells[2].effect, 0x0F);
    EXPECT_EQ(ctx.cells[2].param, 200);
    EXPECT_EQ(ctx.channels[2].everUsed, 1u);
    EXPECT_EQ(ctx.cells[0].effect, 0x08);
    EXPECT_EQ(ctx.cells[3].effect, -1);
}

TEST(PlaceEffect, GlobalEffectOnFullRowTakesWeakestSlot) {
    Score score(3, 3);
    NoteContext ctx = score.context();
    ctx.cells = {{.effect = 0x01, .param = 0x10},
                 {.effect = 0x0E, .param = 0xD1},
                 {.effect = 0x08, .param = 0x80}};
    ASSERT_TRUE(placeEffect(ctx, 0, 0, 0x0F, 180));
    EXPECT_EQ(ctx.cells[1].effect, 0x0F);  // the note delay gives way
    EXPECT_EQ(ctx.cells[0].effect, 0x01);
    // Nothing but another BPM change replaces a BPM change.
    EXPECT_FALSE(placeEffect(ctx, 0, 1, 0x0E, 0xC0));
    EXPECT_EQ(ctx.cells[1].param, 180);
}

TEST(PutVolume, SetVolumeBeatsCommandsAndLowerCommandWins) {
    struct Case {
        const char* name;
        int before, byte;
        bool written;
        int after, speedSent;
    };
    const Case cases[] = {
        {"empty column", -1, 0xB3, true, 0xB3, 7},
        {"volume replaces vibrato depth", 0xB3, 0x42, true, 0x42, 7},
        {"vibrato depth refused after volume", 0x42, 0xB3, false, 0x42, 7},
        {"vibrato speed replaces depth", 0xB3, 0xA7, true, 0xA7, 7},
        {"depth refused after speed", 0xA7, 0xB3, false, 0xA7, 7},
        {"later volume wins", 0x30, 0x42, true, 0x42, 7},
        {"later depth of same kind wins", 0xB3, 0xB1, true, 0xB1, 7},
        {"overwritten vibrato speed is sent again", 0xA7, 0x40, true, 0x40, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Score score(1, 1);
        NoteContext ctx = score.context();
        ctx.cells[0].volume = static_cast<std::int16_t>(c.before);
        ctx.channels[0].vibratoSpeedSent = 7;
        EXPECT_EQ(putVolume(ctx, c.byte, 0), c.written);
        EXPECT_EQ(ctx.cells[0].volume, c.after);
        EXPECT_EQ(ctx.channels[0].vibratoSpeedSent, c.speedSent);
    }
}

TEST(PutVolume, TweakCurveBendsOnlySetVolumeBytes) {
    const int cases[][2] = {{0x10, 0x10}, {0x20, 0x11}, {0x30, 0x17}, {0x40, 0x25}, {0x48, 0x35},
                            {0x4F, 0x4B}, {0x50, 0x4F}, {0xA7, 0xA7}, {0xB3, 0xB3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Score score(1, 1);
        score.run.settings.optionFlags |= kTweakVolume;
        NoteContext ctx = score.context();
        ASSERT_TRUE(putVolume(ctx, c[0], 0));
        EXPECT_EQ(ctx.cells[0].volume, c[1]);
    }
}

}  // namespace
}  // namespace korvalin
