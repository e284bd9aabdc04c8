#include "midi/MidiReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/ByteIO.h"
#include "score/Score.h"
#include "support/MidiBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

using test::Bytes;
using test::Smf;
using test::SmfTrack;

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
    result.status = readMidiFile(run, in, result.file, result.console, makeTrackSummarizer);
}

// A format-0 file whose one track chunk holds `data`, then an end-of-track
// event unless `end` is false.
Bytes oneTrack(const Bytes& data, bool end = true, int division = 96) {
    Smf smf(0, division);
    auto& t = smf.track().raw(data);
    if (end) t.endOfTrack(0);
    return smf.bytes();
}

TEST(MidiReader, RefusedFiles) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string out;
        std::string err;
    };
    Smf badId(1, 96), missing(1, 96), many(1, 96);
    badId.headerId = "RIFF";
    missing.trackCount = 3;
    missing.track().endOfTrack();
    missing.track().endOfTrack();
    many.trackCount = 65535;
    many.track().endOfTrack();
    const auto open = [](const Bytes& data) { return oneTrack(data, false); };
    const std::string head = "Number of tracks = 1\nReading MIDI tracks";
    const std::string cut = head + "ERROR: Unexpected end of MIDI file in track 1\n";
    const std::string before = "ERROR: Unexpected end of MIDI file before track ";
    const Case cases[] = {
        {"wrong id", badId.bytes(), "ERROR: Invalid MIDI header ID\n", ""},
        {"a track missing", missing.bytes(), "Number of tracks = 3\nReading MIDI tracks..",
         before + "3 of 3\n"},
        {"65535 tracks announced", many.bytes(), "Number of tracks = 65535\nReading MIDI tracks.",
         before + "2 of 65535\n"},
        {"no end-of-track event", open({0x00, 0x90, 0x3C, 0x40}), cut, ""},
        {"meta length beyond the file", open({0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}), cut,
         ""},
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
        {"0xF1..0xFE take one data byte and become the running status",
         {0x00, 0xF1, 0x05, 0x00, 0xF7, 0x06, 0x00, 0x07, 0x00, 0xFE, 0x08},
         {"F1 05 00 @0", "F7 06 00 @0", "F7 07 00 @0", "FE 08 00 @0"}},
        {"times past 32 bits: the cut takes the largest note times, not the last ones",
         {0x00, 0x90, 0x3C, 0x40, 0x8F, 0x80, 0x80, 0x80, 0x00, 0x80, 0x3C, 0x00,   // @0xF0000000
          0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 0x3C, 0x40, 0x0A, 0x80, 0x3C, 0x00},  // wraps to @0
         {"90 3D 40 @0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadResult r;
        read(oneTrack(c.events, true, 96000), r, 2);  // large division: trimmed only by a wrap
        ASSERT_EQ(r.status, Status::Ok) << r.console.all;
        EXPECT_EQ(shown(r.events(0)), c.expect);
    }
}

// A set-tempo event's tempo is its first three payload bytes (missing ones 0).
TEST(MidiReader, SetTempoValues) {
    const Bytes events = {0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFE, 0xFD,        // the largest
                          0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1,              // short
                          0x00, 0xFF, 0x51, 0x04, 0x01, 0x02, 0x03, 0x04,  // long
                          0x00, 0xFF, 0x51, 0x00};                         // empty
    ReadResult r;
    read(oneTrack(events), r);
    const std::uint32_t tempos[] = {0xFFFEFD, 0x07A100, 0x010203, 0};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(r.events(0).at(i).isSetTempo() ? r.events(0)[i].tempo() : 1u, tempos[i]) << i;
}

// Files with many bytes of tracks are read on two threads. Each track must
// come out as it does when read alone, and a cut inside a later track must
// still be reported after the dots of the tracks before it.
TEST(MidiReader, LargeFilesReadTrackByTrackAsAlone) {
    constexpr int kTracks = 5;
    constexpr std::uint32_t kNotes = 3000;  // about 20 KiB a track: 100 KiB in all
    auto fill = [](SmfTrack& t, int k) {
        t.program(0, k, k * 9).text(0, "part");
        for (std::uint32_t n = 0; n < kNotes; ++n)
            t.noteOn(n == 0 ? 0 : 7, k, 30 + static_cast<int>((n * (k + 3)) % 60), 100)
                .noteOff(5, k, 30 + static_cast<int>((n * (k + 3)) % 60));
        t.endOfTrack();
    };
    Smf whole(1, 96);
    for (int k = 0; k < kTracks; ++k) fill(whole.track(), k);
    const Bytes bytes = whole.bytes();
    ReadResult r;
    read(bytes, r);
    ASSERT_EQ(r.status, Status::Ok) << r.console.all;
    for (int k = 0; k < kTracks; ++k) {
        Smf alone(0, 96);
        fill(alone.track(), k);
        ReadResult a;
        read(alone.bytes(), a);
        EXPECT_EQ(shown(r.events(static_cast<std::size_t>(k))), shown(a.events(0))) << k;
    }
    ReadResult cut;
    read(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() * 7 / 10)),
         cut);
    EXPECT_EQ(cut.status, Status::Failed);
    EXPECT_EQ(cut.console.out,
              "Number of tracks = 5\nReading MIDI tracks..."
              "ERROR: Unexpected end of MIDI file in track 4\n");
}

// The reader summarizes each track for the scan. A track cut afterwards at the
// end of the music must be walked again: its cut note would otherwise still
// number program 5 and count as left on.
TEST(MidiReader, ScanSeesTracksAsCut) {
    // Tracks long enough for the reader to summarize them.
    const std::string padding(300, 'x');
    Smf smf(1, 96);
    smf.track()
        .text(0, padding)
        .program(0, 0, 3)
        .noteOn(0, 0, 60, 100)
        .noteOff(10, 0, 60)
        .endOfTrack();
    smf.track().text(0, padding).program(0, 1, 5).noteOn(5000, 1, 60, 100).endOfTrack();
    ReadResult r;
    read(smf.bytes(), r);
    ASSERT_EQ(r.status, Status::Ok) << r.console.all;
    RunState run;
    CaptureConsole out;
    ASSERT_EQ(scanTracks(run, r.file, out), Status::Ok);
    EXPECT_EQ(run.patchMap[3].instrument, 1);
    EXPECT_EQ(run.patchMap[5].instrument, 0);
    EXPECT_EQ(out.out, "Scanning tracks..\n");
}

// Times that wrap go back: the tracks are merged by time, the note @0x50 first.
TEST(MidiReader, ScanMergesTracksWhoseTimesWrap) {
    const std::string padding(300, 'x');
    Smf smf(1, 96);
    smf.track()
        .text(0, padding)
        .noteOn(0xF0000000, 9, 40, 100)
        .noteOff(1, 9, 40)
        .noteOn(0x1000000F, 9, 41, 100)  // @0x10
        .endOfTrack();
    smf.track().text(0, padding).noteOn(0x50, 1, 61, 100).noteOff(1, 1, 61).endOfTrack();
    ReadResult r;
    read(smf.bytes(), r);
    RunState run;
    ASSERT_EQ(scanTracks(run, r.file, r.console), Status::Ok) << r.console.all;
    EXPECT_EQ(run.patchMap[0].instrument, 1);
}

}  // namespace
}  // namespace korvalin
