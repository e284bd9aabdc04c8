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
#include <cstring>

#include "base/Alloc.h"
#include "base/Arith.h"
#include "base/Module.h"
#include "score/Score.h"

namespace korvalin {
namespace {

// Release time in module ticks once the key-off is written: scaled by the
// file's release scale (melodic notes only) and by the map entry's factor
// of `program`.
std::uint32_t scaleRelease(const NoteContext& ctx, std::uint32_t releaseTicks, bool percussion,
                           std::uint8_t program) {
    auto ticks = static_cast<std::int32_t>(releaseTicks);
    if (!percussion) ticks = mul32(ticks, static_cast<std::int32_t>(ctx.file.releaseScale)) / 1000;
    const auto factor = static_cast<std::int32_t>(ctx.run.patchMap[program].releaseFactor);
    return static_cast<std::uint32_t>(mul32(factor, ticks) / 1000);
}

// scaleRelease for a channel at its key-off, with its MIDI channel's
// program. The notes of a MIDI channel mostly release alike, so each MIDI
// channel keeps its last result.
std::uint32_t scaledRelease(NoteContext& ctx, const ModuleChannel& channel) {
    if (channel.midiChannel < 0 || channel.midiChannel >= static_cast<std::int16_t>(kMidiChannels))
        return scaleRelease(ctx, channel.releaseTicks, false, 0);
    const auto m = static_cast<std::size_t>(channel.midiChannel);
    const std::uint8_t program = ctx.midi[m].program;
    ScaledRelease& last = ctx.lastRelease[m];
    if (last.ticks != channel.releaseTicks || last.program != program) {
        const bool percussion = ctx.isPercussion(channel.midiChannel);
        last = {channel.releaseTicks, scaleRelease(ctx, channel.releaseTicks, percussion, program),
                program};
    }
    return last.scaled;
}

// The panning a playing channel keeps: its MIDI channel's, or with noPan the
// channels alternately hard left and right.
std::int32_t panningTarget(const NoteContext& ctx, std::size_t c, const MidiChannelState& midi) {
    return ctx.noPan ? (c % 2 == 0 ? 1 : 255) : 2 * midi.pan;
}

// Whether the upkeep of playing channels[c] has something to write: its
// vibrato, a lost vibrato speed, an unfinished bend or its panning.
bool upkeepPending(const NoteContext& ctx, std::size_t c) {
    const ModuleChannel& channel = ctx.channels[c];
    if (channel.vibratoDepth != 0) return true;
    const MidiChannelState* midi = ctx.midiOf(channel);
    return midi && (midi->vibratoSpeed != channel.vibratoSpeedSent ||
                    midi->bendUnits != channel.pitchOffset ||
                    channel.panning != panningTarget(ctx, c, *midi));
}

// Playing channels repeat their vibrato, resend the vibrato speed when it was
// lost, continue an unfinished bend and keep their panning. Returns whether
// the next row may have any of this to do again.
bool upkeepPlaying(NoteContext& ctx, std::size_t c) {
    ModuleChannel& channel = ctx.channels[c];
    if (channel.vibratoDepth != 0) putVolume(ctx, kVolumeVibratoDepth + channel.vibratoDepth, c);
    MidiChannelState* midi = ctx.midiOf(channel);
    if (!midi) return channel.vibratoDepth != 0;
    if (midi->vibratoSpeed != channel.vibratoSpeedSent &&
        putVolume(ctx, kVolumeVibratoSpeed + midi->vibratoSpeed, c))
        channel.vibratoSpeedSent = midi->vibratoSpeed;

    const std::int32_t stored = midi->pitchBend;
    if (midi->bendUnits != channel.pitchOffset)
        translatePitchBend(ctx, static_cast<std::size_t>(channel.midiChannel),
                           static_cast<std::uint8_t>(stored & 0x7F),
                           static_cast<std::uint8_t>((stored + 8192) >> 7));

    const std::int32_t target = panningTarget(ctx, c, *midi);
    if (channel.panning != target && placeEffect(ctx, 0, c, kEffectPanning, target))
        channel.panning = static_cast<std::int16_t>(target);
    return upkeepPending(ctx, c);
}

constexpr std::uint8_t kFieldFlags =
    kCellNote | kCellInstrument | kCellVolume | kCellEffect | kCellParam;

constexpr std::uint8_t kEmptyCell = kCellPacked;  // a flag byte without fields
// Empty cells stored in one piece behind a packed cell.
constexpr std::uint8_t kEmptyCells[8] = {kEmptyCell, kEmptyCell, kEmptyCell, kEmptyCell,
                                         kEmptyCell, kEmptyCell, kEmptyCell, kEmptyCell};
// The most bytes a packed row takes, and as many empty cells. A row is laid
// down over a piece of these of a fixed size, which is cheaper than a fill
// of the row's own size: a row starts at most kRowsPerPattern - 1 rows of
// kRowBytesMax into patternBytes, which has room for kRowsPerPattern of
// them, so the piece always fits; the bytes past the row are not read.
constexpr std::size_t kRowBytesMax = kMaxModuleChannels * kPackedCellMax;
constexpr auto kEmptyRow = [] {
    std::array<std::uint8_t, kRowBytesMax> row{};
    row.fill(kEmptyCell);
    return row;
}();

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

// How far ahead of a track's next event its events are fetched into the
// cache: a few cache lines.
constexpr std::size_t kPrefetchEvents = 32;

// Where a track stands: its next event and the end of its events. A track
// that will apply no more events (it ended, or its times went backwards, so
// its next event lies before the current row forever) has next == end.
// Events before `prefetchEnd` have kPrefetchEvents more behind them.
struct TrackCursor {
    MidiTrack* track = nullptr;
    const MidiEvent* next = nullptr;
    const MidiEvent* end = nullptr;
    const MidiEvent* prefetchEnd = nullptr;
};

// The tracks' cursors, and the earliest time of any track's next event:
// rows that end before it have no events to visit.
struct EventCursors {
    std::vector<TrackCursor> tracks;
    std::uint64_t due = 0;
};

// Applies one event; returns false for the end-of-track event, after which
// the track applies no more.
bool applyEvent(NoteContext& ctx, MidiTrack& track, const MidiEvent& event) {
    switch (event.kind()) {
        case kKindNoteOff:
            translateNoteOff(ctx, event);
            break;
        case kKindNoteOn:  // velocity 0 is a note-off
            if (event.isNoteOn())
                translateNoteOn(ctx, event);
            else
                translateNoteOff(ctx, event);
            break;
        case kKindController:
            translateController(ctx, event);
            break;
        case kKindProgram:
            ctx.midi[event.channel()].program = event.data1;
            break;
        case kKindPitchBend:
            translatePitchBend(ctx, event);
            break;
        default:
            if (event.isEndOfTrack()) {
                track.ended = true;
                return false;
            }
            if (event.isSetTempo()) translateTempo(ctx, event);
            // Key and channel pressure, sysex and other meta events carry
            // nothing a module can show.
            break;
    }
    return true;
}

// Events of a row are applied track by track, each track in stored order.
void applyRowEvents(NoteContext& ctx, EventCursors& cursors, std::uint64_t end) {
    cursors.due = kNoMoreEvents;
    const std::uint64_t ticksPerRow = ctx.file.timing.ticksPerRow;
    const std::uint64_t start = end - ticksPerRow;
    ctx.rowStart = start;
    for (TrackCursor& cursor : cursors.tracks) {
        const MidiEvent* next = cursor.next;
        if (next == cursor.end) continue;
        // One unsigned comparison: start <= time < end, an event of this row.
        for (; next != cursor.end && next->time - start < ticksPerRow; ++next) {
            if (!applyEvent(ctx, *cursor.track, *next)) {
                next = cursor.end;
                break;
            }
        }
        // An event before the row: the track's times went back, and it
        // applies no more events.
        if (next != cursor.end && next->time < start) next = cursor.end;
        if (next != cursor.end) cursors.due = std::min<std::uint64_t>(cursors.due, next->time);
        // The events were stored long before and are walked as many streams
        // at once: asking for a track's coming events once it moved on keeps
        // the walk from waiting on memory.
        if (next != cursor.next && next < cursor.prefetchEnd)
            __builtin_prefetch(next + kPrefetchEvents);
        cursor.next = next;
    }
}

// Fills the rows of one pattern with its cells as built.
void buildPattern(NoteContext& ctx, EventCursors& cursors, std::uint32_t index,
                  std::uint32_t rowCount, Console& out) {
    PatternRecord& pattern = ctx.file.patterns[index];
    pattern.headerLength = 9;
    pattern.packingType = 0;
    pattern.rowCount = static_cast<std::uint16_t>(rowCount);
    pattern.packedSize = 0;

    ctx.patternSize = 0;
    for (std::uint32_t row = 0; row < rowCount; ++row) {
        updateChannels(ctx);
        // An event left behind in an earlier row keeps every row looking.
        const std::uint64_t end = rowEnd(ctx, index, row);
        if (cursors.due < end) applyRowEvents(ctx, cursors, end);
        packRow(ctx, index * kRowsPerPattern + row);
    }
    const std::uint8_t* const bytes = ctx.patternBytes.data();
    pattern.packedData.clear();
    reserveOrAbort(pattern.packedData, ctx.patternSize, out);
    pattern.packedData.assign(bytes, bytes + ctx.patternSize);
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

// Where the fields of a cell go in its packed bytes, by its field flags,
// note first. A field that is absent goes just past the cell's end, so that
// every field can be stored without a branch.
constexpr std::size_t kCellFields = 5;
constexpr auto kFieldPlaces = [] {
    std::array<std::array<std::uint8_t, 8>, kFieldFlags + 1> places{};
    for (unsigned flags = 0; flags <= kFieldFlags; ++flags) {
        const std::uint8_t end = kPackedCellLength[flags];
        std::uint8_t next = 1;  // after the flag byte
        for (unsigned field = 0; field < kCellFields; ++field)
            places[flags][field] = (flags >> field & 1) ? next++ : end;
    }
    return places;
}();

// Writes a cell's flag byte and its present fields, in order; returns the
// number of bytes. `to` has room for kPackedCellMax bytes; the byte after
// the cell may be overwritten. A cell with no field packs as kEmptyCell.
inline std::size_t packCell(const NoteCell& cell, std::uint8_t* to) {
    const unsigned flags = cell.present & kFieldFlags;
    const std::array<std::uint8_t, 8>& places = kFieldPlaces[flags];
    to[places[0]] = static_cast<std::uint8_t>(cell.note);
    to[places[1]] = static_cast<std::uint8_t>(cell.instrument);
    to[places[2]] = static_cast<std::uint8_t>(cell.volume);
    to[places[3]] = static_cast<std::uint8_t>(cell.effect);
    to[places[4]] = static_cast<std::uint8_t>(cell.param);
    to[0] = static_cast<std::uint8_t>(kCellPacked | flags);
    return kPackedCellLength[flags];
}

// Walks the channel counts the rows were packed at and the stray cells, both
// in row order, for rows asked in increasing order.
struct RowWidths {
    const std::vector<WidthChange>& changes;
    const std::vector<StrayCell>& strays;
    std::size_t change = 0;
    std::size_t stray = 0;

    std::size_t widthAt(std::uint32_t row) {
        while (change + 1 < changes.size() && changes[change + 1].row <= row) ++change;
        return changes.empty() ? 0 : changes[change].width;
    }
};

// Writes the rows of a pattern to `to` at channelCount channels: each row's
// cells as packed, then the stray cells of the row's new channels, empty
// cells elsewhere; returns the number of bytes. `first` is the number of the
// pattern's first row; `to` has room for the rows at channelCount channels.
std::size_t widenPattern(const PatternRecord& pattern, std::uint32_t first,
                         std::size_t channelCount, RowWidths& widths, std::uint8_t* const to) {
    const std::uint8_t* in = pattern.packedData.data();
    const std::uint8_t* const end = in + pattern.packedData.size();
    std::uint8_t* out = to;
    for (std::uint32_t row = first; row < first + pattern.rowCount; ++row) {
        // The row's cells as packed, copied in one piece.
        const std::size_t width = widths.widthAt(row);
        const std::uint8_t* const rowStart = in;
        for (std::size_t c = 0; c < width && in < end; ++c)
            in += kPackedCellLength[*in & kFieldFlags];
        in = std::min(in, end);
        out = std::copy(rowStart, in, out);

        std::size_t next = width;
        const auto& strays = widths.strays;
        for (; widths.stray < strays.size() && strays[widths.stray].row <= row; ++widths.stray) {
            const StrayCell& cell = strays[widths.stray];
            if (cell.row < row || cell.channel >= channelCount) continue;
            out = std::fill_n(out, cell.channel - next, kEmptyCell);
            out = std::copy_n(cell.bytes.data(), cell.length, out);
            next = cell.channel + 1;
        }
        out = std::fill_n(out, channelCount - next, kEmptyCell);
    }
    return static_cast<std::size_t>(out - to);
}

}  // namespace

NoteContext::NoteContext(RunState& runState, FileState& fileState, std::size_t count,
                         Console& console)
    : run(runState),
      file(fileState),
      channelCount(count),
      allChannels(channelMask(count)),
      instrumentCount(fileState.instruments.size()),
      speed(static_cast<std::int32_t>(fileState.timing.speed)),
      percussionChannel(runState.settings.percussionChannel),
      tweakVolume(runState.settings.has(kTweakVolume)),
      dirtyEnd(runState.settings.has(kDirtyEnd)),
      noPan(runState.settings.has(kNoPan)) {
    allocOrAbort(cells, count, console);
    allocOrAbort(channels, count, console);
    allocOrAbort(moduleNotes, instrumentCount * static_cast<std::size_t>(kModuleNoteCount),
                 console);
    allocOrAbort(patternBytes, kRowsPerPattern * kRowBytesMax + sizeof kEmptyCells, console);
    freeChannels = allChannels;
    const std::uint32_t ticksPerRow = file.timing.ticksPerRow;
    const auto rowTicks = static_cast<std::uint32_t>(speed);
    if (ticksPerRow <= kStartTickRows && rowTicks <= UINT16_MAX) {
        allocOrAbort(startTicks, ticksPerRow, console);
        // As a note start computes it, in 32 bits; below the speed, so it
        // fits the entry.
        for (std::uint32_t o = 0; o < ticksPerRow; ++o)
            startTicks[o] = static_cast<std::uint16_t>((o * rowTicks) / ticksPerRow);
    }
    for (std::size_t v = 0; v < volumeCurve.size(); ++v)
        volumeCurve[v] = tweakedVolume(kVolumeSet + static_cast<std::int32_t>(v));
}

namespace {

// The upkeep of the channels in `visit`, in channel order, as the upkeep of
// one channel may write another's cell. Out of line, so that a row with no
// channel to visit passes in a few instructions.
[[gnu::noinline]] void visitChannels(NoteContext& ctx, std::uint32_t visit) {
    for (std::uint32_t m = visit; m != 0; m &= m - 1) {
        const auto c = lowestChannel(m);
        const std::uint32_t bit = 1u << c;
        ModuleChannel& channel = ctx.channels[c];
        switch (channel.state) {
            case ChannelState::Free:
                ctx.liveChannels &= ~bit;
                break;
            case ChannelState::Playing:
                if (!upkeepPlaying(ctx, c)) ctx.upkeepChannels &= ~bit;
                break;
            case ChannelState::Releasing:
                if (ctx.age(c) >= channel.releaseTicks) {
                    resetChannel(ctx, c, ChannelState::CutThisRow);
                    placeEffect(ctx, 0, c, kEffectExtended, kExtNoteCut);
                } else {
                    ctx.noteCutAt(c);
                }
                break;
            case ChannelState::CutThisRow:
                // Free only from the row after the one that carries the cut.
                channel.state = ChannelState::Free;
                ctx.freeChannels |= bit;
                ctx.liveChannels &= ~bit;
                break;
            case ChannelState::KeyOffPending:
                if (ctx.age(c) >= channel.keyOffDelay) {
                    placeEffect(ctx, 0, c, kEffectKeyOff, kAbsent);
                    channel.state = ChannelState::Releasing;
                    channel.releaseTicks = scaledRelease(ctx, channel);
                    ctx.restartAge(c);
                    ctx.releasingChannels |= bit;
                    ctx.noteCutAt(c);
                }
                break;
        }
    }
}

}  // namespace

void updateChannels(NoteContext& ctx) {
    ctx.clock += static_cast<std::uint32_t>(ctx.speed);
    // Playing channels are visited only while their upkeep may write something;
    // the others that are not free follow their release, the releasing ones
    // only once a cut may be due.
    std::uint32_t visit = ctx.liveChannels & (~ctx.playingChannels | ctx.upkeepChannels);
    if (ctx.clock < ctx.nextCut)
        visit &= ~ctx.releasingChannels;
    else
        ctx.nextCut = UINT64_MAX;  // worked out again below
    if (visit != 0) visitChannels(ctx, visit);
}

namespace {

// Keeps the cells of channels at or beyond the row's channel count aside,
// for finishPatterns to place once the count has grown. Rare: such a channel
// had not been used when the row was packed.
[[gnu::noinline]] void keepStrayCells(NoteContext& ctx, std::uint32_t row, std::uint32_t strays) {
    for (; strays != 0; strays &= strays - 1) {
        const auto c = lowestChannel(strays);
        NoteCell& cell = ctx.cells[c];
        // A cell written and emptied again has nothing to keep.
        if (cell.present != 0) {
            StrayCell stray{row, c, {}, 0};
            stray.length = packCell(cell, stray.bytes.data());
            ctx.strayCells.push_back(stray);
        }
        cell = NoteCell{};
    }
}

// packRow for a row with written cells or a new channel count. Kept out of
// line so that the empty row's path stays a few instructions.
[[gnu::noinline]] void packWrittenRow(NoteContext& ctx, std::uint32_t row) {
    if (ctx.usedChannels != ctx.widthFor) {
        ctx.widthFor = ctx.usedChannels;
        ctx.rowWidth =
            moduleChannelCount(static_cast<std::size_t>(std::popcount(ctx.usedChannels)));
    }
    const std::size_t width = ctx.rowWidth;
    if (ctx.widthChanges.empty() || ctx.widthChanges.back().width != width)
        ctx.widthChanges.push_back({row, width});
    // The slides of the row move the pitch of their channels; the upkeep
    // looks at them again where the bend is not reached.
    for (std::uint32_t m = ctx.slidingCells; m != 0; m &= m - 1) {
        const auto c = lowestChannel(m);
        NoteCell& cell = ctx.cells[c];
        ModuleChannel& channel = ctx.channels[c];
        channel.pitchOffset = static_cast<std::int16_t>(channel.pitchOffset + cell.slide);
        const MidiChannelState* midi = ctx.midiOf(channel);
        if (midi && midi->bendUnits != channel.pitchOffset) ctx.upkeepChannels |= 1u << c;
        cell.slide = 0;
    }
    ctx.slidingCells = 0;
    // A written cell's channel that is not free may be sounding.
    ctx.liveChannels |= ctx.writtenCells & ~ctx.freeChannels;

    // The row is laid down over empty cells (see kEmptyRow): a channel
    // without a cell is then only a step of the write position.
    const std::uint32_t inRow = ctx.writtenCells & channelMask(width);
    std::uint8_t* const first = ctx.patternBytes.data() + ctx.patternSize;
    std::memcpy(first, kEmptyRow.data(), kRowBytesMax);
    std::uint8_t* to = first;
    std::size_t next = 0;  // the channel whose cell comes next
    // Held apart: the byte stores below might alias the vector's pointer.
    NoteCell* const cells = ctx.cells.data();
    for (std::uint32_t written = inRow; written != 0; written &= written - 1) {
        const auto c = lowestChannel(written);
        NoteCell& cell = cells[c];
        to += c - next;
        to += packCell(cell, to);  // an emptied cell packs as an empty one
        // packCell stores absent fields too, past the cell's end: put the
        // empty cells back there.
        std::memcpy(to, kEmptyCells, sizeof kEmptyCells);
        next = c + 1;
        cell = NoteCell{};
    }
    to += width - next;
    if (ctx.writtenCells != inRow) keepStrayCells(ctx, row, ctx.writtenCells & ~inRow);
    ctx.writtenCells = 0;
    ctx.patternSize += static_cast<std::size_t>(to - first);
}

}  // namespace

void packRow(NoteContext& ctx, std::uint32_t row) {
    if (ctx.writtenCells == 0 && ctx.usedChannels == ctx.widthFor) {
        // The common row with nothing in it, at the channel count of the row
        // before: empty cells only, stored as a whole row at the most
        // channels (see kEmptyRow).
        std::memcpy(ctx.patternBytes.data() + ctx.patternSize, kEmptyRow.data(),
                    kMaxModuleChannels);
        ctx.patternSize += ctx.rowWidth;
        return;
    }
    packWrittenRow(ctx, row);
}

void finishPatterns(NoteContext& ctx, std::size_t channelCount, std::uint32_t lastPattern,
                    Console& out) {
    RowWidths widths{ctx.widthChanges, ctx.strayCells};
    // The rows are built in patternBytes, free now, which has room for a
    // pattern at the most channels.
    std::uint8_t* const bytes = ctx.patternBytes.data();
    for (std::uint32_t i = 0; i <= lastPattern; ++i) {
        PatternRecord& pattern = ctx.file.patterns[i];
        // Counts only grow: a pattern whose first row was packed at the
        // final count is complete.
        if (widths.widthAt(i * kRowsPerPattern) < channelCount) {
            const std::size_t size =
                widenPattern(pattern, i * kRowsPerPattern, channelCount, widths, bytes);
            pattern.packedData.clear();
            reserveOrAbort(pattern.packedData, size, out);
            pattern.packedData.assign(bytes, bytes + size);
        }
        pattern.packedSize = static_cast<std::uint16_t>(pattern.packedData.size());
    }
}

Status buildNoteData(RunState& run, FileState& file, std::uint32_t lastPattern,
                     std::uint32_t lastRow, Console& out) {
    // A packed pattern must fit its 16-bit size: at most 32 channels.
    const std::size_t channelCount =
        std::clamp<std::uint32_t>(run.settings.maxChannels, 1, kMaxModuleChannels);
    NoteContext ctx(run, file, channelCount, out);
    // The first row sets full volume on every channel.
    for (std::size_t c = 0; c < ctx.cells.size(); ++c) ctx.cell(c).setVolume(kVolumeFull);
    EventCursors cursors;
    allocOrAbort(cursors.tracks, file.midi.tracks.size(), out);
    for (std::size_t t = 0; t < file.midi.tracks.size(); ++t) {
        MidiTrack& track = file.midi.tracks[t];
        const MidiEvent* const end = track.events.data() + track.events.size();
        // A track that has ended already applies nothing.
        const MidiEvent* const first = track.ended ? end : track.events.data();
        const std::size_t count = static_cast<std::size_t>(end - first);
        const MidiEvent* const prefetchEnd =
            count > kPrefetchEvents ? end - kPrefetchEvents : first;
        cursors.tracks[t] = {&track, first, end, prefetchEnd};
    }
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

    std::size_t used = 0;
    for (const ModuleChannel& channel : ctx.channels)
        if (channel.everUsed) ++used;
    used = moduleChannelCount(used);
    file.header.channelCount = static_cast<std::uint16_t>(used);
    // Now that the channel count is known, the rows packed before it was
    // reached get their remaining cells.
    finishPatterns(ctx, used, lastPattern, out);
    out.print("Channels present: %lu\n", static_cast<unsigned long>(used));
    return Status::Ok;
}

}  // namespace korvalin
