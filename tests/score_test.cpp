// The stages around the note data: track scan, row grid, pre-conversion,
// module header and the score writer's dropping of unused channels.
#include "score/Score.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/EventStore.h"
#include "xm/Xm.h"

namespace korvalin {
namespace {

using namespace korvalin::test;
using Bytes = std::vector<std::uint8_t>;

struct Scan {
    RunState run;
    FileState file;
    CaptureConsole out;
    Status status = Status::Ok;

    void operator()() { status = scanTracks(run, file, out); }
    std::uint8_t number(std::size_t mapIndex) const { return run.patchMap[mapIndex].instrument; }
};

TEST(TrackScan, NumbersProgramsAndKeysInOrderOfFirstSound) {
    Scan scan;
    scan.file.midi =
        store(96, {
                      {program(0, 0, 5), program(0, 1, 7), program(0, 9, 40), on(10, 0, 61),
                       off(20, 0, 61), on(30, 0, 71), off(40, 0, 71), end(40)},
                      // key 36 sounds first; at tick 10 track 0 goes before track 1;
                      // the velocity-0 note-ons become note-offs
                      {on(5, 9, 36), on(8, 9, 36, 0), on(10, 2, 51), on(10, 9, 38),
                       on(12, 2, 51, 0), off(12, 9, 38), end(50)},
                  });
    scan();
    ASSERT_EQ(scan.status, Status::Ok);
    EXPECT_EQ(scan.number(kPercussionBase + 36), 1);
    EXPECT_EQ(scan.number(5), 2);
    EXPECT_EQ(scan.number(0), 3);  // channel 2 still has program 0
    EXPECT_EQ(scan.number(kPercussionBase + 38), 4);
    EXPECT_EQ(scan.number(7), 0);   // selected but never played
    EXPECT_EQ(scan.number(40), 0);  // program change on the percussion channel
    EXPECT_EQ(scan.file.nextInstrument, 5u);
    EXPECT_EQ(scan.run.patchMap[5].highestNote, 71);
    EXPECT_EQ(scan.run.patchMap[0].highestNote, 51);
    EXPECT_EQ(scan.out.out, "Scanning tracks..\n");  // every note was ended: no warning
    const auto& events = scan.file.midi.tracks[1].events;
    EXPECT_EQ(events[1].status, 0x89);
    EXPECT_EQ(events[1].data1, 36);
    EXPECT_EQ(events[4].status, 0x82);
    EXPECT_FALSE(scan.file.midi.tracks[0].ended);
}

// Tracks that share no channel are walked one at a time; the numbers must
// still follow the walk order, and tracks that meet must be walked together.
TEST(TrackScan, NumbersFollowTheWalkOrderWhetherTracksMeetOrNot) {
    struct Case {
        const char* name;
        std::vector<std::vector<MidiEvent>> tracks;
        std::vector<std::pair<std::size_t, int>> numbers;  // map index, instrument
        std::int16_t highestOfProgram9;
    };
    const std::size_t drum = kPercussionBase;
    const Case cases[] = {
        {"same time, same track: stored order; an earlier time in a later track first",
         {{program(0, 0, 9), on(10, 0, 61), program(10, 0, 5), on(10, 0, 62), end(20)},
          {on(5, 9, 38), on(10, 9, 36), end(20)}},
         {{drum + 38, 1}, {9, 2}, {5, 3}, {drum + 36, 4}},
         61},
        {"a later track's program acts on an earlier track's note; groups number by time",
         {{program(0, 3, 4), on(15, 3, 50), end(15)},
          {on(10, 0, 61), off(30, 0, 61), end(30)},
          {program(5, 0, 9), on(20, 0, 70), end(40)}},
         {{9, 1}, {4, 2}, {0, 0}},
         70},
        {"times that go back are walked in merge order",
         {{on(100, 9, 40), on(10, 9, 41), end(10)}, {on(50, 1, 61), end(60)}},
         {{0, 1}, {drum + 40, 2}, {drum + 41, 3}},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan;
        scan.file.midi = store(96, c.tracks);
        scan();
        ASSERT_EQ(scan.status, Status::Ok);
        for (const auto& [mapIndex, number] : c.numbers) EXPECT_EQ(scan.number(mapIndex), number);
        EXPECT_EQ(scan.run.patchMap[9].highestNote, c.highestOfProgram9);
        const std::string dots = "Scanning tracks" + std::string(c.tracks.size(), '.') + "\n";
        EXPECT_EQ(scan.out.out.substr(0, dots.size()), dots);
    }
}

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
        // The empty track and the shorter track must not move the end.
        Scan t;
        t.file.midi = store(c.division, {{on(0, 0, 61), end(5)}, {}, {end(c.lastTime)}});
        t.file.timing.fastestTempo = c.tempo;
        t.file.timing.ticksPerRow = t.file.shortestNote = c.seed;
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

// The writer copies what the builder packed; a pattern whose announced size
// exceeds its bytes is refused rather than read past its end.
TEST(WriteScore, RefusesAPatternShorterThanItsSize) {
    Scan score;
    score.file.header = {.channelCount = 2, .patternCount = 1};
    score.file.patterns = {{.rowCount = 2, .packedSize = 10, .packedData = Bytes(4, 0x80)}};
    MemorySink sink;
    EXPECT_EQ(writeScore(score.run, score.file, sink, score.out), Status::Failed);
}

}  // namespace
}  // namespace korvalin
