// The note-data builder: walks the rows of every pattern, lets each module
// channel age by a row, translates the MIDI events of the row into cells and
// packs them. A closing pattern lets the notes still sounding at the end
// release and stop.
#include "score/NoteData.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "base/Alloc.h"
#include "base/Arith.h"
#include "base/Module.h"
#include "score/Score.h"

namespace korvalin {
namespace {

// Release time in module ticks once the key-off is written: scaled by the
// file's release scale (melodic notes only) and by the map entry's factor.
std::uint32_t scaledRelease(const NoteContext& ctx, const ModuleChannel& channel) {
    auto ticks = static_cast<std::int32_t>(channel.releaseTicks);
    if (!ctx.isPercussion(channel.midiChannel))
        ticks = mul32(ticks, static_cast<std::int32_t>(ctx.file.releaseScale)) / 1000;
    const bool hasMidi =
        channel.midiChannel >= 0 && channel.midiChannel < static_cast<std::int16_t>(kMidiChannels);
    const std::uint8_t program =
        hasMidi ? ctx.midi[static_cast<std::size_t>(channel.midiChannel)].program : 0;
    const auto factor = static_cast<std::int32_t>(ctx.run.patchMap[program].releaseFactor);
    return static_cast<std::uint32_t>(mul32(factor, ticks) / 1000);
}

// Playing channels repeat their vibrato, resend the vibrato speed when it was
// lost, continue an unfinished bend and keep their panning.
void upkeepPlaying(NoteContext& ctx, std::size_t c) {
    ModuleChannel& channel = ctx.channels[c];
    if (channel.vibratoDepth != 0) putVolume(ctx, kVolumeVibratoDepth + channel.vibratoDepth, c);
    MidiChannelState* midi = ctx.midiOf(channel);
    if (!midi) return;
    if (midi->vibratoSpeed != channel.vibratoSpeedSent &&
        putVolume(ctx, kVolumeVibratoSpeed + midi->vibratoSpeed, c))
        channel.vibratoSpeedSent = midi->vibratoSpeed;

    const std::int32_t stored = midi->pitchBend;
    if (midi->bendUnits != channel.pitchOffset)
        translatePitchBend(ctx, static_cast<std::size_t>(channel.midiChannel),
                           static_cast<std::uint8_t>(stored & 0x7F),
                           static_cast<std::uint8_t>((stored + 8192) >> 7));

    const std::int32_t target = ctx.noPan ? (c % 2 == 0 ? 1 : 255) : 2 * midi->pan;
    if (channel.panning != target && placeEffect(ctx, 0, c, kEffectPanning, target))
        channel.panning = static_cast<std::int16_t>(target);
}

constexpr std::uint8_t kFieldFlags =
    kCellNote | kCellInstrument | kCellVolume | kCellEffect | kCellParam;

constexpr std::uint8_t kEmptyCell = kCellPacked;  // a flag byte without fields

// Bytes of a packed cell by its field flags: the flag byte and one per field.
constexpr auto kPackedCellLength = [] {
    std::array<std::uint8_t, kFieldFlags + 1> length{};
    for (std::size_t flags = 0; flags <= kFieldFlags; ++flags)
        length[flags] = static_cast<std::uint8_t>(1 + std::popcount(flags));
    return length;
}();

// The first MIDI tick after a row of the piece: an event falls in the row
// when its time / ticksPerRow is the row's number, that is, when it lies in
// the row's ticksPerRow ticks before this one.
std::uint64_t rowEnd(const NoteContext& ctx, std::uint32_t pattern, std::uint32_t row) {
    return (std::uint64_t{pattern} * kRowsPerPattern + row + 1) * ctx.file.timing.ticksPerRow;
}
constexpr std::uint64_t kNoMoreEvents = UINT64_MAX;

// Where each track stands, and the earliest time of any track's next event:
// rows that end before it have no events to visit.
struct EventCursors {
    std::vector<std::size_t> next;
    std::uint64_t due = 0;
};

void applyEvent(NoteContext& ctx, MidiTrack& track, const MidiEvent& event) {
    if (event.isNoteOff())
        translateNoteOff(ctx, event);
    else if (event.isNoteOn())
        translateNoteOn(ctx, event);
    else if (event.kind() == kKindController)
        translateController(ctx, event);
    else if (event.kind() == kKindProgram)
        ctx.midi[event.channel()].program = event.data1;
    else if (event.kind() == kKindPitchBend)
        translatePitchBend(ctx, event);
    else if (event.isEndOfTrack())
        track.ended = true;
    else if (event.isSetTempo())
        translateTempo(ctx, event);
    // Key and channel pressure, sysex and other meta events carry nothing a
    // module can show.
}

// Events of a row are applied track by track, each track in stored order.
void applyRowEvents(NoteContext& ctx, EventCursors& cursors, std::uint64_t end) {
    auto& tracks = ctx.file.midi.tracks;
    cursors.due = kNoMoreEvents;
    const std::uint64_t start = end - ctx.file.timing.ticksPerRow;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        MidiTrack& track = tracks[t];
        std::size_t& cursor = cursors.next[t];
        while (cursor < track.events.size() && !track.ended && track.events[cursor].time >= start &&
               track.events[cursor].time < end) {
            applyEvent(ctx, track, track.events[cursor]);
            ++cursor;
        }
        if (cursor < track.events.size() && !track.ended) {
            const MidiEvent& event = track.events[cursor];
            cursors.due = std::min<std::uint64_t>(cursors.due, event.time);
        }
    }
}

// Fills the rows of one pattern with its cells as built.
void buildPattern(NoteContext& ctx, EventCursors& cursors, std::uint32_t index,
                  std::uint32_t rowCount, Console& out) {
    PatternRecord& pattern = ctx.file.patterns[index];
    pattern.headerLength = 9;
    pattern.packingType = 0;
    pattern.rowCount = static_cast<std::uint16_t>(rowCount);
    // Room for the usual rows: a few written cells each.
    pattern.packedData.clear();
    reserveOrAbort(pattern.packedData, rowCount * 8, out);
    pattern.packedSize = 0;

    for (std::uint32_t row = 0; row < rowCount; ++row) {
        updateChannels(ctx);
        // An event left behind in an earlier row keeps every row looking.
        const std::uint64_t end = rowEnd(ctx, index, row);
        if (cursors.due < end) applyRowEvents(ctx, cursors, end);
        packRow(ctx, pattern);
    }
}

// Rows the closing pattern needs so that the longest pending release ends in it.
std::uint32_t closingRows(const NoteContext& ctx) {
    std::uint32_t n = 1;
    for (const ModuleChannel& channel : ctx.channels) {
        if (channel.state == ChannelState::Releasing && channel.releaseTicks > n)
            n = channel.releaseTicks;
        if (channel.state == ChannelState::KeyOffPending &&
            channel.keyOffDelay + channel.releaseTicks > n)
            n = channel.keyOffDelay + channel.releaseTicks;
    }
    return std::min(n, kRowsPerPattern);
}

}  // namespace

NoteContext::NoteContext(RunState& runState, FileState& fileState, std::size_t channelCount,
                         Console& console)
    : run(runState),
      file(fileState),
      speed(static_cast<std::int32_t>(fileState.timing.speed)),
      percussionChannel(runState.settings.percussionChannel),
      tweakVolume(runState.settings.has(kTweakVolume)),
      dirtyEnd(runState.settings.has(kDirtyEnd)),
      noPan(runState.settings.has(kNoPan)) {
    allocOrAbort(cells, channelCount, console);
    allocOrAbort(channels, channelCount, console);
    freeChannels = channelMask(channelCount);
}

MidiChannelState* NoteContext::midiOf(const ModuleChannel& channel) {
    if (channel.midiChannel < 0 || channel.midiChannel >= static_cast<std::int16_t>(kMidiChannels))
        return nullptr;
    return &midi[static_cast<std::size_t>(channel.midiChannel)];
}

void resetChannel(NoteContext& ctx, std::size_t c, ChannelState state) {
    ModuleChannel& channel = ctx.channels[c];
    if (MidiChannelState* midi = ctx.midiOf(channel))
        ctx.onMidi[static_cast<std::size_t>(midi - ctx.midi.data())] &= ~(1u << c);
    const std::uint32_t bit = 1u << c;
    ctx.freeChannels =
        state == ChannelState::Free ? ctx.freeChannels | bit : ctx.freeChannels & ~bit;
    ctx.playingChannels =
        state == ChannelState::Playing ? ctx.playingChannels | bit : ctx.playingChannels & ~bit;
    channel.note = -1;
    channel.instrument = -1;
    channel.velocity = -1;
    channel.midiChannel = -1;
    channel.panning = 128;
    channel.vibratoDepth = 0;
    channel.keyOffDelay = 0;
    channel.releaseTicks = 0;
    channel.elapsed = 0;
    channel.startTime = 0;
    channel.pitchOffset = 0;
    channel.state = state;
}

void updateChannels(NoteContext& ctx) {
    // In channel order, as the upkeep of one channel may write another's cell.
    for (std::uint32_t live = ctx.liveChannels; live != 0; live &= live - 1) {
        const auto c = static_cast<std::size_t>(std::countr_zero(live));
        ModuleChannel& channel = ctx.channels[c];
        if (channel.state == ChannelState::Free) {
            ctx.liveChannels &= ~(1u << c);
            continue;
        }
        channel.elapsed += static_cast<std::uint32_t>(ctx.speed);
        if (channel.state == ChannelState::Playing) upkeepPlaying(ctx, c);

        if (channel.state == ChannelState::Releasing && channel.elapsed >= channel.releaseTicks) {
            resetChannel(ctx, c, ChannelState::CutThisRow);
            placeEffect(ctx, 0, c, kEffectExtended, kExtNoteCut);
        } else if (channel.state == ChannelState::CutThisRow) {
            // Free only from the row after the one that carries the cut.
            channel.state = ChannelState::Free;
            ctx.freeChannels |= 1u << c;
            ctx.liveChannels &= ~(1u << c);
        } else if (channel.state == ChannelState::KeyOffPending &&
                   channel.elapsed >= channel.keyOffDelay) {
            placeEffect(ctx, 0, c, kEffectKeyOff, kAbsent);
            channel.elapsed = 0;
            channel.state = ChannelState::Releasing;
            channel.releaseTicks = scaledRelease(ctx, channel);
        }
    }
}

void packRow(NoteContext& ctx, PatternRecord& pattern) {
    if (ctx.writtenCells == 0) {  // the common row with nothing in it
        pattern.packedData.push_back(kRowEnd);
        return;
    }
    // Channel number and flag byte, five fields at most, for every cell.
    std::uint8_t bytes[kMaxModuleChannels * (kPackedCellMax + 1) + 1];
    std::size_t size = 0;
    for (std::uint32_t written = ctx.writtenCells; written != 0; written &= written - 1) {
        const auto c = static_cast<std::size_t>(std::countr_zero(written));
        NoteCell& cell = ctx.cells[c];
        ModuleChannel& channel = ctx.channels[c];
        channel.pitchOffset = static_cast<std::int16_t>(channel.pitchOffset + cell.slide);
        if (channel.state != ChannelState::Free) ctx.liveChannels |= 1u << c;
        // kAbsent has every bit set: the fields' AND keeps it only when all
        // five are absent, a cell written and emptied again.
        if ((cell.note & cell.instrument & cell.volume & cell.effect & cell.param) == kAbsent) {
            cell.slide = 0;
            continue;
        }
        bytes[size++] = static_cast<std::uint8_t>(c);
        // The flag byte goes first; the present fields follow it in order.
        const std::size_t flagsAt = size++;
        std::uint8_t flags = kCellPacked;
        auto put = [&](std::int16_t field, CellFlag bit) {
            if (field == kAbsent) return;
            flags = static_cast<std::uint8_t>(flags | bit);
            bytes[size++] = static_cast<std::uint8_t>(field & 0xFF);
        };
        put(cell.note, kCellNote);
        put(cell.instrument, kCellInstrument);
        put(cell.volume, kCellVolume);
        put(cell.effect, kCellEffect);
        put(cell.param, kCellParam);
        bytes[flagsAt] = flags;
        cell = NoteCell{};
    }
    bytes[size++] = kRowEnd;
    ctx.writtenCells = 0;
    pattern.packedData.insert(pattern.packedData.end(), bytes, bytes + size);
}

void packPattern(PatternRecord& pattern, std::size_t channelCount,
                 std::vector<std::uint8_t>& scratch, Console& out) {
    if (scratch.size() < pattern.rowCount * channelCount * kPackedCellMax)
        allocOrAbort(scratch, pattern.rowCount * channelCount * kPackedCellMax, out);
    const std::uint8_t* in = pattern.packedData.data();
    const std::uint8_t* const end = in + pattern.packedData.size();
    std::uint8_t* const first = scratch.data();
    std::uint8_t* to = first;
    for (std::uint32_t row = 0; row < pattern.rowCount; ++row) {
        std::size_t next = 0;  // the channel whose cell comes next
        while (in < end && *in != kRowEnd) {
            const std::size_t c = in[0];
            const std::size_t length = kPackedCellLength[in[1] & kFieldFlags];
            if (c < channelCount) {
                to = std::fill_n(to, c - next, kEmptyCell);
                to = std::copy_n(in + 1, length, to);
                next = c + 1;
            }
            in += 1 + length;
        }
        ++in;  // the row's end
        to = std::fill_n(to, channelCount - next, kEmptyCell);
    }
    const auto size = static_cast<std::size_t>(to - first);
    pattern.packedData.assign(first, to);
    pattern.packedSize = static_cast<std::uint16_t>(size);
}

Status buildNoteData(RunState& run, FileState& file, std::uint32_t lastPattern,
                     std::uint32_t lastRow, Console& out) {
    // A packed pattern must fit its 16-bit size: at most 32 channels.
    const std::size_t channelCount =
        std::clamp<std::uint32_t>(run.settings.maxChannels, 1, kMaxModuleChannels);
    NoteContext ctx(run, file, channelCount, out);
    // The first row sets full volume on every channel.
    for (std::size_t c = 0; c < ctx.cells.size(); ++c) ctx.cell(c).volume = kVolumeFull;
    EventCursors cursors;
    allocOrAbort(cursors.next, file.midi.tracks.size(), out);
    if (file.patterns.size() < static_cast<std::size_t>(lastPattern) + 1)
        allocOrAbort(file.patterns, static_cast<std::size_t>(lastPattern) + 1, out);

    out.print("No of patterns: %ld\n", static_cast<long>(lastPattern) + 1);
    out.print("Creating XM note data");
    bool closed = false;
    for (std::uint32_t i = 0; i <= lastPattern; ++i) {
        const std::uint32_t rowCount =
            i == lastPattern ? std::min(lastRow, kRowsPerPattern - 1) + 1 : kRowsPerPattern;
        buildPattern(ctx, cursors, i, rowCount, out);

        // The closing pattern only runs the channel upkeep, which writes the
        // key-offs and cuts of the notes still sounding. The order table has
        // room for 256 patterns, so a piece that fills them gets none.
        if (i == lastPattern && !ctx.dirtyEnd && !closed && lastPattern + 1 < kOrderTableSize) {
            closed = true;
            ++file.header.patternCount;
            ++file.header.songLength;
            ++lastPattern;
            if (file.patterns.size() <= lastPattern)
                reallocOrAbort(file.patterns, static_cast<std::size_t>(lastPattern) + 1, out);
            lastRow = closingRows(ctx) - 1;
        }
        out.print(".");
    }
    out.print("\n");
    // Every event is in the patterns now: their memory is given back before
    // the samples are read and written.
    for (MidiTrack& track : file.midi.tracks) std::vector<MidiEvent>().swap(track.events);

    std::uint32_t used = 0;
    for (const ModuleChannel& channel : ctx.channels)
        if (channel.everUsed) ++used;
    if (used < 2)
        used = 2;
    else if (used % 2 != 0)
        ++used;
    file.header.channelCount = static_cast<std::uint16_t>(used);
    // Now that the channel count is known, every pattern gets its module rows.
    std::vector<std::uint8_t> scratch;
    for (std::uint32_t i = 0; i <= lastPattern; ++i)
        packPattern(file.patterns[i], used, scratch, out);
    out.print("Channels present: %lu\n", static_cast<unsigned long>(used));
    return Status::Ok;
}

}  // namespace korvalin
