// The note-data builder: walks the rows of every pattern, lets each module
// channel age by a row, translates the MIDI events of the row into cells and
// packs them. A closing pattern lets the notes still sounding at the end
// release and stop.
#include "score/NoteData.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/Alloc.h"
#include "score/Score.h"

namespace korvalin {
namespace {

constexpr std::uint32_t kMaxPatterns = 256;  // entries of the order table

// Signed 32-bit product with two's complement wrap-around.
std::int32_t mul32(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

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
    if (stored / std::max<std::int32_t>(midi->bendDivisor, 1) != channel.pitchOffset)
        translatePitchBend(ctx, static_cast<std::size_t>(channel.midiChannel),
                           static_cast<std::uint8_t>(stored & 0x7F),
                           static_cast<std::uint8_t>((stored + 8192) >> 7));

    const std::int32_t target = ctx.noPan ? (c % 2 == 0 ? 1 : 255) : 2 * midi->pan;
    if (channel.panning != target && placeEffect(ctx, 0, c, kEffectPanning, target))
        channel.panning = static_cast<std::int16_t>(target);
}

// Fills the rows of one pattern and shrinks its buffer to the packed size.
void buildPattern(NoteContext& ctx, std::vector<std::size_t>& cursors, std::uint32_t index,
                  std::uint32_t rowCount, Console& out) {
    PatternRecord& pattern = ctx.file.patterns[index];
    pattern.headerLength = 9;
    pattern.packingType = 0;
    pattern.rowCount = static_cast<std::uint16_t>(rowCount);
    allocOrAbort(pattern.packedData, rowCount * ctx.cells.size() * kPackedCellMax, out);
    pattern.packedSize = 0;

    auto& tracks = ctx.file.midi.tracks;
    for (std::uint32_t row = 0; row < rowCount; ++row) {
        updateChannels(ctx);
        // Events of a row are applied track by track, each track in stored order.
        for (std::size_t t = 0; t < tracks.size(); ++t) {
            MidiTrack& track = tracks[t];
            std::size_t& cursor = cursors[t];
            while (cursor < track.events.size() && !track.ended &&
                   track.events[cursor].pattern == index && track.events[cursor].row == row) {
                const MidiEvent& event = track.events[cursor];
                if (event.isNoteOff())
                    translateNoteOff(ctx, event);
                else if (event.isNoteOn())
                    translateNoteOn(ctx, event);
                else if (event.kind() == 0xB0)
                    translateController(ctx, event);
                else if (event.kind() == 0xC0)
                    ctx.midi[event.channel()].program = event.data1;
                else if (event.kind() == 0xE0)
                    translatePitchBend(ctx, event);
                else if (event.isEndOfTrack())
                    track.ended = true;
                else if (event.isSetTempo())
                    translateTempo(ctx, event);
                // Key and channel pressure, sysex and other meta events carry
                // nothing a module can show.
                ++cursor;
            }
        }
        packRow(ctx, pattern);
    }
    reallocOrAbort(pattern.packedData, pattern.packedSize, out);
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
}

MidiChannelState* NoteContext::midiOf(const ModuleChannel& channel) {
    if (channel.midiChannel < 0 || channel.midiChannel >= static_cast<std::int16_t>(kMidiChannels))
        return nullptr;
    return &midi[static_cast<std::size_t>(channel.midiChannel)];
}

InstrumentRecord* NoteContext::instrument(std::int32_t number) {
    if (number < 1 || static_cast<std::size_t>(number) > file.instruments.size()) return nullptr;
    return &file.instruments[static_cast<std::size_t>(number - 1)];
}

const InstrumentRecord* NoteContext::instrument(std::int32_t number) const {
    return const_cast<NoteContext*>(this)->instrument(number);
}

void resetChannel(ModuleChannel& channel, ChannelState state) {
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
    for (std::size_t c = 0; c < ctx.channels.size(); ++c) {
        ModuleChannel& channel = ctx.channels[c];
        if (channel.state == ChannelState::Free) continue;
        channel.elapsed += static_cast<std::uint32_t>(ctx.speed);
        if (channel.state == ChannelState::Playing) upkeepPlaying(ctx, c);

        if (channel.state == ChannelState::Releasing && channel.elapsed >= channel.releaseTicks) {
            resetChannel(channel, ChannelState::CutThisRow);
            placeEffect(ctx, 0, c, kEffectExtended, kExtNoteCut);
        } else if (channel.state == ChannelState::CutThisRow) {
            // Free only from the row after the one that carries the cut.
            channel.state = ChannelState::Free;
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
    std::uint8_t* out = pattern.packedData.data() + pattern.packedSize;
    std::size_t size = 0;
    for (std::size_t c = 0; c < ctx.cells.size(); ++c) {
        NoteCell& cell = ctx.cells[c];
        ModuleChannel& channel = ctx.channels[c];
        // kAbsent has every bit set: the fields' AND keeps it only when all
        // five are absent, the common empty cell of a single flag byte.
        if ((cell.note & cell.instrument & cell.volume & cell.effect & cell.param) == kAbsent) {
            out[size++] = kCellPacked;
            channel.pitchOffset = static_cast<std::int16_t>(channel.pitchOffset + cell.slide);
            cell.slide = 0;
            continue;
        }
        // The flag byte goes first; the present fields follow it in order.
        const std::size_t flagsAt = size++;
        std::uint8_t flags = kCellPacked;
        auto put = [&](std::int16_t field, std::uint8_t bit) {
            if (field == kAbsent) return;
            flags = static_cast<std::uint8_t>(flags | bit);
            out[size++] = static_cast<std::uint8_t>(field & 0xFF);
        };
        put(cell.note, 0x01);
        put(cell.instrument, 0x02);
        put(cell.volume, 0x04);
        put(cell.effect, 0x08);
        put(cell.param, 0x10);
        out[flagsAt] = flags;

        channel.pitchOffset = static_cast<std::int16_t>(channel.pitchOffset + cell.slide);
        cell = NoteCell{};
    }
    pattern.packedSize = static_cast<std::uint16_t>(pattern.packedSize + size);
}

Status buildNoteData(RunState& run, FileState& file, std::uint32_t lastPattern,
                     std::uint32_t lastRow, Console& out) {
    // A packed pattern must fit its 16-bit size: at most 32 channels.
    const std::size_t channelCount =
        std::clamp<std::uint32_t>(run.settings.maxChannels, 1, kMaxModuleChannels);
    NoteContext ctx(run, file, channelCount, out);
    // The first row sets full volume on every channel.
    for (NoteCell& cell : ctx.cells) cell.volume = kVolumeFull;
    std::vector<std::size_t> cursors;
    allocOrAbort(cursors, file.midi.tracks.size(), out);
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
        if (i == lastPattern && !ctx.dirtyEnd && !closed && lastPattern + 1 < kMaxPatterns) {
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

    std::uint32_t used = 0;
    for (const ModuleChannel& channel : ctx.channels)
        if (channel.everUsed) ++used;
    if (used < 2)
        used = 2;
    else if (used % 2 != 0)
        ++used;
    file.header.channelCount = static_cast<std::uint16_t>(used);
    out.print("Channels present: %lu\n", static_cast<unsigned long>(used));
    return Status::Ok;
}

}  // namespace korvalin
