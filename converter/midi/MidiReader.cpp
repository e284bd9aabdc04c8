// Reads a Standard MIDI File into the event store: the header chunk, then every
// track chunk as an array of events with running status resolved, absolute
// times and melodic note numbers shifted up by one; finally every track is cut
// after the end of the music.
#include "midi/MidiReader.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "base/Alloc.h"

namespace korvalin {
namespace {

constexpr std::uint32_t kHeaderLength = 6;
// A chunk header and the shortest track, a lone end-of-track event.
constexpr std::size_t kMinTrackBytes = 12;
// Sixteen quarter notes after the last note start the music is over.
constexpr std::uint64_t kTailQuarters = 16;
constexpr std::uint8_t kMaxDataByte = 0x7F;

// Status bytes have the top bit set; data bytes carry seven bits.
constexpr std::uint8_t kStatusBit = 0x80;

// Every status below the program change (the unresolved status 0 included)
// and the pitch bend take two data bytes.
bool hasTwoDataBytes(std::uint8_t status) {
    return status < kKindProgram || (status >= kKindPitchBend && status < kStatusSysex);
}

bool isChannelMessage(std::uint8_t status) {
    return status >= kKindNoteOff && status < kStatusSysex;
}

bool isNoteMessage(std::uint8_t status) {
    const auto kind = status & 0xF0;
    return kind == kKindNoteOff || kind == kKindNoteOn;
}

// A variable-length quantity: seven bits per byte, high bit set on all but the
// last. There is no limit on the number of bytes; longer ones wrap in 32 bits.
// At the end of the input the reader yields 0, which ends the loop.
std::uint32_t readVarLen(ByteReader& in) {
    std::uint8_t b = in.readU8();
    std::uint32_t value = b & 0x7Fu;
    while ((b & 0x80) && in.ok()) {
        b = in.readU8();
        value = (value << 7) | (b & 0x7Fu);
    }
    return value;
}

bool readMidiHeader(ByteReader& in, MidiFileHeader& header, Console& out) {
    header.chunkId = in.readU32BE();
    if (header.chunkId != kMidiHeaderId) {
        out.print("ERROR: Invalid MIDI header ID\n");
        return false;
    }
    header.chunkLength = in.readU32BE();
    if (header.chunkLength != kHeaderLength) {
        out.print("%lu\n", static_cast<unsigned long>(header.chunkLength));
        out.print("ERROR: Incorrect MIDI header size\n");
        return false;
    }
    header.format = in.readU16BE();
    if (header.format >= 2) {
        out.print("ERROR: MIDI file format %hu not supported\n", header.format);
        return false;
    }
    header.trackCount = in.readU16BE();
    header.division = in.readU16BE();
    // A file cut inside the header would otherwise read as an empty song.
    if (!in.ok()) {
        out.print("ERROR: Unexpected end of MIDI file in the header\n");
        return false;
    }
    out.print("Number of tracks = %hu\n", header.trackCount);
    return true;
}

// A meta or sysex payload of `length` bytes: passed over, its first three
// bytes kept as the event's metaValue. The length is checked against the
// bytes present. `last` receives the final byte (0 for an empty payload).
bool readPayload(ByteReader& in, std::uint32_t length, MidiEvent& event, std::uint8_t& last) {
    const std::span<const std::uint8_t> payload = in.peek(length);
    if (payload.size() != length) {
        in.skip(in.remaining() + 1);  // marks the input as ended
        return false;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 3; ++i) value = (value << 8) | (i < length ? payload[i] : 0);
    event.metaValue = value;
    last = length != 0 ? payload[length - 1] : 0;
    return in.skip(length);
}

enum class EventResult { Ok, Truncated, PacketSysex };

EventResult readEvent(const RunState& run, ByteReader& in, MidiTrack& track,
                      std::uint8_t& runningStatus, MidiEvent& event) {
    event.status = in.readU8();
    std::uint8_t last = 0;
    if (event.status == kStatusSysex) {
        const std::uint32_t length = readVarLen(in);
        if (!readPayload(in, length, event, last)) return EventResult::Truncated;
        if (length != 0 && last != 0xF7) return EventResult::PacketSysex;
    } else if (event.status == kStatusMeta) {
        event.metaType = in.readU8();
        if (!readPayload(in, readVarLen(in), event, last)) return EventResult::Truncated;
        if (event.metaType == kMetaEndOfTrack) track.ended = true;
    } else {
        // Statuses 0xF1..0xFE take this path too: one data byte, and they
        // become the running status. A data byte at the very start of a track
        // is stored with status 0 and two data bytes.
        if (event.status & kStatusBit) {
            event.data1 = in.readU8();
        } else {
            event.data1 = event.status;
            event.status = runningStatus;
        }
        if (hasTwoDataBytes(event.status)) event.data2 = in.readU8();
        // A channel message's data bytes carry seven bits, but some editors
        // write bytes with the top bit set there (a velocity of 0xCC). Such a
        // byte counts as the largest value, 127: every later stage then works
        // on values it was built for. Masking to seven bits would instead turn
        // velocity 0x80 into a note-off and controller 0x87 into the volume.
        if (isChannelMessage(event.status)) {
            event.data1 = std::min(event.data1, kMaxDataByte);
            event.data2 = std::min(event.data2, kMaxDataByte);
        }
        // Module note numbers start at 1; percussion keys stay as they are.
        if (isNoteMessage(event.status) && event.channel() != run.settings.percussionChannel)
            event.data1 = static_cast<std::uint8_t>(event.data1 + 1);
        runningStatus = event.status;
    }
    return in.ok() ? EventResult::Ok : EventResult::Truncated;
}

// Note times gathered while the tracks are read, for the cut after the end of
// the music, so that finding it takes no extra pass over the events.
struct NoteTimes {
    std::uint32_t lastOff = 0;
    std::uint32_t lastOn = 0;
    // Per track: the latest time of its events before the end-of-track event.
    std::vector<std::uint32_t> latest;

    void note(const MidiEvent& event, std::uint32_t& trackLatest) {
        if (event.isNoteOff()) lastOff = std::max(lastOff, event.time);
        if (event.isNoteOn()) lastOn = std::max(lastOn, event.time);
        trackLatest = std::max(trackLatest, event.time);
    }
};

bool readTrackEvents(const RunState& run, ByteReader& in, MidiTrack& track, std::size_t trackIndex,
                     NoteTimes& times, Console& out) {
    const std::size_t endPosition = in.position() + track.chunkLength;
    // Every event takes at least two bytes; the declared length is not trusted
    // beyond the bytes that are really there. The bound is only reserved:
    // typical events take three or four bytes, and the room they leave unused
    // is never touched, so it costs no memory.
    const std::size_t expected = std::min<std::size_t>(track.chunkLength, in.remaining()) / 2 + 1;
    std::vector<MidiEvent>& events = track.events;
    events.clear();
    reserveOrAbort(events, expected, out);
    std::size_t count = 0;
    std::uint8_t runningStatus = 0;

    while (!track.ended) {
        if (count < events.capacity())
            events.emplace_back();
        else
            reallocOrAbort(events, count + 1, out);
        MidiEvent& event = events[count];
        const std::uint32_t delta = readVarLen(in);
        event.time = count == 0 ? delta : events[count - 1].time + delta;
        const EventResult result = readEvent(run, in, track, runningStatus, event);
        if (result == EventResult::PacketSysex) {
            out.print("ERROR: Packet SYSEX events not supported\n");
            return false;
        }
        if (result == EventResult::Truncated) {
            out.print("ERROR: Unexpected end of MIDI file in track %lu\n",
                      static_cast<unsigned long>(trackIndex + 1));
            return false;
        }
        if (!track.ended) times.note(event, times.latest[trackIndex]);
        ++count;
    }
    reallocOrAbort(events, count, out);

    // The end-of-track event takes the time of the event before it.
    MidiEvent& last = events.back();
    last.time = events.size() > 1 ? events[events.size() - 2].time : 0;

    track.ended = false;
    // Bytes after the end-of-track event inside the chunk are skipped. A chunk
    // declared longer than the file leaves the input at its end; that matters
    // only if another chunk is expected.
    in.seek(endPosition);
    return true;
}

// Cuts every track after the end of the music: after the last note-off, and
// after sixteen quarter notes past the last note start. The first event later
// than that becomes the track's end-of-track event.
void trimTrackEnds(MidiFileHeader& header, const NoteTimes& times, Console& out) {
    // Kept in 64 bits so that a late last note does not wrap to an early cut.
    const std::uint64_t cutTime =
        std::min<std::uint64_t>(times.lastOff, times.lastOn + kTailQuarters * header.division);

    for (std::size_t t = 0; t < header.tracks.size(); ++t) {
        if (times.latest[t] <= cutTime) continue;  // nothing to cut
        std::vector<MidiEvent>& events = header.tracks[t].events;
        for (std::size_t i = 0; i + 1 < events.size(); ++i) {
            MidiEvent& event = events[i];
            if (event.time <= cutTime) continue;
            // It takes the time of the event before it.
            event.status = kStatusMeta;
            event.metaType = kMetaEndOfTrack;
            event.metaValue = 0;
            event.data1 = 0;
            event.data2 = 0;
            event.time = i > 0 ? events[i - 1].time : 0;
            reallocOrAbort(events, i + 1, out);
            break;
        }
    }
}

bool readMidiTracks(const RunState& run, ByteReader& in, MidiFileHeader& header, Console& out) {
    // The table grows as tracks are read: a short file that announces many
    // tracks gets no more records than its bytes could hold.
    allocOrAbort(header.tracks,
                 std::min<std::size_t>(header.trackCount, in.remaining() / kMinTrackBytes), out);
    out.print("Reading MIDI tracks");
    NoteTimes times;
    for (std::size_t i = 0; i < header.trackCount; ++i) {
        if (i == header.tracks.size()) reallocOrAbort(header.tracks, i + 1, out);
        times.latest.push_back(0);
        MidiTrack& track = header.tracks[i];
        track.ended = false;
        for (;;) {
            track.chunkId = in.readU32BE();
            track.chunkLength = in.readU32BE();
            if (!in.ok()) {
                out.printError("ERROR: Unexpected end of MIDI file before track %lu of %lu\n",
                               static_cast<unsigned long>(i + 1),
                               static_cast<unsigned long>(header.trackCount));
                return false;
            }
            if (track.chunkId == kMidiTrackId) break;
            // Unknown chunks are passed over and do not count as tracks.
            in.skip(track.chunkLength);
        }
        if (!readTrackEvents(run, in, track, i, times, out)) return false;
        out.print(".");
    }
    out.print("\n");
    trimTrackEnds(header, times, out);
    return true;
}

}  // namespace

Status readMidiFile(const RunState& run, ByteReader& in, FileState& file, Console& out) {
    MidiFileHeader& header = file.midi;
    if (!readMidiHeader(in, header, out)) return Status::Failed;
    if (!readMidiTracks(run, in, header, out)) return Status::Failed;
    return Status::Ok;
}

}  // namespace korvalin
