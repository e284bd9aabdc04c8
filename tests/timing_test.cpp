#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "score/Score.h"
#include "support/EventStore.h"

namespace korvalin {
namespace {

using namespace korvalin::test;

struct Timing {
    RunState run;
    FileState file;
    CaptureConsole out;

    // A piece whose music ends at lastTime; the empty track and the shorter
    // track must not change that.
    Timing(std::uint16_t division, std::uint32_t fastestTempo, std::uint32_t seed,
           std::uint32_t lastTime) {
        file.midi = store(division, {{on(0, 0, 61), end(5)}, {}, {end(lastTime)}});
        file.timing.fastestTempo = fastestTempo;
        file.timing.ticksPerRow = seed;
        file.shortestNote = seed;
    }
};

TEST(ChooseTiming, FindsGridSpeedAndBpmOrEndsWithAnError) {
    struct Case {
        const char* name;
        std::uint16_t division;
        std::uint32_t tempo, seed, lastTime, ticksPerRow, speed, bpm;
        const char* error = nullptr;  // the search must fail with this text
    };
    const Case cases[] = {
        {"division 96 at 120 BPM: 2 ticks a row at 240 BPM", 96, 500000, 1, 0, 2, 1, 240},
        {"small seed shrinks by quarters until speed 5 or less", 96, 500000, 30, 0, 9, 4, 213},
        {"tiny tempo needs a huge grid", 65535, 1, 1, 0, 642500000, 1, 255},
        {"division 0", 0, 500000, 1, 0, 0, 0, 0, "ERROR: MIDI division of 0 ticks"},
        {"set-tempo value 0", 96, 0, 1, 0, 0, 0, 0, "ERROR: A set-tempo value of 0"},
        {"division 1: the grid would shrink to 0", 1, 500000, 1, 0, 0, 0, 0, "too coarse"},
        // 12 ticks a row are needed to fit, but 12 already need speed 6
        {"too long", 96, 500000, 1, 65025 * 12, 0, 0, 0, "ERROR: No row grid fits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Timing t(c.division, c.tempo, c.seed, c.lastTime);
        const Status status = chooseTiming(t.run, t.file, t.out);
        if (c.error) {
            EXPECT_EQ(status, Status::Failed);
            EXPECT_NE(t.out.out.find(c.error), std::string::npos) << t.out.out;
            continue;
        }
        ASSERT_EQ(status, Status::Ok) << t.out.out;
        EXPECT_EQ(t.file.timing.ticksPerRow, c.ticksPerRow);
        EXPECT_EQ(t.file.timing.speed, c.speed);
        EXPECT_EQ(t.file.timing.bpm, c.bpm);
        EXPECT_EQ(t.file.shortestNote, c.ticksPerRow);
        EXPECT_EQ(t.out.out, "");
    }
}

TEST(PreconvertTracks, StampsPatternRowAndTick) {
    struct Case {
        const char* name;
        std::uint32_t grid, speed, time, pattern;
        int row, tick;
    };
    const Case cases[] = {
        {"tick within the row", 7, 3, 12, 0, 1, 2},
        {"row 255 is row 0 of pattern 1", 7, 3, 255 * 7, 1, 0, 0},
        {"last row of the last pattern", 1, 5, 65024, 254, 254, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Timing t(96, 500000, c.grid, 0);
        t.file.midi = store(96, {{on(c.time, 0, 61), end(c.time)}, {end(0)}});
        t.file.timing.speed = c.speed;
        ASSERT_EQ(preconvertTracks(t.run, t.file, t.out), Status::Ok);
        const MidiEvent& e = t.file.midi.tracks[0].events[0];
        EXPECT_EQ(e.pattern, c.pattern);
        EXPECT_EQ(e.row, c.row);
        EXPECT_EQ(e.tick, c.tick);
        EXPECT_EQ(t.out.out, "Pre-converting tracks..\n");
    }
}

}  // namespace
}  // namespace korvalin
