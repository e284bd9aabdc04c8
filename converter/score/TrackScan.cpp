// Track scan: walks all tracks together in time order once, pairs notes,
// numbers the programs and percussion keys that sound, finds the fastest tempo
// and seeds the row grid.
//
// The walk order, by (time, track index, stored order), decides which note-on
// a note-off ends, which program a note sounds with and the order in which map
// entries get their instrument numbers. Tracks only meet through the MIDI
// channels their notes and program changes act on, and through that order of
// first sounds. So when no two tracks act on the same channel and no track's
// times go back, each track is walked alone, in one tight loop, and the
// numbering is replayed afterwards from where each map entry first sounds.
// Those walks (summaries) are made by the MIDI reader on its threads as it
// reads each track; the scan makes only the missing ones, such as those of
// tracks cut at the end of the music after reading, and combines them.
// Otherwise the tracks that share channels are merged through a heap, group
// by group; a file whose times go back has all its tracks merged at once.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "score/NoteData.h"
#include "score/Score.h"

namespace korvalin {
namespace {

// One slot for every possible data byte: melodic notes are stored plus one
// (1..128), and a malformed file may carry any byte value as a key.
constexpr std::size_t kNoteSlots = 256;
constexpr std::size_t kPrograms = 128;
constexpr std::uint32_t kDefaultTempo = 500000;  // 120 beats per minute
constexpr std::int16_t kNoNote = std::numeric_limits<std::int16_t>::min();

// Where in the walk a map entry first sounds.
struct FirstSound {
    std::uint32_t time = kNone32;
    std::uint32_t track = kNone32;
    std::size_t index = 0;

    bool operator<(const FirstSound& other) const {
        return std::tie(time, track, index) < std::tie(other.time, other.track, other.index);
    }
};

// What a walk adds up from event to event. Kept apart from its tables, so
// that a walk over one track holds it in registers: the walk stores into the
// events, and such byte stores may alias anything in memory.
struct WalkTotals {
    // Bit n: a note or program change acted on channel n.
    std::uint32_t channelsUsed = 0;
    std::uint32_t shortestNote = kNone32;  // melodic notes
    std::uint32_t shortestDrumNote = kNone32;
    std::uint32_t fastestTempo = kNone32;
};

// What one walk carries from event to event: note slots, programs and what
// the notes and tempo changes show.
struct NoteWalk : WalkTotals {
    explicit NoteWalk(std::uint32_t shortest) {
        shortestNote = shortest;
        std::fill(std::begin(highestNote), std::end(highestNote), kNoNote);
    }

    // Note slots, one per channel and data byte: whether the note sounds and
    // since when. A start time is read only while its note sounds, so only the
    // flags need clearing.
    std::array<bool, kMidiChannels * kNoteSlots> noteOn{};
    std::uint32_t noteStart[kMidiChannels * kNoteSlots];
    std::uint8_t program[kMidiChannels] = {};
    std::int16_t highestNote[kPrograms];  // the highest note of each program

    static std::size_t slot(std::uint8_t channel, std::uint8_t note) {
        return channel * kNoteSlots + note;
    }
};

struct ScanState {
    // The shortest melodic note starts from the file's value.
    explicit ScanState(std::uint32_t shortest) : walk(shortest) {}

    NoteWalk walk;
    std::uint32_t notesLeftOn = 0;  // notes still sounding when the walk ends
    // Walks that number afterwards: the earliest first sound of each map
    // entry, and the track (plus one, 0 for none) that last recorded it.
    FirstSound first[kPatchMapSize];
    std::uint32_t seenBy[kPatchMapSize] = {};
    // Map entries that wanted a number after all 128 were given out.
    bool leftOut[kPatchMapSize] = {};
    std::uint32_t leftOutCount = 0;
};

// Gives a map entry the next module instrument number when it first sounds.
// A module holds at most 128 instruments; entries beyond that stay at 0, so
// their notes are left out of the module. Only the first call for an entry
// has an effect.
void numberInstrument(ScanState& scan, FileState& file, RunState& run, std::size_t mapIndex) {
    PatchMapEntry& entry = run.patchMap[mapIndex];
    if (entry.instrument != 0) return;
    if (file.nextInstrument >= 1 && file.nextInstrument <= kMaxInstruments) {
        entry.instrument = static_cast<std::uint8_t>(file.nextInstrument);
        ++file.nextInstrument;
    } else if (!scan.leftOut[mapIndex]) {
        scan.leftOut[mapIndex] = true;
        ++scan.leftOutCount;
    }
}

// Acts on one event, adding up into `totals` (the walk's own or a copy);
// `sounds(mapIndex)` hears of every map entry a note-on sounds. Returns false
// at the end-of-track event, which is not acted on.
template <typename Sounds>
bool handleEvent(NoteWalk& walk, WalkTotals& totals, std::uint32_t percussionChannel,
                 MidiEvent& event, Sounds&& sounds) {
    const std::uint8_t ch = event.channel();
    const bool percussion = ch == percussionChannel;
    switch (event.kind()) {
        case kKindNoteOn:
            totals.channelsUsed |= 1u << ch;
            if (event.data2 != 0) {
                const std::size_t slot = NoteWalk::slot(ch, event.data1);
                walk.noteOn[slot] = true;  // a second note-on restarts the note
                walk.noteStart[slot] = event.time;
                if (percussion) {
                    // Keys above 127 are no MIDI keys and have no map entry.
                    if (event.data1 < 128) sounds(kPercussionBase + event.data1);
                } else {
                    const std::uint8_t p = walk.program[ch];
                    sounds(p);
                    std::int16_t& highest = walk.highestNote[p];
                    if (highest < event.data1) highest = event.data1;
                }
                return true;
            }
            [[fallthrough]];  // a note-on of velocity 0 is a note-off
        case kKindNoteOff: {
            totals.channelsUsed |= 1u << ch;
            const std::size_t slot = NoteWalk::slot(ch, event.data1);
            if (walk.noteOn[slot]) {
                walk.noteOn[slot] = false;
                const std::uint32_t length = event.time - walk.noteStart[slot];
                // Two branches, not a reference to one of the two totals,
                // which would keep both in memory.
                if (length != 0 && percussion)
                    totals.shortestDrumNote = std::min(totals.shortestDrumNote, length);
                else if (length != 0)
                    totals.shortestNote = std::min(totals.shortestNote, length);
            }
            // Later stages see only 0x8n for a note-off. Stored last: a byte
            // store may alias anything, so the compiler reloads what follows it.
            event.status = static_cast<std::uint8_t>(kKindNoteOff | ch);
            return true;
        }
        case kKindProgram:
            // The percussion channel's programs are not used.
            if (!percussion) {
                totals.channelsUsed |= 1u << ch;
                walk.program[ch] = event.data1;
            }
            return true;
        default:
            if (event.isEndOfTrack()) return false;
            if (event.isSetTempo() && event.tempo() < totals.fastestTempo)
                totals.fastestTempo = event.tempo();
            return true;
    }
}

// Notes where a map entry sounds: event `index` of track `track`. Only the
// first sound in each track can be the earliest, as times do not go back.
void recordFirstSound(ScanState& scan, std::size_t mapIndex, std::uint32_t time,
                      std::uint32_t track, std::size_t index) {
    if (scan.seenBy[mapIndex] == track + 1) return;  // this track got there earlier
    scan.seenBy[mapIndex] = track + 1;
    const FirstSound here{time, track, index};
    if (here < scan.first[mapIndex]) scan.first[mapIndex] = here;
}

// Numbers the map entries that sound in the order of their first sounds.
void numberByFirstSounds(ScanState& scan, RunState& run, FileState& file) {
    std::vector<std::size_t> order;
    for (std::size_t e = 0; e < kPatchMapSize; ++e) {
        if (scan.seenBy[e] != 0) order.push_back(e);
    }
    std::sort(order.begin(), order.end(),
              [&scan](std::size_t a, std::size_t b) { return scan.first[a] < scan.first[b]; });
    for (std::size_t e : order) numberInstrument(scan, file, run, e);
}

// Adds a track's summary to the scan, as track `t` of a walk of single tracks.
void addSummary(ScanState& scan, const TrackSummary& summary, std::uint32_t t) {
    NoteWalk& walk = scan.walk;
    walk.shortestNote = std::min(walk.shortestNote, summary.shortestNote);
    walk.shortestDrumNote = std::min(walk.shortestDrumNote, summary.shortestDrumNote);
    walk.fastestTempo = std::min(walk.fastestTempo, summary.fastestTempo);
    scan.notesLeftOn += summary.notesLeftOn;
    for (const TrackSound& sound : summary.sounds) {
        recordFirstSound(scan, sound.mapIndex, sound.time, t, sound.index);
        if (sound.mapIndex < kPrograms) {
            std::int16_t& highest = walk.highestNote[sound.mapIndex];
            highest = std::max(highest, sound.highestNote);
        }
    }
}

// Walks every track alone by combining the tracks' summaries; false (with the
// scan state spoilt) when the tracks turn out to meet: two act on the same
// channel, or a track's times go back. A track whose summary does not cover
// its present events (cut after reading, or built by other means) is
// summarized here.
bool walkTracksApart(ScanState& scan, RunState& run, FileState& file, Console& out) {
    auto& tracks = file.midi.tracks;
    const auto& summaries = file.midi.trackSummaries;
    std::uint32_t claimed = 0;
    TrackSummarizer summarizer(run.settings.percussionChannel);
    TrackSummary own;  // of a track the reader's summary does not cover
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        MidiTrack& track = tracks[t];
        const TrackSummary* summary = t < summaries.size() ? &summaries[t] : nullptr;
        if (!summary || !summary->valid || summary->eventCount != track.events.size() ||
            summary->percussionChannel != run.settings.percussionChannel) {
            summarizer.summarize(track.events, own);
            summary = &own;
        }
        if (!summary->valid || summary->backwards || (summary->channelsUsed & claimed) != 0)
            return false;
        claimed |= summary->channelsUsed;
        addSummary(scan, *summary, static_cast<std::uint32_t>(t));
    }
    numberByFirstSounds(scan, run, file);
    // A track leaves the walk at its end-of-track event, or when its events
    // run out without one; each prints a dot.
    for (std::size_t t = 0; t < tracks.size(); ++t) out.print(".");
    return true;
}

// Walks the tracks `walked` (in increasing order) together through a heap: by
// (time, track index), so events at the same time are taken track by track,
// and within a track in stored order. Prints a dot for each track as it leaves
// the walk. `sounds(mapIndex, time, track, index)` hears of every map entry a
// note-on sounds; `cursor` holds a 0 for each track of the file.
template <typename Sounds>
void walkTracksMerged(ScanState& scan, const RunState& run, FileState& file, Console& out,
                      const std::vector<std::uint32_t>& walked, std::vector<std::size_t>& cursor,
                      Sounds&& sounds) {
    auto& tracks = file.midi.tracks;
    // The heap holds one key per track still taking part, the time in the high
    // half and the track index (below 65536: the header counts tracks in 16
    // bits) in the low half, so that one integer comparison orders two tracks.
    std::vector<std::uint64_t> heap;
    heap.reserve(walked.size());
    auto key = [](std::uint32_t time, std::uint32_t t) {
        return (static_cast<std::uint64_t>(time) << 32) | static_cast<std::uint64_t>(t);
    };
    // Moves heap[0] down to its place.
    auto siftDown = [&heap]() {
        const std::size_t n = heap.size();
        const std::uint64_t moving = heap[0];
        std::size_t i = 0;
        for (;;) {
            std::size_t child = 2 * i + 1;
            if (child >= n) break;
            if (child + 1 < n && heap[child + 1] < heap[child]) ++child;
            if (moving <= heap[child]) break;
            heap[i] = heap[child];
            i = child;
        }
        heap[i] = moving;
    };
    for (std::uint32_t t : walked) {
        if (tracks[t].events.empty()) {
            out.print(".");  // a track without events takes no part
        } else {
            heap.push_back(key(tracks[t].events.front().time, t));
            std::push_heap(heap.begin(), heap.end(), std::greater<>());
        }
    }
    while (!heap.empty()) {
        const auto t = static_cast<std::uint32_t>(heap[0] & 0xFFFFFFFFu);
        std::vector<MidiEvent>& events = tracks[t].events;
        // The top track keeps the walk while its next key stays below the
        // smallest key of the others (one of the top's children): a run of
        // events costs one sift.
        std::uint64_t others = std::numeric_limits<std::uint64_t>::max();
        if (heap.size() > 1) others = heap[1];
        if (heap.size() > 2) others = std::min(others, heap[2]);
        std::size_t& i = cursor[t];
        bool goesOn = true;
        std::uint64_t next = 0;
        do {
            const std::size_t at = i++;
            MidiEvent& event = events[at];
            auto sounded = [&](std::size_t mapIndex) { sounds(mapIndex, event.time, t, at); };
            goesOn =
                handleEvent(scan.walk, scan.walk, run.settings.percussionChannel, event, sounded);
            // A track leaves the walk at its end-of-track event, or when its
            // events run out without one.
            goesOn = goesOn && i < events.size();
            if (goesOn) next = key(events[i].time, t);
        } while (goesOn && next < others);
        if (goesOn) {
            heap[0] = next;
        } else {
            heap[0] = heap.back();
            heap.pop_back();
            out.print(".");
        }
        if (!heap.empty()) siftDown();
    }
}

// Puts tracks that act on a common MIDI channel, directly or through other
// tracks, into one group, in increasing track order; a track that acts on no
// channel is a group of its own. False when some track's times go back.
bool groupTracks(const FileState& file, std::uint32_t percussionChannel,
                 std::vector<std::vector<std::uint32_t>>& groups) {
    const auto& tracks = file.midi.tracks;
    std::vector<std::uint32_t> parent(tracks.size());
    std::iota(parent.begin(), parent.end(), 0u);
    auto root = [&parent](std::uint32_t t) {
        while (parent[t] != t) t = parent[t] = parent[parent[t]];
        return t;
    };
    std::uint32_t owner[kMidiChannels];
    std::fill(std::begin(owner), std::end(owner), kNone32);
    for (std::uint32_t t = 0; t < tracks.size(); ++t) {
        std::uint32_t last = 0;
        for (const MidiEvent& event : tracks[t].events) {
            if (event.isEndOfTrack()) break;
            if (event.time < last) return false;
            last = event.time;
            // The events that act on a channel's note slots or program.
            const std::uint8_t kind = event.kind(), ch = event.channel();
            const bool acts = kind == kKindNoteOn || kind == kKindNoteOff ||
                              (kind == kKindProgram && ch != percussionChannel);
            if (!acts) continue;
            if (owner[ch] == kNone32) owner[ch] = t;
            parent[root(t)] = root(owner[ch]);
        }
    }
    std::vector<std::uint32_t> groupOf(tracks.size(), kNone32);
    for (std::uint32_t t = 0; t < tracks.size(); ++t) {
        std::uint32_t& g = groupOf[root(t)];
        if (g == kNone32) {
            g = static_cast<std::uint32_t>(groups.size());
            groups.emplace_back();
        }
        groups[g].push_back(t);
    }
    return true;
}

// Walks tracks that meet. Groups of tracks that share no channel with one
// another cannot affect one another except through the numbering order, so
// each group is merged on its own and the numbers follow the first sounds.
// When some track's times go back, all tracks are merged and numbered as the
// walk goes.
void walkTracksTogether(ScanState& scan, RunState& run, FileState& file, Console& out) {
    const auto trackCount = static_cast<std::uint32_t>(file.midi.tracks.size());
    std::vector<std::size_t> cursor(trackCount, 0);
    std::vector<std::vector<std::uint32_t>> groups;
    if (groupTracks(file, run.settings.percussionChannel, groups)) {
        auto record = [&scan](std::size_t mapIndex, std::uint32_t time, std::uint32_t t,
                              std::size_t index) {
            recordFirstSound(scan, mapIndex, time, t, index);
        };
        for (const auto& group : groups)
            walkTracksMerged(scan, run, file, out, group, cursor, record);
        numberByFirstSounds(scan, run, file);
        return;
    }
    std::vector<std::uint32_t> all(trackCount);
    std::iota(all.begin(), all.end(), 0u);
    auto number = [&](std::size_t mapIndex, std::uint32_t, std::uint32_t, std::size_t) {
        numberInstrument(scan, file, run, mapIndex);
    };
    walkTracksMerged(scan, run, file, out, all, cursor, number);
}

// Seed of the row grid. The small method starts from the average of the
// shortest melodic and percussion notes (a missing one counts as all bits set,
// and the sum wraps), moved up to the next multiple of division / quantize
// ticks; the default starts from one tick.
Status seedRowGrid(const NoteWalk& walk, const RunState& run, FileState& file, Console& out) {
    std::uint32_t seed = 1;
    if (run.settings.has(kSmall)) {
        const std::uint32_t quantize = run.settings.quantize;
        const std::uint32_t division = file.midi.division;
        if (quantize == 0) {
            out.print("ERROR: A quantize value of 0 cannot be used with -small\n");
            return Status::Failed;
        }
        if (division == 0) {
            out.print("ERROR: MIDI division of 0 ticks per quarter note is not supported\n");
            return Status::Failed;
        }
        const std::uint32_t s = (walk.shortestNote + walk.shortestDrumNote) >> 1;
        seed = ((s * quantize) / division + 1) * division / quantize;
    }
    file.shortestNote = seed;
    file.timing.ticksPerRow = seed;
    return Status::Ok;
}

// Hands the scan's findings to the file and the patch map, warns of notes
// left on and instruments left out, and seeds the row grid.
Status finishScan(const ScanState& scan, RunState& run, FileState& file, Console& out) {
    out.print("\n");
    const NoteWalk& walk = scan.walk;
    file.shortestNote = walk.shortestNote;
    for (std::size_t p = 0; p < kPrograms; ++p) {
        std::int16_t& highest = run.patchMap[p].highestNote;
        if (highest < walk.highestNote[p]) highest = walk.highestNote[p];
    }

    const auto stillOn = static_cast<unsigned long>(scan.notesLeftOn);
    if (stillOn != 0) out.print("    WARNING: %lu notes are left on\n", stillOn);
    if (scan.leftOutCount != 0) {
        out.print("    WARNING: %lu instruments are left out (a module holds at most %lu)\n",
                  static_cast<unsigned long>(scan.leftOutCount),
                  static_cast<unsigned long>(kMaxInstruments));
    }

    for (MidiTrack& track : file.midi.tracks) track.ended = false;
    file.timing.fastestTempo = std::min(file.timing.fastestTempo, walk.fastestTempo);
    if (file.timing.fastestTempo == kNone32) file.timing.fastestTempo = kDefaultTempo;
    return seedRowGrid(walk, run, file, out);
}

}  // namespace

Status scanTracks(RunState& run, FileState& file, Console& out) {
    out.print("Scanning tracks");
    ScanState apart(file.shortestNote);
    if (walkTracksApart(apart, run, file, out)) return finishScan(apart, run, file, out);
    // The tracks meet: the state of the given-up walk is dropped.
    ScanState together(file.shortestNote);
    walkTracksTogether(together, run, file, out);
    const auto& noteOn = together.walk.noteOn;
    together.notesLeftOn =
        static_cast<std::uint32_t>(std::count(noteOn.begin(), noteOn.end(), true));
    return finishScan(together, run, file, out);
}

// The working memory of a summarizer: a walk and, per map entry, whether the
// track sounds it. Between tracks it is left as a fresh one; only what a
// track touched is reset, so that files of many short tracks stay cheap.
struct TrackSummarizer::Walk {
    NoteWalk notes{kNone32};
    bool seen[kPatchMapSize] = {};
};

TrackSummarizer::TrackSummarizer(std::uint32_t percussionChannel)
    : percussionChannel_(percussionChannel) {}

TrackSummarizer::~TrackSummarizer() = default;

std::unique_ptr<TrackVisitor> makeTrackSummarizer(std::uint32_t percussionChannel) {
    return std::unique_ptr<TrackVisitor>(new (std::nothrow) TrackSummarizer(percussionChannel));
}

namespace {

// Notes the first sound of a map entry in a track: rare, kept out of the walk.
[[gnu::noinline]] void addSound(std::vector<TrackSound>& sounds, bool* seen, std::size_t index,
                                std::uint32_t time, std::size_t mapIndex) {
    sounds.push_back(
        TrackSound{.index = index, .time = time, .mapIndex = static_cast<std::uint16_t>(mapIndex)});
    seen[mapIndex] = true;  // only once it is in the list, which the reset goes by
}

// The notes on among one channel's note slots. Each slot is a byte holding 0
// or 1, so adding the slots eight at a time as 64-bit words counts them in
// each byte lane (at most 32 per lane, no carry between lanes).
std::uint32_t countNotesOn(const bool* slots) {
    static_assert(sizeof(bool) == 1 && kNoteSlots / sizeof(std::uint64_t) < 256);
    std::uint64_t lanes = 0;
    for (std::size_t i = 0; i < kNoteSlots; i += sizeof(std::uint64_t)) {
        std::uint64_t eight = 0;
        std::memcpy(&eight, slots + i, sizeof eight);
        lanes += eight;
    }
    std::uint32_t count = 0;
    for (std::size_t lane = 0; lane < sizeof lanes; ++lane)
        count += static_cast<std::uint32_t>((lanes >> (8 * lane)) & 0xFFu);
    return count;
}

// Walks the events into the summary's fields; returns false when memory runs
// out. Walked by pointer: the stores into events would otherwise make the
// compiler reload the span's bounds for every event.
bool walkTrack(NoteWalk& walk, bool* seen, std::uint32_t percussionChannel,
               std::span<MidiEvent> events, TrackSummary& summary) {
    MidiEvent* const first = events.data();
    MidiEvent* const stop = first + events.size();
    std::vector<TrackSound>* const sounds = &summary.sounds;
    WalkTotals totals = walk;
    try {
        for (MidiEvent* event = first; event != stop; ++event) {
            // Captures by value and an out-of-line append keep the loop's
            // pointers and the walk's fields in registers.
            auto sounded = [seen, sounds, event, first](std::size_t mapIndex) {
                if (seen[mapIndex]) return;
                addSound(*sounds, seen, static_cast<std::size_t>(event - first), event->time,
                         mapIndex);
            };
            if (!handleEvent(walk, totals, percussionChannel, *event, sounded)) break;
        }
    } catch (const std::bad_alloc&) {
        // The totals go back in any case: the channels used so far tell the
        // reset after the walk which note slots to clear.
        static_cast<WalkTotals&>(walk) = totals;
        return false;
    }
    static_cast<WalkTotals&>(walk) = totals;
    return true;
}

// Whether some event's time, up to the end-of-track event, is below the one
// before it.
bool timesGoBack(std::span<const MidiEvent> events) {
    std::uint32_t last = 0;
    for (const MidiEvent& event : events) {
        if (event.time < last) return true;
        if (event.isEndOfTrack()) break;
        last = event.time;
    }
    return false;
}

}  // namespace

void TrackSummarizer::summarize(std::span<MidiEvent> events, TrackSummary& summary) {
    summarizeInOrder(events, summary);
    summary.backwards = timesGoBack(events);
}

void TrackSummarizer::summarizeInOrder(std::span<MidiEvent> events, TrackSummary& summary) {
    // A fresh summary, keeping any room already made for the list of sounds.
    std::vector<TrackSound> sounds = std::move(summary.sounds);
    sounds.clear();
    summary = TrackSummary{};
    summary.sounds = std::move(sounds);
    if (!walk_) walk_.reset(new (std::nothrow) Walk);
    if (!walk_) return;  // left invalid: the scan walks the track itself
    NoteWalk& walk = walk_->notes;
    const bool walked = walkTrack(walk, walk_->seen, percussionChannel_, events, summary);

    // Hands over what the walk found and resets what it touched: the map
    // entries it sounded and the note slots of the channels it acted on.
    for (TrackSound& sound : summary.sounds) {
        walk_->seen[sound.mapIndex] = false;
        if (sound.mapIndex < kPrograms) {
            sound.highestNote = walk.highestNote[sound.mapIndex];
            walk.highestNote[sound.mapIndex] = kNoNote;
        }
    }
    std::uint32_t notesLeftOn = 0;
    for (std::uint32_t used = walk.channelsUsed; used != 0; used &= used - 1) {
        const auto channel = static_cast<std::size_t>(std::countr_zero(used));
        bool* const slots = walk.noteOn.data() + channel * kNoteSlots;
        notesLeftOn += countNotesOn(slots);
        std::memset(slots, 0, kNoteSlots);
    }
    summary.eventCount = events.size();
    summary.percussionChannel = percussionChannel_;
    summary.channelsUsed = static_cast<std::uint16_t>(walk.channelsUsed);
    summary.shortestNote = walk.shortestNote;
    summary.shortestDrumNote = walk.shortestDrumNote;
    summary.fastestTempo = walk.fastestTempo;
    summary.notesLeftOn = notesLeftOn;
    summary.valid = walked;
    if (!walked) summary.sounds.clear();
    std::fill(std::begin(walk.program), std::end(walk.program), std::uint8_t{0});
    walk.channelsUsed = 0;
    walk.shortestNote = walk.shortestDrumNote = walk.fastestTempo = kNone32;
}

}  // namespace korvalin
