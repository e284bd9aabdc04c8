#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "score/Score.h"
#include "support/EventStore.h"

namespace korvalin {
namespace {

using namespace korvalin::test;

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

TEST(TrackScan, MergesManyTracksByTimeThenTrackOrder) {
    // Programs number in the order their first notes are visited: by time,
    // then track index, then stored order; track 2 ends before its later
    // notes, and the empty track takes no part.
    Scan scan;
    scan.file.midi = store(96, {
                                   {program(0, 0, 10), on(30, 0, 61), end(40)},
                                   {program(0, 1, 11), on(20, 1, 61), on(30, 1, 62), end(40)},
                                   {program(0, 2, 12), end(5), program(6, 2, 20), on(6, 2, 61)},
                                   {},
                                   {program(0, 3, 13), on(10, 3, 61), end(40)},
                                   {program(0, 4, 14), on(30, 4, 61), end(40)},
                                   {program(0, 5, 15), on(20, 5, 61), end(40)},
                               });
    scan();
    ASSERT_EQ(scan.status, Status::Ok);
    EXPECT_EQ(scan.number(13), 1);
    EXPECT_EQ(scan.number(11), 2);
    EXPECT_EQ(scan.number(15), 3);
    EXPECT_EQ(scan.number(10), 4);
    EXPECT_EQ(scan.number(14), 5);
    EXPECT_EQ(scan.number(12), 0);
    EXPECT_EQ(scan.number(20), 0);
    EXPECT_EQ(scan.file.nextInstrument, 6u);
}

TEST(TrackScan, SeedsTheRowGridFromTheShortestNotes) {
    // With -small, quantize 96 and division 96 the seed is the average of the
    // shortest melodic and percussion lengths plus one, so it shows which
    // notes were paired.
    const std::vector<MidiEvent> drums20 = {on(0, 9, 36), off(20, 9, 36), end(20)};
    const std::vector<MidiEvent> drums24 = {on(0, 9, 36), off(24, 9, 36), end(24)};
    const std::vector<MidiEvent> note24 = {on(0, 0, 61), off(24, 0, 61)};
    struct Case {
        const char* name;
        bool small;
        std::uint32_t quantize;
        std::vector<MidiEvent> melodic, drums;
        std::uint32_t seed;
    };
    const Case cases[] = {
        {"plain note of 30", true, 96, {on(0, 0, 61), off(30, 0, 61)}, drums20, 26},
        {"restarted note measured from the second note-on",
         true,
         96,
         {on(0, 0, 61), on(20, 0, 61), off(30, 0, 61)},
         drums20,
         16},
        {"velocity-0 note-on ends the note",
         true,
         96,
         {on(0, 0, 61), on(12, 0, 61, 0)},
         drums20,
         17},
        {"zero length is ignored",
         true,
         96,
         {on(0, 0, 61), off(0, 0, 61), on(0, 0, 62), off(40, 0, 62)},
         drums20,
         31},
        {"note-off of a silent slot does nothing",
         true,
         96,
         {off(5, 0, 61), on(10, 0, 61), off(50, 0, 61)},
         drums20,
         31},
        {"note-off on another channel does not end it",
         true,
         96,
         {on(0, 0, 61), off(6, 1, 61), off(30, 0, 61)},
         drums20,
         26},
        {"MIDI notes 126 and 127 (stored 127 and 128) have slots of their own",
         true,
         96,
         {on(0, 0, 128), on(10, 0, 127), off(40, 0, 128), off(50, 0, 127)},
         drums20,
         31},
        {"quantize 16: 24 moves up to the next multiple of 6", true, 16, note24, drums24, 30},
        {"quantize 16 without percussion: the wrapped sum still seeds",
         true,
         16,
         note24,
         {end(0)},
         12},
        {"default method starts from one tick", false, 16, note24, drums24, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan;
        if (c.small) scan.run.settings.optionFlags |= kSmall;
        scan.run.settings.quantize = c.quantize;
        std::vector<MidiEvent> melodic = c.melodic;
        melodic.push_back(end(melodic.back().time));
        scan.file.midi = store(96, {melodic, c.drums});
        scan();
        ASSERT_EQ(scan.status, Status::Ok);
        EXPECT_EQ(scan.file.timing.ticksPerRow, c.seed);
        EXPECT_EQ(scan.file.shortestNote, c.seed);
    }
}

TEST(TrackScan, KeepsTheFastestTempo) {
    struct Case {
        const char* name;
        std::vector<MidiEvent> first, second;
        std::uint32_t fastest;
    };
    const Case cases[] = {
        {"no set-tempo event: 120 BPM", {end(0)}, {end(0)}, 500000},
        {"faster second", {tempo(0, 600000), tempo(96, 400000), end(96)}, {end(0)}, 400000},
        {"in another track", {tempo(0, 600000), end(0)}, {tempo(50, 300000), end(50)}, 300000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan;
        scan.file.midi = store(96, {c.first, c.second});
        scan();
        EXPECT_EQ(scan.file.timing.fastestTempo, c.fastest);
    }
}

TEST(TrackScan, WarnsAboutNotesLeftOn) {
    Scan scan;
    scan.file.midi = store(
        96, {{on(0, 0, 61), on(0, 1, 61), on(5, 9, 36), on(6, 0, 62), off(7, 0, 62), end(10)}});
    scan();
    EXPECT_EQ(scan.out.out, "Scanning tracks.\n    WARNING: 3 notes are left on\n");
}

TEST(TrackScan, NumbersAtMost128InstrumentsAndCountsTheRest) {
    Scan scan;
    std::vector<MidiEvent> events;
    for (std::uint32_t p = 0; p < 128; ++p)
        events.insert(events.end(), {program(p, 0, int(p)), on(p, 0, 61), off(p, 0, 61)});
    for (int key = 35; key < 45; ++key) events.push_back(on(200, 9, key));
    events.push_back(on(201, 9, 35));  // the same key again is no new instrument
    events.push_back(end(300));
    scan.file.midi = store(96, {events});
    scan();
    ASSERT_EQ(scan.status, Status::Ok);
    EXPECT_EQ(scan.file.nextInstrument, kMaxInstruments + 1);
    EXPECT_EQ(scan.number(0), 1);
    EXPECT_EQ(scan.number(127), 128);
    for (std::size_t key = 35; key < 45; ++key) EXPECT_EQ(scan.number(kPercussionBase + key), 0);
    EXPECT_NE(scan.out.out.find("    WARNING: 10 instruments are left out"), std::string::npos)
        << scan.out.out;
}

TEST(TrackScan, CopesWithOddTracks) {
    Scan scan;
    scan.file.midi = store(
        96, {
                {},                                        // no events at all
                {on(0, 0, 61), off(4, 0, 61)},             // no end-of-track event
                {end(0), program(1, 0, 9), on(2, 0, 70)},  // events after its end take no part
                {on(0, 9, 200), off(3, 9, 200), end(3)},   // not a MIDI key
            });
    scan();
    ASSERT_EQ(scan.status, Status::Ok);
    EXPECT_EQ(scan.out.out, "Scanning tracks....\n");
    EXPECT_EQ(scan.number(0), 1);
    EXPECT_EQ(scan.number(9), 0);
    EXPECT_EQ(scan.file.nextInstrument, 2u);
    for (const MidiTrack& t : scan.file.midi.tracks) EXPECT_FALSE(t.ended);
}

TEST(TrackScan, RefusesSmallGridWithoutQuantizeOrDivision) {
    const std::uint32_t cases[][2] = {{0, 96}, {16, 0}};  // quantize, division
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        Scan scan;
        scan.run.settings.optionFlags |= kSmall;
        scan.run.settings.quantize = c[0];
        scan.file.midi = store(std::uint16_t(c[1]), {{on(0, 0, 61), off(24, 0, 61), end(24)}});
        scan();
        EXPECT_EQ(scan.status, Status::Failed);
        EXPECT_NE(scan.out.out.find("\nERROR: "), std::string::npos) << scan.out.out;
    }
}

}  // namespace
}  // namespace korvalin
