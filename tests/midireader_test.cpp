#include "midi/MidiReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/ByteIO.h"
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
    const std::vector<MidiEvent>& events(std::size_t i) const {
        return file.midi.tracks.at(i).events;
    }
};

void read(const Bytes& bytes, ReadResult& result, std::uint32_t percussionChannel = 9) {
    RunState run;
    run.settings.percussionChannel = percussionChannel;
    const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    ByteReader in(data);
    result.status = readMidiFile(run, in, result.file, result.console);
}

// A format-0 file whose one track chunk holds `data`, then an end-of-track
// event unless `end` is false; `declared` overrides the chunk length.
Bytes oneTrack(const Bytes& data, bool end = true, int division = 96, std::uint32_t declared = 0) {
    Smf smf(0, division);
    auto& t = smf.track().raw(data);
    if (end) t.endOfTrack(0);
    if (declared != 0) t.chunkLength(declared);
    return smf.bytes();
}

TEST(MidiReader, RefusedFiles) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string out;
        std::string err;
    };
    Smf format2(2, 96), size8(1, 96), badId(1, 96), missing(1, 96), many(1, 96);
    format2.track().endOfTrack();
    size8.headerLength(8).track().endOfTrack();
    badId.headerId("RIFF");
    missing.trackCount(3).track().endOfTrack();
    missing.track().endOfTrack();
    many.trackCount(65535).track().endOfTrack();
    const Bytes good = oneTrack({});
    const auto cutAt = [&good](long n) { return Bytes(good.begin(), good.begin() + n); };
    const auto open = [](const Bytes& data) { return oneTrack(data, false); };
    const std::string head = "Number of tracks = 1\nReading MIDI tracks";
    const std::string cut = head + "ERROR: Unexpected end of MIDI file in track 1\n";
    const std::string before = "ERROR: Unexpected end of MIDI file before track ";
    const Case cases[] = {
        {"wrong id", badId.bytes(), "ERROR: Invalid MIDI header ID\n", ""},
        {"header size 8", size8.bytes(), "8\nERROR: Incorrect MIDI header size\n", ""},
        {"format 2", format2.bytes(), "ERROR: MIDI file format 2 not supported\n", ""},
        {"cut inside the header fields", cutAt(11),
         "ERROR: Unexpected end of MIDI file in the header\n", ""},
        {"half a chunk header", cutAt(17), head, before + "1 of 1\n"},
        {"a track missing", missing.bytes(), "Number of tracks = 3\nReading MIDI tracks..",
         before + "3 of 3\n"},
        {"65535 tracks announced", many.bytes(), "Number of tracks = 65535\nReading MIDI tracks.",
         before + "2 of 65535\n"},
        {"no end-of-track event", open({0x00, 0x90, 0x3C, 0x40}), cut, ""},
        {"inside a delta time", open({0x00, 0x90, 0x3C, 0x40, 0x81}), cut, ""},
        {"inside a channel message", open({0x00, 0x90, 0x3C}), cut, ""},
        {"inside a meta payload", open({0x00, 0xFF, 0x01, 0x05, 'a', 'b'}), cut, ""},
        {"meta length beyond the file", open({0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}), cut,
         ""},
        {"chunk length beyond the file", oneTrack({0x00, 0x90, 0x3C, 0x40}, false, 96, 0xFFFFFFF0u),
         cut, ""},
        {"packet sysex", oneTrack({0x00, 0xF0, 0x03, 0x01, 0x02, 0x03}),
         head + "ERROR: Packet SYSEX events not supported\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadResult r;
        read(c.bytes, r);
        EXPECT_EQ(r.status, Status::Failed);
        EXPECT_EQ(r.console.out, c.out);
        EXPECT_EQ(r.console.err, c.err);
        // Tables are sized by the bytes present, not by the counts announced.
        EXPECT_LE(r.file.midi.tracks.capacity(), 16u);
        for (const MidiTrack& t : r.file.midi.tracks) EXPECT_LE(t.events.capacity(), 16u);
    }
}

// Chunk layout, and where tracks end: every track ends on an end-of-track
// event with the time of the event before it, and is cut at the first event
// after the last note-off or after sixteen quarter notes past the last note
// start, whichever comes first.
TEST(MidiReader, AcceptedFiles) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<std::pair<std::size_t, std::uint32_t>> tracks;  // event count, end time
    };
    Smf unknown(1, 96), padded(1, 96), tooLong(0, 96), tooShort(0, 96);
    unknown.track().tempo(0, 500000).endOfTrack(0);
    unknown.chunk("XFIH", {1, 2, 3, 4, 5});
    unknown.track().noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(0);
    unknown.chunk("junk", {});
    unknown.track().noteOn(0, 1, 62, 100).noteOff(480, 1, 62).endOfTrack(0);
    // Bytes after the end-of-track event inside the chunk are skipped.
    padded.track().noteOn(0, 0, 60, 64).noteOff(10, 0, 60).endOfTrack(0).raw({0, 0x90, 1});
    padded.track().noteOn(0, 1, 61, 64).noteOff(10, 1, 61).endOfTrack(0);
    // The last chunk may claim more bytes than the file has; a chunk claiming
    // too few is read on up to its end-of-track event.
    tooLong.track().noteOn(0, 0, 60, 64).noteOff(10, 0, 60).endOfTrack(0).chunkLength(100);
    tooShort.track().noteOn(0, 0, 60, 64).noteOff(10, 0, 60).endOfTrack(0).chunkLength(2);
    Smf late(0, 96), alone(0, 96), cut(1, 96), noNotes(0, 96), v0(0, 96);
    late.track().noteOn(0, 0, 60, 64).noteOff(1000, 0, 60).endOfTrack(480);
    alone.track().endOfTrack(700);
    // Last note start 960, last note-off 3000: the cut is after 960 + 16 * 96.
    cut.track()
        .noteOn(0, 0, 60, 64)
        .noteOn(960, 0, 62, 64)
        .controller(1000, 0, 7, 100)  // 1960: kept
        .controller(600, 0, 7, 90)    // 2560: becomes the end
        .noteOff(440, 0, 60)
        .endOfTrack(0);
    cut.track().controller(2000, 1, 7, 5).endOfTrack(600);  // only the end is later
    cut.track().controller(2400, 2, 7, 1).controller(200, 2, 7, 2).endOfTrack(0);
    noNotes.track().text(0, "a").tempo(0, 400000).text(5, "b").text(5, "c").endOfTrack(0);
    v0.track().noteOn(0, 0, 60, 64).noteOn(200, 0, 60, 0).controller(100, 0, 7, 1).endOfTrack();
    const Case cases[] = {
        {"unknown chunks", unknown.bytes(), {{2, 0}, {3, 480}, {3, 480}}},
        {"no tracks", Smf(1, 96).bytes(), {}},
        {"padding after the end", padded.bytes(), {{3, 10}, {3, 10}}},
        {"declared too long", tooLong.bytes(), {{3, 10}}},
        {"declared too short", tooShort.bytes(), {{3, 10}}},
        {"end-of-track after a delay", late.bytes(), {{3, 1000}}},
        {"a lone end-of-track", alone.bytes(), {{1, 0}}},
        {"cut after the music", cut.bytes(), {{4, 1960}, {2, 2000}, {2, 2400}}},
        {"without notes at the first later event", noNotes.bytes(), {{3, 0}}},
        {"velocity 0 counts as note-off", v0.bytes(), {{3, 200}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadResult r;
        read(c.bytes, r);
        ASSERT_EQ(r.status, Status::Ok) << r.console.all;
        const std::size_t n = c.tracks.size();
        EXPECT_EQ(r.console.out, "Number of tracks = " + std::to_string(n) +
                                     "\nReading MIDI tracks" + std::string(n, '.') + "\n");
        EXPECT_EQ(r.file.midi.division, 96);
        ASSERT_EQ(r.file.midi.tracks.size(), n);
        for (std::size_t i = 0; i < n; ++i) {
            SCOPED_TRACE(i);
            const auto& events = r.events(i);
            ASSERT_EQ(events.size(), c.tracks[i].first);
            EXPECT_TRUE(events.back().isEndOfTrack());
            EXPECT_TRUE(events.back().data.empty());
            EXPECT_EQ(events.back().time, c.tracks[i].second);
            EXPECT_EQ(events.back().delta, 0u);
        }
    }
}

// Status, data bytes and time of each event before the end of the track.
std::vector<std::string> shown(const std::vector<MidiEvent>& events) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "%02X %02X %02X @%u", events[i].status, events[i].data1,
                      events[i].data2, static_cast<unsigned>(events[i].time));
        out.emplace_back(text);
    }
    return out;
}

// Percussion is on channel 2 here: its keys keep their numbers, while every
// other channel's note numbers move up by one.
TEST(MidiReader, ChannelMessages) {
    struct Case {
        const char* name;
        Bytes events;  // track bytes before the end-of-track event
        std::vector<std::string> expect;
    };
    const Case cases[] = {
        {"running status across a meta event",
         {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 'x', 0x00, 0x3E, 0x40},
         {"90 3D 40 @0", "FF 00 00 @0", "90 3F 40 @0"}},
        {"running status across a sysex event",
         {0x00, 0x91, 0x3C, 0x40, 0x10, 0xF0, 0x01, 0xF7, 0x10, 0x3E, 0x00},
         {"91 3D 40 @0", "F0 00 00 @16", "91 3F 00 @32"}},
        {"percussion channel",
         {0x00, 0x99, 0x3C, 0x40, 0x00, 0x92, 0x3C, 0x40, 0x00, 0x82, 0x3C, 0x00},
         {"99 3D 40 @0", "92 3C 40 @0", "82 3C 00 @0"}},
        {"note numbers 0 and 127 become 1 and 128",
         {0, 0x90, 0x00, 0x40, 0, 0x80, 0x7F, 0x00},
         {"90 01 40 @0", "80 80 00 @0"}},
        {"velocity 0 stays a note-on",
         {0, 0x90, 0x3C, 0x40, 0x60, 0x90, 0x3C, 0x00},
         {"90 3D 40 @0", "90 3D 00 @96"}},
        {"one data byte for program and pressure, also with running status",
         {0, 0xC3, 0x05, 0, 0x06, 0, 0xD3, 0x40, 0, 0xE3, 0x00, 0x40, 0, 0xB3, 0x07, 0x64},
         {"C3 05 00 @0", "C3 06 00 @0", "D3 40 00 @0", "E3 00 40 @0", "B3 07 64 @0"}},
        {"a data byte at the start of a track has status 0",
         {0, 0x3C, 0x40, 0, 0x90, 0x3C, 0x40},
         {"00 3C 40 @0", "90 3D 40 @0"}},
        {"0xF1..0xFE take one data byte and become the running status",
         {0x00, 0xF1, 0x05, 0x00, 0xF7, 0x06, 0x00, 0x07, 0x00, 0xFE, 0x08},
         {"F1 05 00 @0", "F7 06 00 @0", "F7 07 00 @0", "FE 08 00 @0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadResult r;
        read(oneTrack(c.events, true, 96000), r, 2);  // large division: nothing trimmed
        ASSERT_EQ(r.status, Status::Ok) << r.console.all;
        EXPECT_EQ(shown(r.events(0)), c.expect);
    }
}

TEST(MidiReader, VariableLengthBoundaries) {
    // Five-byte numbers are read on and wrap in 32 bits.
    const std::pair<Bytes, std::uint32_t> cases[] = {
        {{0x00}, 0},
        {{0x7F}, 0x7F},
        {{0x81, 0x00}, 0x80},
        {{0xFF, 0x7F}, 0x3FFF},
        {{0x81, 0x80, 0x00}, 0x4000},
        {{0xFF, 0xFF, 0xFF, 0x7F}, 0x0FFFFFFF},
        {{0x90, 0x80, 0x80, 0x80, 0x01}, 1},
        {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 0xFFFFFFFF},
    };
    for (const auto& [bytes, value] : cases) {
        SCOPED_TRACE(value);
        Bytes events = bytes;  // a note that starts and ends there, so nothing is cut
        events.insert(events.end(), {0x90, 0x3C, 0x40, 0x00, 0x80, 0x3C, 0x00});
        ReadResult r;
        read(oneTrack(events), r);
        ASSERT_EQ(r.status, Status::Ok) << r.console.all;
        EXPECT_EQ(r.events(0).at(0).delta, value);
        EXPECT_EQ(r.events(0).at(0).time, value);
    }
}

TEST(MidiReader, MetaAndSysexPayloads) {
    Smf smf(0, 96);
    smf.track()
        .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .sysex(0, {})
        .text(0, "hello")
        .tempo(0, 0x07A120)
        .endOfTrack(0);
    ReadResult r;
    read(smf.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok) << r.console.all;
    const auto& e = r.events(0);
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].status, kStatusSysex);
    EXPECT_EQ(e[0].data, (std::vector<std::uint8_t>{0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(e[1].length, 0u);
    EXPECT_TRUE(e[2].isMeta(0x01));
    EXPECT_EQ(std::string(e[2].data.begin(), e[2].data.end()), "hello");
    EXPECT_TRUE(e[3].isSetTempo());
    EXPECT_EQ(e[3].tempo(), 500000u);
}

// The shared edge-case files: each reads to a result and a message, and any
// file that reads leaves every track closed by an end-of-track event.
TEST(MidiReader, EdgeCaseFiles) {
    const std::pair<const char*, std::string> known[] = {
        {"test-2-tracks-type-2.mid", "ERROR: MIDI file format 2 not supported\n"},
        {"test-empty-file.mid", "ERROR: Invalid MIDI header ID\n"},
        {"test-not-a-midi-file.mid", "ERROR: Invalid MIDI header ID\n"},
        {"test-2-tracks-type-1.mid", "Number of tracks = 2\nReading MIDI tracks..\n"},
        {"test-running-status-metaevent.mid", "Number of tracks = "},
        {"test-vlq-4-byte.mid", "Number of tracks = "},
    };
    for (const auto& [file, outStart] : known) {
        SCOPED_TRACE(file);
        ReadResult r;
        read(test::readBytes(test::midiCasesDir() / file), r);
        EXPECT_EQ(r.status, outStart.starts_with("ERROR") ? Status::Failed : Status::Ok);
        EXPECT_EQ(r.console.out.substr(0, outStart.size()), outStart);
    }
    for (const auto& entry : std::filesystem::directory_iterator(test::midiCasesDir())) {
        if (entry.path().extension() != ".mid") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ReadResult r;
        read(test::readBytes(entry.path()), r);
        if (r.status != Status::Ok) {
            EXPECT_NE(r.console.all.find("ERROR"), std::string::npos);
            continue;
        }
        for (const MidiTrack& t : r.file.midi.tracks) {
            ASSERT_FALSE(t.events.empty());
            EXPECT_TRUE(t.events.back().isEndOfTrack());
        }
    }
}

}  // namespace
}  // namespace korvalin
