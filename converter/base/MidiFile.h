// The in-memory event store of one Standard MIDI File.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace korvalin {

inline constexpr std::uint32_t kMidiHeaderId = 0x4D546864;  // "MThd"
inline constexpr std::uint32_t kMidiTrackId = 0x4D54726B;   // "MTrk"
// Kinds of channel message: the high half of the status byte.
enum MidiKind : std::uint8_t {
    kKindNoteOff = 0x80,
    kKindNoteOn = 0x90,
    kKindKeyPressure = 0xA0,
    kKindController = 0xB0,
    kKindProgram = 0xC0,
    kKindChannelPressure = 0xD0,
    kKindPitchBend = 0xE0,
};

// Controller numbers the converter acts on.
enum MidiController : std::uint8_t {
    kControlModulation = 1,
    kControlDataEntry = 6,
    kControlVolume = 7,
    kControlPan = 10,
    kControlSustain = 64,
    kControlRpnLow = 100,
    kControlRpnHigh = 101,
};

inline constexpr std::uint8_t kStatusSysex = 0xF0;
inline constexpr std::uint8_t kStatusMeta = 0xFF;
inline constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
inline constexpr std::uint8_t kMetaSetTempo = 0x51;

// A set-tempo event is stored under a status of its own, its meta type, which
// no event read from a file takes (resolved statuses are 0 or have the top bit
// set), so that its 24-bit tempo fits in the event's three data bytes.
inline constexpr std::uint8_t kStatusSetTempo = kMetaSetTempo;

// 8 bytes: a piece holds hundreds of thousands of events, and the note-data
// builder walks them all. Payloads are not kept: the only payload a later
// stage reads is a set-tempo value. The row an event falls in is
// time / ticks per row, worked out where it is needed.
struct MidiEvent {
    std::uint32_t time = 0;  // absolute MIDI ticks from the start of the track
    std::uint8_t status = 0;
    // Channel messages: data1 (melodic note numbers stored plus one) and data2.
    // Set-tempo events: the tempo's high and middle bytes.
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    // Meta events: the type. Set-tempo events: the tempo's low byte.
    std::uint8_t metaType = 0;

    // A set-tempo event of `tempo` microseconds per quarter note (24 bits).
    static MidiEvent setTempo(std::uint32_t time, std::uint32_t tempo) {
        return MidiEvent{.time = time,
                         .status = kStatusSetTempo,
                         .data1 = static_cast<std::uint8_t>(tempo >> 16),
                         .data2 = static_cast<std::uint8_t>(tempo >> 8),
                         .metaType = static_cast<std::uint8_t>(tempo)};
    }

    std::uint8_t channel() const { return status & 0x0F; }
    std::uint8_t kind() const { return status & 0xF0; }
    bool isEndOfTrack() const { return status == kStatusMeta && metaType == kMetaEndOfTrack; }
    bool isSetTempo() const { return status == kStatusSetTempo; }
    // Note-on with a velocity above 0.
    bool isNoteOn() const { return kind() == kKindNoteOn && data2 != 0; }
    // Note-off, or note-on with velocity 0.
    bool isNoteOff() const {
        return kind() == kKindNoteOff || (kind() == kKindNoteOn && data2 == 0);
    }
    // Microseconds per quarter note of a set-tempo event.
    std::uint32_t tempo() const {
        return static_cast<std::uint32_t>(data1) << 16 | static_cast<std::uint32_t>(data2) << 8 |
               metaType;
    }
};
static_assert(sizeof(MidiEvent) == 8);

// A map entry (a program, or 128 + a percussion key) that a track sounds.
struct TrackSound {
    std::size_t index = 0;   // the event that first sounds it
    std::uint32_t time = 0;  // that event's time
    std::uint16_t mapIndex = 0;
    std::int16_t highestNote = 0;  // programs: the highest note played
};

// What the track scan needs of one track walked alone, from the start of the
// track with every channel's program at 0. The reader works it out while the
// track's events are still in the cache; the scan combines the summaries when
// no two tracks act on the same channel.
struct TrackSummary {
    std::size_t eventCount = 0;      // the events walked; a track cut later is walked again
    std::vector<TrackSound> sounds;  // in order of first sound
    std::uint32_t shortestNote = UINT32_MAX;  // shortest melodic note above 0 ticks
    std::uint32_t shortestDrumNote = UINT32_MAX;
    std::uint32_t fastestTempo = UINT32_MAX;  // smallest set-tempo value
    std::uint32_t notesLeftOn = 0;
    std::uint32_t percussionChannel = 0;  // the channel walked as percussion
    std::uint16_t channelsUsed = 0;       // bit n: a note or program change acted on channel n
    bool backwards = false;               // some event's time is below the one before it
    bool valid = false;
};

// Looks at each track on the thread that read it, right after its events are
// decoded and while they are still in the cache: the track scan summarizes
// them so. A reader makes one for each thread that reads tracks, and shows it
// only tracks whose event times never go back (none wrapped past 32 bits).
class TrackVisitor {
  public:
    virtual ~TrackVisitor() = default;
    virtual void visit(std::span<MidiEvent> events, TrackSummary& summary) = 0;
};
// Makes a visitor for tracks read with this percussion channel; nullptr when
// memory runs out.
using TrackVisitorMaker = std::unique_ptr<TrackVisitor> (*)(std::uint32_t percussionChannel);

struct MidiTrack {
    std::uint32_t chunkId = 0;
    std::uint32_t chunkLength = 0;
    std::vector<MidiEvent> events;  // eventCount = events.size()
    bool ended = false;
};

struct MidiFileHeader {
    std::uint32_t chunkId = 0;
    std::uint32_t chunkLength = 0;
    std::uint16_t format = 0;
    std::uint16_t trackCount = 0;
    std::uint16_t division = 0;
    std::vector<MidiTrack> tracks;
    // One per track when the reader made them (empty otherwise).
    std::vector<TrackSummary> trackSummaries;
};

}  // namespace korvalin
