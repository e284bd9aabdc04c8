// Track scan: walks all tracks together in time order once, pairs notes,
// numbers the programs and percussion keys that sound, finds the fastest tempo
// and seeds the row grid.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "score/NoteData.h"
#include "score/Score.h"

namespace korvalin {
namespace {

// One slot for every possible data byte: melodic notes are stored plus one
// (1..128), and a malformed file may carry any byte value as a key.
constexpr std::size_t kNoteSlots = 256;
constexpr std::uint32_t kDefaultTempo = 500000;  // 120 beats per minute

struct NoteSlot {
    bool on = false;
    std::uint32_t start = 0;
};

struct ScanState {
    std::vector<NoteSlot> notes = std::vector<NoteSlot>(kMidiChannels * kNoteSlots);
    std::uint8_t program[kMidiChannels] = {};
    std::uint32_t shortestDrumNote = kNone32;
    // Map entries that wanted a number after all 128 were given out.
    bool leftOut[kPatchMapSize] = {};
    std::uint32_t leftOutCount = 0;

    NoteSlot& slot(std::uint8_t channel, std::uint8_t note) {
        return notes[channel * kNoteSlots + note];
    }
};

// Gives a map entry the next module instrument number when it first sounds.
// A module holds at most 128 instruments; entries beyond that stay at 0, so
// their notes are left out of the module.
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

void handleEvent(ScanState& scan, RunState& run, FileState& file, MidiEvent& event) {
    const std::uint8_t ch = event.channel();
    const bool percussion = ch == run.settings.percussionChannel;
    if (event.isNoteOn()) {
        NoteSlot& slot = scan.slot(ch, event.data1);
        slot.on = true;  // a second note-on restarts the note
        slot.start = event.time;
        if (percussion) {
            // Keys above 127 are no MIDI keys and have no map entry.
            if (event.data1 < 128) numberInstrument(scan, file, run, kPercussionBase + event.data1);
        } else {
            const std::uint8_t p = scan.program[ch];
            numberInstrument(scan, file, run, p);
            PatchMapEntry& entry = run.patchMap[p];
            if (entry.highestNote < event.data1) entry.highestNote = event.data1;
        }
    } else if (event.isNoteOff()) {
        event.status = static_cast<std::uint8_t>(kKindNoteOff | ch);  // later stages see only 0x8n
        NoteSlot& slot = scan.slot(ch, event.data1);
        if (!slot.on) return;
        slot.on = false;
        const std::uint32_t length = event.time - slot.start;
        if (length == 0) return;
        std::uint32_t& shortest = percussion ? scan.shortestDrumNote : file.shortestNote;
        if (length < shortest) shortest = length;
    } else if (event.isSetTempo()) {
        const std::uint32_t tempo = event.tempo();
        if (tempo < file.timing.fastestTempo) file.timing.fastestTempo = tempo;
    } else if (event.kind() == kKindProgram && !percussion) {
        scan.program[ch] = event.data1;
    }
}

// Walks all tracks together: by (time, track index), so events at the same
// time are taken track by track, and within a track in stored order. Prints a
// dot for each track as it leaves the walk.
void walkTracks(ScanState& scan, RunState& run, FileState& file, Console& out) {
    auto& tracks = file.midi.tracks;
    // The heap holds one key per track still taking part, the time in the high
    // half and the track index (below 65536: the header counts tracks in 16
    // bits) in the low half, so that one integer comparison orders two tracks.
    std::vector<std::uint64_t> heap;
    heap.reserve(tracks.size());
    auto key = [](std::uint32_t time, std::size_t t) {
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
    std::vector<std::size_t> cursor(tracks.size(), 0);
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        tracks[t].ended = false;
        if (tracks[t].events.empty()) {
            out.print(".");  // a track without events takes no part
        } else {
            heap.push_back(key(tracks[t].events.front().time, t));
            std::push_heap(heap.begin(), heap.end(), std::greater<>());
        }
    }
    while (!heap.empty()) {
        const auto t = static_cast<std::size_t>(heap[0] & 0xFFFFFFFFu);
        MidiTrack& track = tracks[t];
        MidiEvent& event = track.events[cursor[t]++];
        if (event.isEndOfTrack()) {
            track.ended = true;
        } else {
            handleEvent(scan, run, file, event);
        }
        // A track leaves the scan at its end-of-track event, or when its
        // events run out without one.
        if (!track.ended && cursor[t] < track.events.size()) {
            heap[0] = key(track.events[cursor[t]].time, t);
        } else {
            heap[0] = heap.back();
            heap.pop_back();
            out.print(".");
        }
        if (!heap.empty()) siftDown();
    }
}

// Seed of the row grid. The small method starts from the average of the
// shortest melodic and percussion notes (a missing one counts as all bits set,
// and the sum wraps), moved up to the next multiple of division / quantize
// ticks; the default starts from one tick.
Status seedRowGrid(const ScanState& scan, const RunState& run, FileState& file, Console& out) {
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
        const std::uint32_t s = (file.shortestNote + scan.shortestDrumNote) >> 1;
        seed = ((s * quantize) / division + 1) * division / quantize;
    }
    file.shortestNote = seed;
    file.timing.ticksPerRow = seed;
    return Status::Ok;
}

}  // namespace

Status scanTracks(RunState& run, FileState& file, Console& out) {
    out.print("Scanning tracks");
    ScanState scan;
    walkTracks(scan, run, file, out);
    out.print("\n");

    unsigned long stillOn = 0;
    for (const NoteSlot& slot : scan.notes) stillOn += slot.on ? 1 : 0;
    if (stillOn != 0) out.print("    WARNING: %lu notes are left on\n", stillOn);
    if (scan.leftOutCount != 0) {
        out.print("    WARNING: %lu instruments are left out (a module holds at most %lu)\n",
                  static_cast<unsigned long>(scan.leftOutCount),
                  static_cast<unsigned long>(kMaxInstruments));
    }

    for (MidiTrack& track : file.midi.tracks) track.ended = false;
    if (file.timing.fastestTempo == kNone32) file.timing.fastestTempo = kDefaultTempo;
    return seedRowGrid(scan, run, file, out);
}

}  // namespace korvalin
