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

}  // namespace
}  // namespace korvalin
