// Internal records of the note-data builder: the cells of the row being
// built, the module channels that notes are allocated to, and the controller
// state of the 16 MIDI channels. Shared by the builder, the MIDI event
// translators and the effect / volume-column arbitration.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/Console.h"
#include "base/Module.h"
#include "base/State.h"
#include "score/EffectClass.h"

namespace korvalin {

inline constexpr std::int16_t kAbsent = -1;  // a cell field that is not written
inline constexpr std::size_t kMidiChannels = 16;
inline constexpr std::size_t kMaxModuleChannels = 32;
inline constexpr std::size_t kPackedCellMax = 6;  // flag byte + five fields
inline constexpr std::int32_t kModuleNoteCount = 96;
inline constexpr std::uint32_t kStartTickRows = 65536;
inline constexpr std::size_t kMatchKeys = 256;  // ModuleChannel::key of a bound channel

// Effects the converter writes.
enum EffectNumber : std::int16_t {
    kEffectPortaUp = 0x01,
    kEffectPortaDown = 0x02,
    kEffectPanning = 0x08,
    kEffectExtended = 0x0E,
    kEffectSetBpm = 0x0F,
    kEffectKeyOff = 0x14,
};

static_assert(effect_tables::kNoField == kAbsent && effect_tables::kExtended == kEffectExtended &&
              effect_tables::kPortaUp == kEffectPortaUp &&
              effect_tables::kPortaDown == kEffectPortaDown);

// Parameters of the extended effect 0x0E (sub-command in the high nibble).
inline constexpr std::int16_t kExtFinePortaUp = 0x10;
inline constexpr std::int16_t kExtFinePortaDown = 0x20;
inline constexpr std::int16_t kExtNoteCut = 0xC0;
inline constexpr std::int16_t kExtNoteDelay = 0xD0;

// Volume-column bytes.
inline constexpr std::int16_t kVolumeSet = 0x10;  // 0x10..0x50: set volume 0..64
inline constexpr std::int16_t kVolumeFull = 0x50;
inline constexpr std::int16_t kVolumeVibratoSpeed = 0xA0;
inline constexpr std::int16_t kVolumeVibratoDepth = 0xB0;

// Bits 0..count-1: every channel of a builder with `count` channels.
inline std::uint32_t channelMask(std::size_t count) {
    return count >= kMaxModuleChannels ? ~0u : (1u << count) - 1;
}

// The number of the lowest channel in a channel mask that is not empty.
// std::countr_zero would also answer for an empty mask, at a test and a move
// more in every channel loop.
inline std::size_t lowestChannel(std::uint32_t mask) {
    return static_cast<std::size_t>(__builtin_ctz(mask));
}

// The number of channels in a channel mask. Bit arithmetic in place:
// std::popcount is a library call on the baseline instruction set, and
// steals and packed rows count channels.
inline std::size_t countChannels(std::uint32_t mask) {
    mask -= (mask >> 1) & 0x5555'5555u;
    mask = (mask & 0x3333'3333u) + ((mask >> 2) & 0x3333'3333u);
    return (((mask + (mask >> 4)) & 0x0F0F'0F0Fu) * 0x0101'0101u) >> 24;
}

// The cell of one module channel in the row being built. Fields are written
// through the setters, which keep `present` in step, so that packing reads
// the flag byte instead of testing every field. Eight-byte aligned, so that
// a cell is 16 bytes and its index a shift.
struct alignas(8) NoteCell {
    std::int16_t note = kAbsent;  // module note 1..96
    std::int16_t instrument = kAbsent;
    std::int16_t volume = kAbsent;
    std::int16_t effect = kAbsent;
    std::int16_t param = kAbsent;
    // Pitch change, in slide units, that the cell's portamento makes during the
    // row; added to the channel's pitchOffset when the row is packed.
    std::int16_t slide = 0;
    // The field flags (kCellNote ...) of the fields that are not kAbsent.
    std::uint8_t present = 0;

    // Notes (1..96), instrument numbers (1 on) and volume-column bytes
    // (0x10 on) are never kAbsent, nor are effect numbers; a parameter may be.
    void setNote(std::int32_t value) { set(note, value, kCellNote); }
    void setInstrument(std::int32_t value) { set(instrument, value, kCellInstrument); }
    void setVolume(std::int32_t value) { set(volume, value, kCellVolume); }
    void setEffect(std::int32_t number, std::int32_t parameter) {
        set(effect, number, kCellEffect);
        param = static_cast<std::int16_t>(parameter);
        present = static_cast<std::uint8_t>(param != kAbsent ? present | kCellParam
                                                             : present & ~kCellParam);
    }
    void clearEffect() {
        effect = param = kAbsent;
        present = static_cast<std::uint8_t>(present & ~(kCellEffect | kCellParam));
    }

  private:
    void set(std::int16_t& field, std::int32_t value, CellFlag flag) {
        field = static_cast<std::int16_t>(value);
        present = static_cast<std::uint8_t>(present | flag);
    }
};

enum class ChannelState : std::int16_t {
    Free = 0,
    Playing = 1,
    Releasing = -1,
    CutThisRow = -2,
    KeyOffPending = -3,
};

struct ModuleChannel {
    // Melodic: the key (data1 - transpose); percussion: the drum note.
    std::int16_t note = -1;
    // What note-offs and repeated notes of its MIDI channel find the channel
    // by: the note start's data1, or for percussion its instrument (a drum
    // note is the instrument's, so the key's map entry names it). The
    // instrument (and so its transpose) stays while the note sounds, so a
    // melodic key matches `note` exactly when its data1 matches this.
    std::int16_t key = -1;
    std::int16_t instrument = -1;
    std::int16_t velocity = 64;    // note-on velocity halved; -1 after a cut
    std::int16_t pitchOffset = 0;  // slide units already applied to the note
    std::int16_t panning = 128;
    std::uint32_t startTime = 0;  // MIDI tick of the note start
    // The builder's clock at the note start, its note-off or its key-off:
    // NoteContext::age gives the module ticks since then.
    std::uint32_t ageStart = 0;
    ChannelState state = ChannelState::Free;
    std::int16_t midiChannel = -1;
    // Both hold signed 32-bit results but are compared unsigned.
    std::uint32_t releaseTicks = 0;  // key-off to cut
    std::uint32_t keyOffDelay = 0;   // note-off to key-off
    std::uint32_t everUsed = 0;      // never cleared: counts towards channelCount
    std::int16_t vibratoSpeedSent = -1;
    std::int16_t vibratoDepth = 0;
};

struct MidiChannelState {
    std::uint8_t program = 0;
    std::uint8_t volume = 64;    // controller 7 halved
    std::int16_t pitchBend = 0;  // centred: value - 8192
    std::int16_t pan = 64;
    std::int16_t sustain = 0;  // 16 while the pedal is held
    std::int16_t vibratoSpeed = 7;
    std::int16_t vibratoDepth = 0;
    // Pitch-bend value per slide unit: 8192 / semitones / 15 (at least 1).
    std::int16_t bendDivisor = 273;
    // pitchBend / bendDivisor: the slide units the bend asks for, kept so that
    // the per-row upkeep of every playing channel need not divide.
    std::int16_t bendUnits = 0;
};

// A release scaled at a key-off (see scaledRelease), and what it was scaled
// from: the channel's releaseTicks and its MIDI channel's program.
struct ScaledRelease {
    std::uint32_t ticks = 0;
    std::uint32_t scaled = 0;
    std::int16_t program = -1;  // none yet
};

// The module channel count from the number of channels ever used: at least
// two, and even.
inline std::size_t moduleChannelCount(std::size_t used) {
    return used < 2 ? 2 : used + used % 2;
}

// The module channel count in force from a row on (rows counted over the
// whole piece, kRowsPerPattern to a pattern).
struct WidthChange {
    std::uint32_t row = 0;
    std::size_t width = 0;
};

// A cell written beyond the channel count in force when its row was packed
// (only cells of channels not yet used, such as the first row's volumes).
struct StrayCell {
    std::uint32_t row = 0;
    std::size_t channel = 0;
    std::array<std::uint8_t, kPackedCellMax> bytes{};
    std::size_t length = 0;
};

// The channels a note start may steal, in the order of their releaseEnd and
// then their number, so that a steal need not compare every channel (see
// stealChannel). A channel whose releaseEnd or state changed since the order
// was made is marked in `changed`; its entry, if any, no longer counts.
struct StealOrder {
    static constexpr unsigned kChannelBits = 5;  // keys: releaseEnd << 5 | channel
    static constexpr std::uint64_t kChannelMask = (1u << kChannelBits) - 1;
    std::array<std::uint64_t, kMaxModuleChannels> keys{};  // ascending
    std::size_t head = 0;  // the entries before it are all of changed channels
    std::size_t size = 0;
    std::uint32_t changed = ~0u;
};

// Everything the builder works on while it runs; lives only during
// buildNoteData (tests build one directly).
struct NoteContext {
    NoteContext(RunState& runState, FileState& fileState, std::size_t channelCount,
                Console& console);

    RunState& run;
    FileState& file;
    // The channel count the builder allocates to (cells.size() and
    // channels.size()), and the mask of those channels: at hand for the
    // checks of every write.
    const std::size_t channelCount;
    const std::uint32_t allChannels;
    // file.instruments.size(), which stays while the builder runs.
    const std::size_t instrumentCount;
    // Cells are written through cell(), which marks them, so that packing a
    // row visits only the cells written in it. Reading cells[] directly is fine.
    std::vector<NoteCell> cells;
    std::vector<ModuleChannel> channels;
    std::uint32_t writtenCells = 0;  // bit c: cells[c] was written in this row
    // Bit c: cells[c].slide was set in this row (it may be 0 again).
    std::uint32_t slidingCells = 0;
    // Bit c: channels[c] may be sounding. Set when a written cell's channel is
    // not free (a channel only leaves Free through a note start, which writes
    // its cell), cleared when the channel upkeep frees it.
    std::uint32_t liveChannels = 0;
    // Bit c: channels[c] is free. Note starts take the lowest one.
    std::uint32_t freeChannels = 0;
    // Bit c: channels[c] is playing (its note not yet released).
    std::uint32_t playingChannels = 0;
    // Bit c: channels[c] is releasing (its key-off written, its cut not).
    // No releasing channel's cut falls due while the clock is below
    // nextCut (the clock never wraps: a piece has at most 65536 rows of a
    // few module ticks), so the upkeep passes them over until then.
    std::uint32_t releasingChannels = 0;
    std::uint64_t nextCut = 0;
    // Bit c of entry m: channels[c] plays for MIDI channel m. Such a channel
    // is never free: resetChannel unbinds it.
    std::array<std::uint32_t, kMidiChannels> onMidi{};
    // Bit c of entry [m][k]: channels[c] plays for MIDI channel m and has key
    // k (ModuleChannel::key of a bound channel is a note number or an
    // instrument number, 0..255), so that note-offs and repeated notes find
    // their channels without comparing the keys of every bound one.
    std::array<std::array<std::uint32_t, kMatchKeys>, kMidiChannels> onKey{};
    // Bit c: the per-row upkeep of channels[c], while it plays, may have
    // something to write. Set wherever a value the upkeep compares changes
    // and may differ from what the channel has (note start, the vibrato,
    // bend-range and pan controllers, a bend its slide does not reach, a
    // slide dropped, an overwritten vibrato speed); cleared by the upkeep
    // once nothing is left to do.
    std::uint32_t upkeepChannels = 0;
    // Module ticks since the first row. Every channel that is not free ages
    // by the same ticks at each row start, so its age is the clock minus
    // the clock at its last restart.
    std::uint32_t clock = 0;
    // Entry c: channels[c].releaseTicks + ageStart, so that the release a
    // channel has left is releaseEnd[c] - clock. Kept apart from the channel
    // records, where a channel steal compares them all.
    std::array<std::uint32_t, kMaxModuleChannels> releaseEnd{};
    StealOrder stealOrder;
    std::array<MidiChannelState, kMidiChannels> midi{};
    // Per MIDI channel: the last release its key-offs scaled.
    std::array<ScaledRelease, kMidiChannels> lastRelease{};
    // Bit c: channels[c].everUsed. The module's channel count follows from it.
    std::uint32_t usedChannels = 0;
    // Rows are packed at the channel count known when they are packed (see
    // packRow). Where the count grew later, finishPatterns widens the rows
    // packed before, with the cells that were beyond the count then.
    std::vector<WidthChange> widthChanges;
    std::vector<StrayCell> strayCells;
    // The channel count rows are packed at now, and the usedChannels it was
    // counted from.
    std::size_t rowWidth = 0;
    std::uint32_t widthFor = ~0u;
    // The rows of the pattern being built, in module layout: room for every
    // row at the most channels; patternSize bytes are written.
    std::vector<std::uint8_t> patternBytes;
    std::size_t patternSize = 0;
    // Entry (instrument number - 1) * kModuleNoteCount + n, n the base note
    // less one, clamped to 0..95: the module note 1..96 the instrument plays
    // for it, 0 until worked out.
    std::vector<std::uint8_t> moduleNotes;
    // The first MIDI tick of the row whose events are applied, and entry o:
    // the module tick a note starts on o MIDI ticks into a row (for rows up
    // to kStartTickRows MIDI ticks; longer ones divide).
    std::uint64_t rowStart = 0;
    std::vector<std::uint16_t> startTicks;
    // With tweakVolume: the set-volume bytes kVolumeSet..kVolumeFull on the
    // exponential curve (tweakedVolume), worked out once.
    std::array<std::int16_t, kVolumeFull - kVolumeSet + 1> volumeCurve{};
    // Settings and timing, read once.
    std::int32_t speed;
    std::uint32_t percussionChannel;
    bool tweakVolume;
    bool dirtyEnd;
    bool noPan;

    // Binds channels[c] to a MIDI channel 0..15 with the key its note-offs
    // find it by.
    void bindMidi(std::size_t c, std::uint8_t midiChannel, std::uint8_t key) {
        channels[c].midiChannel = midiChannel;
        channels[c].key = key;
        onMidi[midiChannel] |= 1u << c;
        onKey[midiChannel][key] |= 1u << c;
    }
    void markUsed(std::size_t c) {
        channels[c].everUsed = 1;
        usedChannels |= 1u << c;
    }
    // A volume-column byte as written: set-volume bytes on the curve when
    // tweakVolume is set.
    std::int16_t curvedVolume(std::int32_t volume) const {
        if (tweakVolume && volume >= kVolumeSet && volume <= kVolumeFull)
            return volumeCurve[static_cast<std::size_t>(volume - kVolumeSet)];
        return static_cast<std::int16_t>(volume);
    }
    std::uint32_t age(std::size_t c) const { return clock - channels[c].ageStart; }
    // Lets the upkeep know of releasing channels[c]: its cut falls due once
    // its age reaches releaseTicks.
    void noteCutAt(std::size_t c) {
        nextCut = std::min(nextCut, std::uint64_t{channels[c].ageStart} + channels[c].releaseTicks);
    }
    // Restarts the age of channels[c], once its releaseTicks are set. Every
    // change of a channel's state passes here (but Free after a cut, which
    // no steal sees), so the steal order learns of it here too.
    void restartAge(std::size_t c) {
        channels[c].ageStart = clock;
        releaseEnd[c] = channels[c].releaseTicks + clock;
        stealOrder.changed |= 1u << c;
    }
    // Sets the slide of cells[c], a cell written in this row.
    void setSlide(std::size_t c, std::int32_t slide) {
        slidingCells |= 1u << c;
        cells[c].slide = static_cast<std::int16_t>(slide);
    }
    NoteCell& cell(std::size_t c) {
        writtenCells |= 1u << c;
        return cells[c];
    }
    bool isPercussion(std::int32_t midiChannel) const {
        return midiChannel >= 0 && static_cast<std::uint32_t>(midiChannel) == percussionChannel;
    }
    // The MIDI state a module channel belongs to, or nullptr when it has none.
    MidiChannelState* midiOf(const ModuleChannel& channel) {
        if (channel.midiChannel < 0 ||
            channel.midiChannel >= static_cast<std::int16_t>(kMidiChannels))
            return nullptr;
        return &midi[static_cast<std::size_t>(channel.midiChannel)];
    }
    const MidiChannelState* midiOf(const ModuleChannel& channel) const {
        return const_cast<NoteContext*>(this)->midiOf(channel);
    }
    // Instrument record of a module instrument number, or nullptr when the
    // number names no loaded instrument. Inline: every note start and
    // note-off asks for it.
    InstrumentRecord* instrument(std::int32_t number) {
        if (number < 1 || static_cast<std::size_t>(number) > instrumentCount) return nullptr;
        return &file.instruments[static_cast<std::size_t>(number - 1)];
    }
    const InstrumentRecord* instrument(std::int32_t number) const {
        return const_cast<NoteContext*>(this)->instrument(number);
    }
};

// A set-volume byte (kVolumeSet..kVolumeFull) on the tweakVolume curve.
std::int16_t tweakedVolume(std::int32_t volume);

// Puts channels[c] back to its idle values with the given state, bound to no
// MIDI channel; everUsed and vibratoSpeedSent are kept.
// Inline: every note start calls it.
inline void resetChannel(NoteContext& ctx, std::size_t c, ChannelState state) {
    ModuleChannel& channel = ctx.channels[c];
    if (MidiChannelState* midi = ctx.midiOf(channel)) {
        const auto m = static_cast<std::size_t>(midi - ctx.midi.data());
        ctx.onMidi[m] &= ~(1u << c);
        ctx.onKey[m][static_cast<std::uint8_t>(channel.key)] &= ~(1u << c);
    }
    const std::uint32_t bit = 1u << c;
    ctx.freeChannels =
        state == ChannelState::Free ? ctx.freeChannels | bit : ctx.freeChannels & ~bit;
    ctx.playingChannels =
        state == ChannelState::Playing ? ctx.playingChannels | bit : ctx.playingChannels & ~bit;
    ctx.releasingChannels &= ~bit;
    channel.note = -1;
    channel.key = -1;
    channel.instrument = -1;
    channel.velocity = -1;
    channel.midiChannel = -1;
    channel.panning = 128;
    channel.vibratoDepth = 0;
    channel.keyOffDelay = 0;
    channel.releaseTicks = 0;
    ctx.restartAge(c);
    channel.startTime = 0;
    channel.pitchOffset = 0;
    channel.state = state;
}

// Per-row upkeep of the channels that are not free: ageing, key-off and cut,
// vibrato, continued pitch bends and panning.
void updateChannels(NoteContext& ctx);

// Appends the row to ctx.patternBytes in module layout at the current channel
// count: a packed cell per channel, empty ones as a single flag byte. `row`
// counts rows over the whole piece. Applies the cells' slides and empties
// them.
void packRow(NoteContext& ctx, std::uint32_t row);

// Once every row is packed: widens the rows packed at a smaller channel count
// than `channelCount` and sets each pattern's packedSize. `lastPattern` is
// the index of the last pattern built.
void finishPatterns(NoteContext& ctx, std::size_t channelCount, std::uint32_t lastPattern,
                    Console& out);

// MIDI event translators.
void translateNoteOn(NoteContext& ctx, const MidiEvent& event);
void translateNoteOff(NoteContext& ctx, const MidiEvent& event);
void translateController(NoteContext& ctx, const MidiEvent& event);
void translatePitchBend(NoteContext& ctx, const MidiEvent& event);
// The same with the two data bytes of a pitch-bend message given directly.
void translatePitchBend(NoteContext& ctx, std::size_t midiChannel, std::uint8_t low,
                        std::uint8_t high);
void translateTempo(NoteContext& ctx, const MidiEvent& event);

// Effect and volume-column arbitration (effectPriority and effectClass are
// in score/EffectClass.h).
// Places an effect after the arbitration: a global effect finds its channel,
// a weaker effect never replaces a stronger one.
bool arbitrateEffect(NoteContext& ctx, std::int32_t midiChannel, std::size_t channel,
                     std::int32_t effect, std::int32_t param);
// The same; inline for the common case of an effect for its own channel
// landing in an empty slot, which has nothing to weigh.
inline bool placeEffect(NoteContext& ctx, std::int32_t midiChannel, std::size_t channel,
                        std::int32_t effect, std::int32_t param) {
    if (channel < ctx.channelCount && ctx.cells[channel].effect == kAbsent &&
        effectClass(effect, param) == kClassChannel) {
        NoteCell& cell = ctx.cell(channel);
        cell.setEffect(effect, param);
        ctx.markUsed(channel);
        return true;
    }
    return arbitrateEffect(ctx, midiChannel, channel, effect, param);
}
bool putEffect(NoteContext& ctx, std::size_t channel, std::int32_t effect, std::int32_t param);
// Empties the effect slot of cells[channel]. A slide dropped there no longer
// moves the pitch in this row, so the upkeep takes up the bend it was for.
// Inline: a note start clears the key-off or cut left in its cell.
inline void clearEffect(NoteContext& ctx, std::size_t channel) {
    if (channel >= ctx.channelCount) return;
    NoteCell& cell = ctx.cells[channel];
    if (cell.effect == kAbsent) return;
    if (isSlide(cell.effect, cell.param)) {
        cell.slide = 0;
        ctx.upkeepChannels |= 1u << channel;
    }
    cell.clearEffect();
}
// Writes a volume-column byte unless the byte there wins over it; returns
// whether it was written.
bool mergeVolume(NoteContext& ctx, std::int32_t volume, std::size_t channel);
// The same; inline for the common case of an empty column, which takes any
// byte.
inline bool putVolume(NoteContext& ctx, std::int32_t volume, std::size_t channel) {
    if (channel < ctx.channelCount && ctx.cells[channel].volume == kAbsent) {
        ctx.cell(channel).setVolume(ctx.curvedVolume(volume));
        return true;
    }
    return mergeVolume(ctx, volume, channel);
}

}  // namespace korvalin
