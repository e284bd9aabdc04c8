#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/ByteIO.h"
#include "midi/MidiReader.h"
#include "support/MidiBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

using test::Bytes;
using test::Smf;

struct ReadResult {
    Status status = Status::Failed;
    FileState file;
    CaptureConsole console;
    const MidiTrack& track(std::size_t i) const { return file.midi.tracks.at(i); }
};

void read(const Bytes& bytes, ReadResult& result, std::uint32_t percussionChannel = 9) {
    RunState run;
    run.settings.percussionChannel = percussionChannel;
    const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    ByteReader in(data);
    result.status = readMidiFile(run, in, result.file, result.console);
}

// A format-0 file with one track holding `events` then an end-of-track event.
Bytes oneTrack(const Bytes& events, int division = 96) {
    Smf smf(0, division);
    smf.track().raw(events).endOfTrack(0);
    return smf.bytes();
}

TEST(MidiReader, HeaderRefusals) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string out;
        std::string err;
    };
    Smf format2(2, 96);
    format2.track().endOfTrack();
    Smf size8(1, 96);
    size8.headerLength(8).track().endOfTrack();
    Smf badId(1, 96);
    badId.headerId("RIFF");
    const Bytes good = oneTrack({});
    const Case cases[] = {
        {"empty file", {}, "ERROR: Invalid MIDI header ID\n", ""},
        {"wrong id", badId.bytes(), "ERROR: Invalid MIDI header ID\n", ""},
        {"header size 8", size8.bytes(), "8\nERROR: Incorrect MIDI header size\n", ""},
        {"format 2", format2.bytes(), "ERROR: MIDI file format 2 not supported\n", ""},
        {"cut inside the header fields", Bytes(good.begin(), good.begin() + 11),
         "ERROR: Unexpected end of MIDI file in the header\n", ""},
        {"cut before the first track", Bytes(good.begin(), good.begin() + 14),
         "Number of tracks = 1\nReading MIDI tracks",
         "ERROR: Unexpected end of MIDI file before track 1 of 1\n"},
        {"half a chunk header", Bytes(good.begin(), good.begin() + 17),
         "Number of tracks = 1\nReading MIDI tracks",
         "ERROR: Unexpected end of MIDI file before track 1 of 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadResult r;
        read(c.bytes, r);
        EXPECT_EQ(r.status, Status::Failed);
        EXPECT_EQ(r.console.out, c.out);
        EXPECT_EQ(r.console.err, c.err);
    }
}

TEST(MidiReader, FormatsZeroAndOneAndUnknownChunks) {
    Smf format1(1, 480);
    format1.track().tempo(0, 500000).endOfTrack(0);
    format1.chunk("XFIH", {1, 2, 3, 4, 5});
    format1.track().noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(0);
    format1.chunk("junk", {});
    format1.track().noteOn(0, 1, 62, 100).noteOff(480, 1, 62).endOfTrack(0);

    ReadResult r;
    read(format1.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.console.out, "Number of tracks = 3\nReading MIDI tracks...\n");
    EXPECT_EQ(r.file.midi.format, 1);
    EXPECT_EQ(r.file.midi.division, 480);
    ASSERT_EQ(r.file.midi.tracks.size(), 3u);
    EXPECT_EQ(r.track(0).events.size(), 2u);
    EXPECT_EQ(r.track(1).events.size(), 3u);
    EXPECT_EQ(r.track(2).events.at(0).status, 0x91);
    for (const MidiTrack& t : r.file.midi.tracks) {
        EXPECT_EQ(t.chunkId, kMidiTrackId);
        EXPECT_FALSE(t.ended);
        EXPECT_TRUE(t.events.back().isEndOfTrack());
    }

    ReadResult r0;
    read(oneTrack({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00}), r0);
    ASSERT_EQ(r0.status, Status::Ok);
    EXPECT_EQ(r0.console.out, "Number of tracks = 1\nReading MIDI tracks.\n");
}

TEST(MidiReader, ZeroTracksIsAnEmptySong) {
    ReadResult r;
    read(Smf(1, 96).bytes(), r);
    EXPECT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.console.out, "Number of tracks = 0\nReading MIDI tracks\n");
    EXPECT_TRUE(r.file.midi.tracks.empty());
}

struct EventExpect {
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
    std::uint32_t time;
};

TEST(MidiReader, ChannelMessages) {
    struct Case {
        const char* name;
        Bytes events;  // raw track bytes before the end-of-track event
        std::uint32_t percussion;
        std::vector<EventExpect> expect;  // without the end-of-track event
    };
    const Case cases[] = {
        {"running status across a meta event",
         {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 'x', 0x00, 0x3E, 0x40},
         9,
         {{0x90, 0x3D, 0x40, 0}, {0xFF, 0, 0, 0}, {0x90, 0x3F, 0x40, 0}}},
        {"running status across a sysex event",
         {0x00, 0x91, 0x3C, 0x40, 0x10, 0xF0, 0x01, 0xF7, 0x10, 0x3E, 0x00},
         9,
         {{0x91, 0x3D, 0x40, 0}, {0xF0, 0, 0, 0x10}, {0x91, 0x3F, 0x00, 0x20}}},
        {"percussion keys keep their number",
         {0x00, 0x99, 0x3C, 0x40, 0x00, 0x89, 0x3C, 0x00},
         9,
         {{0x99, 0x3C, 0x40, 0}, {0x89, 0x3C, 0x00, 0}}},
        {"another percussion channel",
         {0x00, 0x99, 0x3C, 0x40, 0x00, 0x92, 0x3C, 0x40},
         2,
         {{0x99, 0x3D, 0x40, 0}, {0x92, 0x3C, 0x40, 0}}},
        {"note numbers 0 and 127 become 1 and 128",
         {0x00, 0x90, 0x00, 0x40, 0x00, 0x80, 0x7F, 0x00},
         9,
         {{0x90, 0x01, 0x40, 0}, {0x80, 0x80, 0x00, 0}}},
        {"velocity 0 stays a note-on",
         {0x00, 0x90, 0x3C, 0x40, 0x60, 0x90, 0x3C, 0x00},
         9,
         {{0x90, 0x3D, 0x40, 0}, {0x90, 0x3D, 0x00, 0x60}}},
        {"one data byte for program and pressure",
         {0x00, 0xC3, 0x05, 0x00, 0xD3, 0x40, 0x00, 0xE3, 0x00, 0x40, 0x00, 0xB3, 0x07, 0x64},
         9,
         {{0xC3, 0x05, 0, 0}, {0xD3, 0x40, 0, 0}, {0xE3, 0x00, 0x40, 0}, {0xB3, 0x07, 0x64, 0}}},
        {"running status on a one-byte message",
         {0x00, 0xC0, 0x05, 0x00, 0x06},
         9,
         {{0xC0, 0x05, 0, 0}, {0xC0, 0x06, 0, 0}}},
        {"a data byte at the start of a track has status 0",
         {0x00, 0x3C, 0x40, 0x00, 0x90, 0x3C, 0x40},
         9,
         {{0x00, 0x3C, 0x40, 0}, {0x90, 0x3D, 0x40, 0}}},
        {"0xF1..0xFE take one data byte and become the running status",
         {0x00, 0xF1, 0x05, 0x00, 0xF7, 0x06, 0x00, 0x07, 0x00, 0xFE, 0x08},
         9,
         {{0xF1, 0x05, 0, 0}, {0xF7, 0x06, 0, 0}, {0xF7, 0x07, 0, 0}, {0xFE, 0x08, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadResult r;
        read(oneTrack(c.events, 96000), r, c.percussion);  // large division: nothing trimmed
        ASSERT_EQ(r.status, Status::Ok) << r.console.all;
        const auto& events = r.track(0).events;
        ASSERT_EQ(events.size(), c.expect.size() + 1);
        for (std::size_t i = 0; i < c.expect.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(events[i].status, c.expect[i].status);
            EXPECT_EQ(events[i].data1, c.expect[i].data1);
            EXPECT_EQ(events[i].data2, c.expect[i].data2);
            EXPECT_EQ(events[i].time, c.expect[i].time);
        }
        EXPECT_TRUE(events.back().isEndOfTrack());
    }
}

TEST(MidiReader, VariableLengthBoundaries) {
    struct Case {
        Bytes bytes;
        std::uint32_t value;
    };
    const Case cases[] = {
        {{0x00}, 0},
        {{0x7F}, 0x7F},
        {{0x81, 0x00}, 0x80},
        {{0xFF, 0x7F}, 0x3FFF},
        {{0x81, 0x80, 0x00}, 0x4000},
        {{0xFF, 0xFF, 0xFF, 0x7F}, 0x0FFFFFFF},
        // Five bytes read on and wrap in 32 bits.
        {{0x90, 0x80, 0x80, 0x80, 0x01}, 0x00000001},
        {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Bytes events = c.bytes;
        // A note that starts and ends there, so nothing is cut.
        events.insert(events.end(), {0x90, 0x3C, 0x40, 0x00, 0x80, 0x3C, 0x00});
        ReadResult r;
        read(oneTrack(events), r);
        ASSERT_EQ(r.status, Status::Ok) << r.console.all;
        EXPECT_EQ(r.track(0).events.at(0).delta, c.value);
        EXPECT_EQ(r.track(0).events.at(0).time, c.value);
    }
}

TEST(MidiReader, MetaAndSysexPayloads) {
    Smf smf(0, 96);
    smf.track()
        .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .sysex(0, {})
        .text(0, "hello")
        .meta(0, 0x7F, {})
        .tempo(0, 0x07A120)
        .endOfTrack(0);
    ReadResult r;
    read(smf.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok) << r.console.all;
    const auto& e = r.track(0).events;
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[0].status, kStatusSysex);
    EXPECT_EQ(e[0].length, 5u);
    EXPECT_EQ(e[0].data, (std::vector<std::uint8_t>{0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(e[1].length, 0u);
    EXPECT_TRUE(e[1].data.empty());
    EXPECT_TRUE(e[2].isMeta(0x01));
    EXPECT_EQ(std::string(e[2].data.begin(), e[2].data.end()), "hello");
    EXPECT_EQ(e[3].length, 0u);
    EXPECT_TRUE(e[4].isSetTempo());
    EXPECT_EQ(e[4].tempo(), 500000u);
}

TEST(MidiReader, BrokenTracksFailWithAMessage) {
    struct Case {
        const char* name;
        Bytes track;        // the whole chunk data
        std::uint32_t declared;  // declared chunk length, 0 = actual
        std::string out;
    };
    const std::string head = "Number of tracks = 1\nReading MIDI tracks";
    const std::string cut = "ERROR: Unexpected end of MIDI file in track 1\n";
    const Case cases[] = {
        {"no end-of-track event", {0x00, 0x90, 0x3C, 0x40}, 0, head + cut},
        {"inside a delta time", {0x00, 0x90, 0x3C, 0x40, 0x81}, 0, head + cut},
        {"inside a channel message", {0x00, 0x90, 0x3C}, 0, head + cut},
        {"inside a meta payload", {0x00, 0xFF, 0x01, 0x05, 'a', 'b'}, 0, head + cut},
        {"inside a meta length", {0x00, 0xFF, 0x01, 0x85}, 0, head + cut},
        {"meta length far beyond the file", {0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 0,
         head + cut},
        {"sysex length far beyond the file", {0x00, 0xF0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 0,
         head + cut},
        {"chunk length far beyond the file", {0x00, 0x90, 0x3C, 0x40}, 0xFFFFFFF0u, head + cut},
        {"packet sysex", {0x00, 0xF0, 0x03, 0x01, 0x02, 0x03, 0x00, 0xFF, 0x2F, 0x00}, 0,
         head + "ERROR: Packet SYSEX events not supported\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Smf smf(0, 96);
        auto& t = smf.track().raw(c.track);
        if (c.declared != 0) t.chunkLength(c.declared);
        ReadResult r;
        read(smf.bytes(), r);
        EXPECT_EQ(r.status, Status::Failed);
        EXPECT_EQ(r.console.out, c.out);
        EXPECT_EQ(r.console.err, "");
    }
}

TEST(MidiReader, MissingTrackIsReportedOnTheErrorStream) {
    Smf smf(1, 96);
    smf.trackCount(3);
    smf.track().endOfTrack();
    smf.track().endOfTrack();
    ReadResult r;
    read(smf.bytes(), r);
    EXPECT_EQ(r.status, Status::Failed);
    EXPECT_EQ(r.console.out, "Number of tracks = 3\nReading MIDI tracks..");
    EXPECT_EQ(r.console.err, "ERROR: Unexpected end of MIDI file before track 3 of 3\n");
}

TEST(MidiReader, ManyAnnouncedTracksInAShortFile) {
    Smf smf(1, 96);
    smf.trackCount(65535);
    smf.track().endOfTrack();
    ReadResult r;
    read(smf.bytes(), r);
    EXPECT_EQ(r.status, Status::Failed);
    EXPECT_EQ(r.console.err, "ERROR: Unexpected end of MIDI file before track 2 of 65535\n");
    EXPECT_LE(r.file.midi.tracks.capacity(), 16u);
}

TEST(MidiReader, ChunkLengthDecidesWhereTheNextChunkStarts) {
    // Bytes after the end-of-track event inside the chunk are skipped.
    Smf padded(1, 96);
    padded.track().noteOn(0, 0, 60, 64).noteOff(10, 0, 60).endOfTrack(0).raw({0x00, 0x90, 0x01});
    padded.track().noteOn(0, 1, 61, 64).noteOff(10, 1, 61).endOfTrack(0);
    ReadResult r;
    read(padded.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok) << r.console.all;
    EXPECT_EQ(r.track(0).events.size(), 3u);
    EXPECT_EQ(r.track(1).events.at(0).status, 0x91);

    // A chunk declared too long, as the last chunk of the file, is accepted.
    Smf tooLong(0, 96);
    tooLong.track().noteOn(0, 0, 60, 64).noteOff(10, 0, 60).endOfTrack(0).chunkLength(100);
    ReadResult r2;
    read(tooLong.bytes(), r2);
    EXPECT_EQ(r2.status, Status::Ok) << r2.console.all;

    // Reading goes on past a declared length that is too short, up to the
    // end-of-track event.
    Smf tooShort(0, 96);
    tooShort.track().noteOn(0, 0, 60, 64).noteOff(10, 0, 60).endOfTrack(0).chunkLength(2);
    ReadResult r3;
    read(tooShort.bytes(), r3);
    EXPECT_EQ(r3.status, Status::Ok) << r3.console.all;
    EXPECT_EQ(r3.track(0).events.size(), 3u);
}

TEST(MidiReader, EndOfTrackTakesThePreviousEventsTime) {
    Smf smf(0, 96);
    smf.track().noteOn(0, 0, 60, 64).noteOff(1000, 0, 60).endOfTrack(480);
    ReadResult r;
    read(smf.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok);
    const MidiEvent& end = r.track(0).events.back();
    EXPECT_TRUE(end.isEndOfTrack());
    EXPECT_EQ(end.time, 1000u);
    EXPECT_EQ(end.delta, 0u);

    Smf alone(0, 96);
    alone.track().endOfTrack(700);
    ReadResult r2;
    read(alone.bytes(), r2);
    ASSERT_EQ(r2.status, Status::Ok);
    EXPECT_EQ(r2.track(0).events.at(0).time, 0u);
    EXPECT_EQ(r2.track(0).events.at(0).delta, 0u);
}

TEST(MidiReader, TracksAreCutAfterTheMusic) {
    // Last note start 960, last note-off 3000, division 96: cut after 2496.
    Smf smf(1, 96);
    smf.track()
        .noteOn(0, 0, 60, 64)
        .noteOn(960, 0, 62, 64)
        .controller(1000, 0, 7, 100)  // 1960: kept
        .controller(600, 0, 7, 90)    // 2560: becomes the end
        .noteOff(440, 0, 60)          // 3000: dropped
        .endOfTrack(0);
    smf.track().controller(2000, 1, 7, 5).endOfTrack(600);  // only the end is later: unchanged
    smf.track().controller(2400, 2, 7, 1).controller(200, 2, 7, 2).endOfTrack(0);
    ReadResult r;
    read(smf.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok);

    const auto& t0 = r.track(0).events;
    ASSERT_EQ(t0.size(), 4u);
    EXPECT_EQ(t0[2].time, 1960u);
    EXPECT_TRUE(t0[3].isEndOfTrack());
    EXPECT_EQ(t0[3].time, 1960u);
    EXPECT_EQ(t0[3].delta, 0u);
    EXPECT_TRUE(t0[3].data.empty());

    EXPECT_EQ(r.track(1).events.size(), 2u);

    const auto& t2 = r.track(2).events;
    ASSERT_EQ(t2.size(), 2u);
    EXPECT_EQ(t2[0].time, 2400u);
    EXPECT_TRUE(t2[1].isEndOfTrack());
    EXPECT_EQ(t2[1].time, 2400u);
}

TEST(MidiReader, WithoutNotesEveryTrackEndsAtItsFirstLaterEvent) {
    Smf smf(0, 96);
    smf.track().text(0, "a").tempo(0, 400000).text(5, "b").text(5, "c").endOfTrack(0);
    ReadResult r;
    read(smf.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok);
    const auto& e = r.track(0).events;
    ASSERT_EQ(e.size(), 3u);
    EXPECT_TRUE(e[2].isEndOfTrack());
    EXPECT_EQ(e[2].time, 0u);
}

TEST(MidiReader, VelocityZeroCountsAsNoteOffWhenCutting) {
    // Last note-off (a velocity-0 note-on) at 200: the controller at 300 goes.
    Smf smf(0, 96);
    smf.track().noteOn(0, 0, 60, 64).noteOn(200, 0, 60, 0).controller(100, 0, 7, 1).endOfTrack(0);
    ReadResult r;
    read(smf.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok);
    const auto& e = r.track(0).events;
    ASSERT_EQ(e.size(), 3u);
    EXPECT_TRUE(e[2].isEndOfTrack());
    EXPECT_EQ(e[2].time, 200u);
}

// The shared edge-case files: each one reads to a result and a message, and
// a few are checked for what they hold.
TEST(MidiReader, EdgeCaseFiles) {
    struct Case {
        const char* file;
        Status status;
        std::string outStart;
    };
    const Case cases[] = {
        {"test-2-tracks-type-2.mid", Status::Failed, "ERROR: MIDI file format 2 not supported\n"},
        {"test-empty-file.mid", Status::Failed, "ERROR: Invalid MIDI header ID\n"},
        {"test-not-a-midi-file.mid", Status::Failed, "ERROR: Invalid MIDI header ID\n"},
        {"test-2-tracks-type-1.mid", Status::Ok, "Number of tracks = 2\nReading MIDI tracks..\n"},
        {"test-running-status-metaevent.mid", Status::Ok, "Number of tracks = "},
        {"test-vlq-4-byte.mid", Status::Ok, "Number of tracks = "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto path = test::midiCasesDir() / c.file;
        if (!std::filesystem::exists(path)) GTEST_SKIP() << "edge-case files not present";
        const Bytes bytes = test::readBytes(path);
        ReadResult r;
        read(bytes, r);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.console.out.substr(0, c.outStart.size()), c.outStart);
    }
    for (const auto& entry : std::filesystem::directory_iterator(test::midiCasesDir())) {
        if (entry.path().extension() != ".mid") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ReadResult r;
        read(test::readBytes(entry.path()), r);
        if (r.status == Status::Ok) {
            for (const MidiTrack& t : r.file.midi.tracks) {
                ASSERT_FALSE(t.events.empty());
                EXPECT_TRUE(t.events.back().isEndOfTrack());
            }
        } else {
            EXPECT_NE(r.console.all.find("ERROR"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace korvalin
