// Reads a Standard MIDI File into the event store: the header chunk, then every
// track chunk as an array of events with running status resolved, absolute
// times and melodic note numbers shifted up by one; finally every track is cut
// after the end of the music.
//
// A piece holds hundreds of thousands of events, so a track's bytes are
// decoded from a pointer pair held in registers. While enough bytes remain, a
// channel message after a short delta time is decoded without per-byte bounds
// checks (the common case); everything else, and every event near the end of
// the input, goes through the checked path, which never reads past the end.
// A large file's tracks are read on two threads; what each track's reading
// gave is printed afterwards, in track order, as if they were read in turn.
// Each track can be shown to a visitor right after it is read, while its
// events are still in the cache (the track scan summarizes it so), and the
// memory its events will fill is mapped in ahead of the decoding in a few
// large steps.
#include "midi/MidiReader.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>
#include <thread>
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
// Event slots are made ready this many at a time (8 KiB, stays in the cache
// until the events overwrite it), so the loop checks for room once per block.
constexpr std::size_t kEventBlock = 1024;

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

// How the data bytes of a message with this (resolved) status are read and
// stored; one table per file, since the note shift depends on the percussion
// channel. Four bytes, so that a rule is found by a shift of its status.
struct alignas(4) StatusRule {
    // Sysex and meta events have none here: the fast path leaves them to the
    // checked path, which reads them apart.
    std::uint8_t dataBytes = 1;
    // A channel message's data bytes carry seven bits, but some editors write
    // bytes with the top bit set there (a velocity of 0xCC). Such a byte counts
    // as the largest value, 127: every later stage then works on values it was
    // built for. Masking to seven bits would instead turn velocity 0x80 into a
    // note-off and controller 0x87 into the volume.
    std::uint8_t maxData = 0xFF;
    // Module note numbers start at 1; percussion keys stay as they are.
    std::uint8_t noteShift = 0;
};
using StatusRules = std::array<StatusRule, 256>;

// Statuses 0xF1..0xFE take one data byte and become the running status. A
// data byte at the very start of a track is stored with status 0 and two data
// bytes.
StatusRules makeStatusRules(const RunState& run) {
    StatusRules rules{};
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const auto status = static_cast<std::uint8_t>(i);
        StatusRule& rule = rules[i];
        if (hasTwoDataBytes(status)) rule.dataBytes = 2;
        if (status == kStatusSysex || status == kStatusMeta) rule.dataBytes = 0;
        if (isChannelMessage(status)) rule.maxData = kMaxDataByte;
        if (isNoteMessage(status) && (status & 0x0Fu) != run.settings.percussionChannel)
            rule.noteShift = 1;
    }
    return rules;
}

// A channel message's event from its resolved status and raw data bytes.
MidiEvent channelEvent(const StatusRule& rule, std::uint32_t time, std::uint8_t status,
                       std::uint8_t data1, std::uint8_t data2) {
    return MidiEvent{
        .time = time,
        .status = status,
        .data1 = static_cast<std::uint8_t>(std::min(data1, rule.maxData) + rule.noteShift),
        .data2 = std::min(data2, rule.maxData)};
}

// A cursor over the rest of the input. A read past the end yields 0, leaves
// the cursor at the end and sets `failed`, which the caller checks once per
// event (the sticky failure of ByteReader).
struct Cursor {
    const std::uint8_t* p;
    const std::uint8_t* end;
    bool failed = false;

    std::uint8_t next() {
        if (p != end) return *p++;
        failed = true;
        return 0;
    }
    std::size_t remaining() const { return static_cast<std::size_t>(end - p); }
};

// A variable-length quantity: seven bits per byte, high bit set on all but the
// last. There is no limit on the number of bytes; longer ones wrap in 32 bits.
// At the end of the input the cursor yields 0, which ends the loop.
std::uint32_t readVarLen(Cursor& in) {
    std::uint8_t b = in.next();
    std::uint32_t value = b & 0x7Fu;
    while (b & 0x80) {
        b = in.next();
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

// What runs from one event of a track to the next.
struct TrackState {
    // Absolute time of the last event read, summed in 64 bits: event times
    // are its low 32 bits, and a sum above 32 bits shows that they wrapped.
    std::uint64_t time = 0;
    std::uint8_t runningStatus = 0;
    bool ended = false;  // the end-of-track event was read
};

// The most bytes the fast path reads: a delta time of up to four bytes, a
// status byte and two data bytes.
constexpr std::size_t kFastDeltaBytes = 4;
constexpr std::size_t kFastBytes = kFastDeltaBytes + 3;

// Decodes, without bounds checks, an event of a delta time of at most four
// bytes and a channel message (or 0xF1..0xFE, or data under the running
// status) whose data bytes are below 0x80; p has at least kFastBytes bytes.
// Returns the position after the event, or nullptr, having changed nothing,
// for any other event. The tests are branches on purpose: in a real file they
// mostly go the same way, and a predicted branch lets the next event start
// before this one's bytes have arrived, where a position computed from them
// would have to wait.
const std::uint8_t* readFastEvent(const std::uint8_t* p, const StatusRules& rules,
                                  TrackState& state, MidiEvent& event) {
    const std::uint8_t* q = p;
    std::uint32_t delta = *q++;
    if (delta & 0x80) {
        delta &= 0x7Fu;
        std::uint8_t b = 0;
        do {
            if (q == p + kFastDeltaBytes) return nullptr;
            b = *q++;
            delta = (delta << 7) | (b & 0x7Fu);
        } while (b & 0x80);
    }
    std::uint8_t status = *q;
    if (status & kStatusBit)
        ++q;
    else
        status = state.runningStatus;  // q stays on the first data byte
    const StatusRule& rule = rules[status];
    if (rule.dataBytes == 0) return nullptr;  // sysex or meta
    const std::uint8_t data1 = *q++;
    std::uint8_t data2 = 0;
    if (rule.dataBytes == 2) data2 = *q++;
    // Data bytes below 0x80 need no clamping; the checked path clamps others.
    if ((data1 | data2) & kStatusBit) return nullptr;
    state.time += delta;
    state.runningStatus = status;
    event = MidiEvent{.time = static_cast<std::uint32_t>(state.time),
                      .status = status,
                      .data1 = static_cast<std::uint8_t>(data1 + rule.noteShift),
                      .data2 = data2};
    return q;
}

enum class EventResult { Ok, Truncated, PacketSysex };

// A meta or sysex payload of `length` bytes: passed over, its first three
// bytes, big-endian (missing bytes count as 0), kept in `head`. The length is
// checked against the bytes present; when short, the input is marked ended.
bool readPayload(Cursor& in, std::uint32_t length, std::uint32_t& head) {
    if (length > in.remaining()) {
        in.p = in.end;
        in.failed = true;
        return false;
    }
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < 3; ++i) value = (value << 8) | (i < length ? in.p[i] : 0u);
    head = value;
    in.p += length;
    return true;
}

// Any event, every byte read through the checked cursor. Only a set-tempo
// event keeps anything of its payload.
EventResult readCheckedEvent(Cursor& in, const StatusRules& rules, TrackState& state,
                             MidiEvent& event) {
    const std::uint32_t delta = readVarLen(in);
    const std::uint8_t first = in.next();
    event = MidiEvent{.time = static_cast<std::uint32_t>(state.time + delta), .status = first};
    std::uint32_t head = 0;
    if (first == kStatusSysex) {
        const std::uint32_t length = readVarLen(in);
        if (!readPayload(in, length, head)) return EventResult::Truncated;
        if (length != 0 && in.p[-1] != 0xF7) return EventResult::PacketSysex;
    } else if (first == kStatusMeta) {
        event.metaType = in.next();
        if (!readPayload(in, readVarLen(in), head)) return EventResult::Truncated;
        if (event.metaType == kMetaSetTempo) {
            event = MidiEvent::setTempo(event.time, head);
        } else if (event.metaType == kMetaEndOfTrack) {
            state.ended = true;
            // The end-of-track event takes the time of the event before it.
            event.time = static_cast<std::uint32_t>(state.time);
        }
    } else {
        const bool isStatus = first & kStatusBit;
        const std::uint8_t status = isStatus ? first : state.runningStatus;
        const StatusRule& rule = rules[status];
        const std::uint8_t data1 = isStatus ? in.next() : first;
        const std::uint8_t data2 = rule.dataBytes == 2 ? in.next() : 0;
        event = channelEvent(rule, event.time, status, data1, data2);
        state.runningStatus = status;
    }
    if (in.failed) return EventResult::Truncated;
    if (!state.ended) state.time += delta;
    return EventResult::Ok;
}

// Note times gathered from the tracks read, for the cut after the end of the
// music: the latest note-off and note start over all tracks.
struct NoteTimes {
    std::uint32_t lastOff = 0;
    std::uint32_t lastOn = 0;
    // Per track: the latest time of its events before the end-of-track event.
    std::vector<std::uint32_t> latest;
};

// The same for one track, from its events before the end-of-track event.
struct TrackTimes {
    std::uint32_t lastOff = 0;
    std::uint32_t lastOn = 0;
    std::uint32_t latest = 0;
};

// Each time is the largest of its kind, which takes a pass over all events
// when the track's times wrapped past 32 bits.
TrackTimes largestTimes(std::span<const MidiEvent> events) {
    TrackTimes t;
    for (const MidiEvent& event : events) {
        if (event.isNoteOff()) t.lastOff = std::max(t.lastOff, event.time);
        if (event.isNoteOn()) t.lastOn = std::max(t.lastOn, event.time);
        t.latest = std::max(t.latest, event.time);
    }
    return t;
}

// Without a wrap the times never decrease, so the largest of each kind is the
// time of the last such event: found from the end, mostly a few events back.
TrackTimes lastTimes(std::span<const MidiEvent> events) {
    TrackTimes t;
    if (!events.empty()) t.latest = events.back().time;
    bool foundOff = false;
    bool foundOn = false;
    for (auto it = events.rbegin(); it != events.rend() && !(foundOff && foundOn); ++it) {
        if (!foundOff && it->isNoteOff()) {
            t.lastOff = it->time;
            foundOff = true;
        }
        if (!foundOn && it->isNoteOn()) {
            t.lastOn = it->time;
            foundOn = true;
        }
    }
    return t;
}

// How reading one track's events ended.
enum class TrackOutcome { Ok, Truncated, PacketSysex, OutOfMemory };

// One track chunk as the walk over the chunk headers found it, and what
// reading its events gave. Tracks are read without printing, a large file's on
// two threads; their outcomes are printed afterwards, in track order.
struct TrackRead {
    std::uint32_t chunkId = 0;
    std::uint32_t chunkLength = 0;
    std::size_t start = 0;  // input offset of the first event
    std::vector<MidiEvent> events;
    TrackOutcome outcome = TrackOutcome::Ok;
    // OutOfMemory: the allocation that failed ("malloc" or "realloc") and its size.
    const char* failedCall = nullptr;
    std::size_t failedBytes = 0;
    TrackTimes times;
    TrackSummary* summary = nullptr;  // where its summary goes, if anywhere
    std::size_t prefaulted = 0;       // event slots mapped in ahead of the decoding

    bool outOfMemory(const char* call, std::size_t bytes) {
        outcome = TrackOutcome::OutOfMemory;
        failedCall = call;
        failedBytes = bytes;
        return false;
    }
};

// Maps in the reserved event slots ahead of the decoding, in one call for
// many pages: as many as the rest of the track is expected to fill, judged from
// the events per byte so far, but at most as many again as there are events,
// so that a track whose later events are long maps in little it never uses.
void prefaultEventSlots(TrackRead& track, std::size_t bytesRead, std::size_t trackBytes) {
    std::vector<MidiEvent>& events = track.events;
    const std::size_t count = events.size();
    if (count == 0 || bytesRead == 0 || count + kEventBlock <= track.prefaulted) return;
    // Every event takes at least two bytes, so the estimate stays below half
    // the track's bytes: well within what a size_t holds.
    const double expected = static_cast<double>(count) * static_cast<double>(trackBytes) /
                            static_cast<double>(bytesRead);
    const std::size_t target = std::min({events.capacity(), 2 * count + kEventBlock,
                                         static_cast<std::size_t>(expected) + kEventBlock});
    if (target <= track.prefaulted) return;
    const std::size_t from = std::max(track.prefaulted, count);
    prefaultPages(events.data() + from, (target - from) * sizeof(MidiEvent));
    track.prefaulted = target;
}

// Blank events that slots are appended from: events copy as plain bytes, so a
// block of slots takes one memcpy, where resizing would build them one by one.
constexpr std::array<MidiEvent, kEventBlock> kBlankEvents{};

// Makes the next block of event slots ready: within the reserved room without
// moving the events, beyond it by the vector's geometric growth.
bool addEventSlots(TrackRead& track, std::size_t bytesRead, std::size_t trackBytes) {
    std::vector<MidiEvent>& events = track.events;
    const std::size_t size = events.size();
    if (size < events.capacity()) {
        prefaultEventSlots(track, bytesRead, trackBytes);
        const auto added =
            static_cast<std::ptrdiff_t>(std::min(events.capacity() - size, kEventBlock));
        // Allocates nothing: the slots fit the room reserved.
        events.insert(events.end(), kBlankEvents.begin(), kBlankEvents.begin() + added);
        return true;
    }
    return tryRealloc(events, size + 1) ||
           track.outOfMemory("realloc", (size + 1) * sizeof(MidiEvent));
}

// Where a run of fast-path events stopped: the input position and the events
// the slots hold.
struct FastRun {
    const std::uint8_t* p;
    std::size_t count;
};

// Decodes events by the fast path into slots[count..room) while at least
// kFastBytes bytes remain, up to the first event the fast path does not take.
// Kept apart from the checked path, so that its loop makes no calls and holds
// the cursor, the state and the slots in registers: nearly every event of a
// real file is decoded here. The events are taken in batches that the bytes
// left are sure to hold, each event taking at most kFastBytes, so that within
// a batch only the count is checked.
[[gnu::noinline]] FastRun readFastEvents(const std::uint8_t* p, const std::uint8_t* end,
                                         MidiEvent* slots, std::size_t count, std::size_t room,
                                         const StatusRules& rules, TrackState& state) {
    TrackState local = state;
    for (std::size_t left; (left = static_cast<std::size_t>(end - p)) >= kFastBytes;) {
        const std::size_t stop = std::min(room, count + (left - kFastBytes) / kFastBytes + 1);
        for (; count < stop; ++count) {
            const std::uint8_t* next = readFastEvent(p, rules, local, slots[count]);
            if (next == nullptr) {
                state = local;
                return {p, count};
            }
            p = next;
        }
        if (count == room) break;
    }
    state = local;
    return {p, count};
}

// Reads events from `in` into the track until its end-of-track event; the
// track's bytes are expected to take `trackBytes`. Returns the number of
// events, or 0 with the track's outcome set when it cannot be read; `wrapped`
// tells whether the event times wrapped past 32 bits.
std::size_t readEvents(const StatusRules& rules, Cursor in, std::size_t trackBytes,
                       TrackRead& track, bool& wrapped) {
    TrackState state;
    const std::uint8_t* const start = in.p;
    std::size_t count = 0;
    for (;;) {
        if (count == track.events.size()) {
            const auto bytesRead = static_cast<std::size_t>(in.p - start);
            if (!addEventSlots(track, bytesRead, trackBytes)) return 0;
        }
        const FastRun run = readFastEvents(in.p, in.end, track.events.data(), count,
                                           track.events.size(), rules, state);
        in.p = run.p;
        count = run.count;
        if (count == track.events.size()) continue;  // the slots ran out: more first
        const EventResult result = readCheckedEvent(in, rules, state, track.events[count]);
        if (result != EventResult::Ok) {
            track.outcome = result == EventResult::PacketSysex ? TrackOutcome::PacketSysex
                                                               : TrackOutcome::Truncated;
            return 0;
        }
        ++count;
        if (state.ended) {
            wrapped = state.time > UINT32_MAX;
            return count;
        }
    }
}

// What every reader thread works with: the input, how to read its tracks
// and what to show them to.
struct TrackReading {
    StatusRules rules;
    std::span<const std::uint8_t> input;  // the whole file
    std::uint32_t percussionChannel = 0;
    TrackVisitorMaker makeVisitor = nullptr;
};

// The bytes of a track's chunk that the input really holds: the declared
// length is not trusted beyond them.
std::size_t chunkBytes(const TrackRead& track, std::span<const std::uint8_t> input) {
    return std::min<std::size_t>(track.chunkLength, input.size() - track.start);
}

// Reads one track's events from the input. Events may run on past the chunk's
// declared end, up to the end of the input. The track is then shown to the
// visitor, if any, while its events are still in the cache.
void readTrack(const TrackReading& reading, TrackVisitor* visitor, TrackRead& track) {
    const std::span<const std::uint8_t> rest = reading.input.subspan(track.start);
    // Every event takes at least two bytes; the declared length is not trusted
    // beyond the bytes that are really there. The bound is only reserved:
    // typical events take three or four bytes, and the room they leave unused
    // is never touched, so it costs no memory.
    const std::size_t trackBytes = chunkBytes(track, reading.input);
    const std::size_t expected = trackBytes / 2 + 1;
    if (!tryReserve(track.events, expected)) {
        track.outOfMemory("malloc", expected * sizeof(MidiEvent));
        return;
    }
    bool wrapped = false;
    const std::size_t count = readEvents(
        reading.rules, Cursor{rest.data(), rest.data() + rest.size()}, trackBytes, track, wrapped);
    if (count == 0) return;
    if (!tryRealloc(track.events, count)) {
        track.outOfMemory("realloc", count * sizeof(MidiEvent));
        return;
    }
    const std::span<const MidiEvent> music(track.events.data(), count - 1);
    track.times = wrapped ? largestTimes(music) : lastTimes(music);
    // Stored times go back only where their sum wrapped past 32 bits; such a
    // track is left without a summary, for the scan to walk itself.
    if (track.summary != nullptr && visitor != nullptr && !wrapped)
        visitor->visit(track.events, *track.summary);
}

// The bytes of the tracks' chunks that the input really holds.
std::size_t trackBytes(std::span<const std::uint8_t> input, std::span<const TrackRead> tracks) {
    std::size_t total = 0;
    for (const TrackRead& t : tracks) total += chunkBytes(t, input);
    return total;
}

// Below this many bytes of tracks a second thread costs more than it saves.
constexpr std::size_t kTwoThreadBytes = 64 * 1024;

// Reads every track. A large file's tracks are shared with a second thread:
// each thread takes the next track not yet taken until none is left, so a
// thread that starts late or is held up by the system takes fewer. Tracks are
// independent: each record and the summary it points to are written only by
// the thread that took it, and both threads only read the input and the rules.
void readAllTracks(const TrackReading& reading, std::span<TrackRead> tracks) {
    std::atomic<std::size_t> next{0};
    const auto readUntaken = [&] {
        // Without a visitor (none asked for, or no memory for one) the tracks
        // are only read.
        const std::unique_ptr<TrackVisitor> visitor =
            reading.makeVisitor ? reading.makeVisitor(reading.percussionChannel) : nullptr;
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < tracks.size();)
            readTrack(reading, visitor.get(), tracks[i]);
    };
    std::thread helper;
    if (trackBytes(reading.input, tracks) >= kTwoThreadBytes && tracks.size() > 1) {
        try {
            helper = std::thread(readUntaken);
        } catch (const std::system_error&) {
            // No thread to be had: this thread reads them all.
        }
    }
    readUntaken();
    if (helper.joinable()) helper.join();
}

// Finds up to `count` track chunks, passing over unknown chunks, which do not
// count as tracks. Returns false when the input ends before the next one.
bool findTracks(ByteReader& in, std::size_t count, std::vector<TrackRead>& tracks) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t chunkId = 0;
        std::uint32_t chunkLength = 0;
        for (;;) {
            chunkId = in.readU32BE();
            chunkLength = in.readU32BE();
            if (!in.ok()) return false;
            if (chunkId == kMidiTrackId) break;
            in.skip(chunkLength);
        }
        TrackRead& track = tracks.emplace_back();
        track.chunkId = chunkId;
        track.chunkLength = chunkLength;
        track.start = in.position();
        // Bytes after the end-of-track event inside the chunk are skipped. A
        // chunk declared longer than the file leaves the input at its end; that
        // matters only if another chunk is expected.
        in.seek(track.start + chunkLength);
    }
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
            event.data1 = 0;
            event.data2 = 0;
            event.time = i > 0 ? events[i - 1].time : 0;
            reallocOrAbort(events, i + 1, out);
            break;
        }
    }
}

// Moves the tracks read into the table and prints their outcomes in track
// order, just as reading one track after the other would: a dot for each
// track read, or why reading stopped (where a missing track was found).
bool storeTracks(std::vector<TrackRead>& reads, MidiFileHeader& header, NoteTimes& times,
                 Console& out) {
    for (std::size_t i = 0; i < header.trackCount; ++i) {
        // The table grows as tracks are read: a short file that announces many
        // tracks gets no more records than its bytes could hold.
        if (i == header.tracks.size()) reallocOrAbort(header.tracks, i + 1, out);
        times.latest.push_back(0);
        if (i == reads.size()) {
            out.printError("ERROR: Unexpected end of MIDI file before track %lu of %lu\n",
                           static_cast<unsigned long>(i + 1),
                           static_cast<unsigned long>(header.trackCount));
            return false;
        }
        TrackRead& read = reads[i];
        MidiTrack& track = header.tracks[i];
        track.chunkId = read.chunkId;
        track.chunkLength = read.chunkLength;
        track.ended = false;
        switch (read.outcome) {
            case TrackOutcome::OutOfMemory:
                allocationFailed(out, read.failedCall, read.failedBytes);
            case TrackOutcome::PacketSysex:
                out.print("ERROR: Packet SYSEX events not supported\n");
                return false;
            case TrackOutcome::Truncated:
                out.print("ERROR: Unexpected end of MIDI file in track %lu\n",
                          static_cast<unsigned long>(i + 1));
                return false;
            case TrackOutcome::Ok:
                break;
        }
        track.events.swap(read.events);
        times.lastOff = std::max(times.lastOff, read.times.lastOff);
        times.lastOn = std::max(times.lastOn, read.times.lastOn);
        times.latest[i] = read.times.latest;
        out.print(".");
    }
    return true;
}

// A track chunk of at least this many bytes gets room for its summary's list
// of sounds before the tracks are read.
constexpr std::size_t kSoundRoomBytes = 4096;
// A note-on takes at least three bytes: a delta time and two data bytes.
constexpr std::size_t kMinNoteOnBytes = 3;

// Tracks must average at least this many bytes to be summarized: a summary
// record then takes at most about a quarter of what its track took in the
// file, where a file of thousands of tiny tracks would otherwise hold far
// more in summaries than in events. The scan walks unsummarized tracks itself.
constexpr std::size_t kSummaryTrackBytes = 256;
static_assert(sizeof(TrackSummary) * 4 <= kSummaryTrackBytes);

// Makes a summary for each track, for the scan (which makes any missing when
// there is no room for them), unless the tracks are too small to pay for it.
// The lists of sounds of large tracks get their room here, on this thread,
// before any events: blocks that live as long as the summaries, made between
// the large event blocks on the reading threads, would keep the memory of
// those blocks from being reused after they are freed.
void prepareSummaries(std::span<const std::uint8_t> input, std::span<TrackRead> reads,
                      std::vector<TrackSummary>& summaries) {
    if (trackBytes(input, reads) / kSummaryTrackBytes < reads.size()) return;
    if (!tryRealloc(summaries, reads.size())) return;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        TrackRead& read = reads[i];
        read.summary = &summaries[i];
        const std::size_t bytes = chunkBytes(read, input);
        if (bytes < kSoundRoomBytes) continue;
        // Failing here only leaves the room to be made later.
        static_cast<void>(
            tryReserve(read.summary->sounds, std::min(kPatchMapSize, bytes / kMinNoteOnBytes + 1)));
    }
}

bool readMidiTracks(const RunState& run, ByteReader& in, MidiFileHeader& header, Console& out,
                    TrackVisitorMaker makeVisitor) {
    allocOrAbort(header.tracks,
                 std::min<std::size_t>(header.trackCount, in.remaining() / kMinTrackBytes), out);
    out.print("Reading MIDI tracks");
    // Every track chunk takes at least its eight header bytes.
    std::vector<TrackRead> reads;
    reserveOrAbort(reads, std::min<std::size_t>(header.trackCount, in.remaining() / 8), out);
    const std::span<const std::uint8_t> input = in.peek(in.remaining());
    const std::size_t inputStart = in.position();
    findTracks(in, header.trackCount, reads);
    for (TrackRead& read : reads) read.start -= inputStart;
    std::vector<TrackSummary> summaries;
    if (makeVisitor) prepareSummaries(input, reads, summaries);
    const TrackReading reading{makeStatusRules(run), input, run.settings.percussionChannel,
                               summaries.empty() ? nullptr : makeVisitor};
    readAllTracks(reading, reads);

    NoteTimes times;
    if (!storeTracks(reads, header, times, out)) return false;
    header.trackSummaries.swap(summaries);
    out.print("\n");
    trimTrackEnds(header, times, out);
    return true;
}

}  // namespace

Status readMidiFile(const RunState& run, ByteReader& in, FileState& file, Console& out,
                    TrackVisitorMaker makeVisitor) {
    MidiFileHeader& header = file.midi;
    if (!readMidiHeader(in, header, out)) return Status::Failed;
    if (!readMidiTracks(run, in, header, out, makeVisitor)) return Status::Failed;
    return Status::Ok;
}

}  // namespace korvalin
