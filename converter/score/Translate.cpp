// Turns the MIDI events of a row into cell contents: allocates module
// channels to notes (re-using, then stealing), computes module notes and
// volumes, and approximates pitch bends, controllers and tempo changes with
// effects and volume-column commands. Every write goes through the
// arbitration, which may refuse it.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "base/Arith.h"
#include "score/EffectClass.h"
#include "score/NoteData.h"

namespace korvalin {
namespace {

constexpr std::int32_t kBendCentre = 8192;

// Melodic key of a note: the stored note number lowered by the instrument's
// transpose. Kept signed so that a note-off computes the same value as its
// note-on even for keys below the transpose.
std::int16_t melodicKey(std::uint8_t data1, const InstrumentRecord* instrument) {
    const std::int32_t transpose = instrument ? instrument->transpose : 0;
    return static_cast<std::int16_t>(data1 - transpose);
}

std::int32_t clampNote(std::int64_t n) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(n, 0, kModuleNoteCount - 1));
}

// Sample a keymap entry names; an entry naming no sample falls back to sample
// 0, and an instrument without samples gives nullptr.
SampleRecord* keymapSample(InstrumentRecord& instrument, std::int32_t n) {
    if (instrument.samples.empty()) return nullptr;
    const std::int32_t index = instrument.keymap[static_cast<std::size_t>(n)];
    if (index < 0 || static_cast<std::size_t>(index) >= instrument.samples.size())
        return &instrument.samples[0];
    return &instrument.samples[static_cast<std::size_t>(index)];
}

// Module note index 0..95 that a base note (module numbering from 1) plays,
// after the sample's keyboard scaling; marks the sample played.
std::int32_t moduleNoteIndex(InstrumentRecord& instrument, std::int64_t baseNote) {
    std::int32_t n = clampNote(baseNote - 1);
    if (const SampleRecord* sample = keymapSample(instrument, n)) {
        const std::int32_t root = sample->scaleRoot;
        const std::int32_t factor = static_cast<std::int32_t>(sample->scaleFactor);
        // scaleFactor 1024 is one semitone per key around scaleRoot.
        n = clampNote((mul32(n - root, factor) >> 10) + static_cast<std::int64_t>(root));
        if (SampleRecord* played = keymapSample(instrument, n)) played->used = true;
    }
    return n;
}

// Map entry that a note on MIDI channel ch with this key uses, or nullptr for
// a percussion key outside the map.
const PatchMapEntry* noteEntry(const NoteContext& ctx, bool percussion, std::uint8_t ch,
                               std::uint8_t data1) {
    if (percussion) {
        if (data1 >= kPercussionBase) return nullptr;
        return &ctx.run.patchMap[kPercussionBase + data1];
    }
    return &ctx.run.patchMap[ctx.midi[ch].program];
}

// Calls f(c) for every channel bit of `mask`, lowest first.
template <class F>
void forEachChannel(std::uint32_t mask, F f) {
    for (; mask != 0; mask &= mask - 1) f(lowestChannel(mask));
}

// The key a channel of MIDI channel ch is matched by when it sounds this
// note (see ModuleChannel::key): the key itself, or for percussion the
// instrument of the key's map entry.
std::uint8_t matchKey(bool percussion, std::uint8_t data1, std::uint8_t number) {
    return percussion ? number : data1;
}

// The first of the channels in `mask` (not empty) with the least key(channel).
template <class Key>
std::size_t firstLeast(const NoteContext& ctx, std::uint32_t mask, Key key) {
    auto best = lowestChannel(mask);
    std::uint32_t bestKey = key(ctx.channels[best]);
    for (mask &= mask - 1; mask != 0 && bestKey != 0; mask &= mask - 1) {
        const auto k = lowestChannel(mask);
        const std::uint32_t value = key(ctx.channels[k]);
        if (value < bestKey) {
            best = k;
            bestKey = value;
        }
    }
    return best;
}

// Steals with more changed channels than this order the channels anew.
constexpr std::size_t kStealReorder = 8;

// The keys (releaseEnd << 5 | channel) of the channels in `mask`, ascending,
// into `keys`; returns their number. Channels released together share a few
// release ends, so the channels are gathered by release end, the ends
// sorted, and each end's channels given in channel order.
std::size_t sortChanged(const NoteContext& ctx, std::uint32_t mask,
                        std::array<std::uint64_t, kMaxModuleChannels>& keys) {
    std::array<std::uint32_t, kMaxModuleChannels> ends;
    std::array<std::uint32_t, kMaxModuleChannels> members;
    std::size_t count = 0;
    for (; mask != 0; mask &= mask - 1) {
        const std::size_t c = lowestChannel(mask);
        const std::uint32_t end = ctx.releaseEnd[c];
        std::size_t i = 0;
        while (i < count && ends[i] != end) ++i;
        if (i == count) {
            // A new release end, kept in order.
            for (; i > 0 && ends[i - 1] > end; --i) {
                ends[i] = ends[i - 1];
                members[i] = members[i - 1];
            }
            ends[i] = end;
            members[i] = 0;
            ++count;
        }
        members[i] |= 1u << c;
    }
    std::size_t size = 0;
    for (std::size_t i = 0; i < count; ++i)
        for (std::uint32_t m = members[i]; m != 0; m &= m - 1)
            keys[size++] = std::uint64_t{ends[i]} << StealOrder::kChannelBits | lowestChannel(m);
    return size;
}

// Brings the steal order up to date for the channels in `candidates`: the
// entries still valid stay in order, the changed candidates are sorted on
// their own and merged in.
void orderSteals(NoteContext& ctx, std::uint32_t candidates) {
    StealOrder& order = ctx.stealOrder;
    std::array<std::uint64_t, kMaxModuleChannels>& keys = order.keys;
    const std::uint32_t valid = candidates & ~order.changed;
    std::size_t kept = 0;
    for (std::size_t i = order.head; i < order.size; ++i)
        if (valid >> (keys[i] & StealOrder::kChannelMask) & 1) keys[kept++] = keys[i];

    std::array<std::uint64_t, kMaxModuleChannels> fresh;
    const std::size_t added = sortChanged(ctx, candidates & order.changed, fresh);
    // Merged from the back, in place: each channel has one entry, so there
    // is room for them all.
    std::size_t to = kept + added;
    std::size_t left = added;
    order.size = to;
    while (left > 0) {
        if (kept > 0 && keys[kept - 1] > fresh[left - 1])
            keys[--to] = keys[--kept];
        else
            keys[--to] = fresh[--left];
    }
    order.head = 0;
    order.changed = 0;
}

// With every channel taken: the one closest to the end of its release, else
// the oldest playing one (the first of equals in both cases). The note start
// resets it.
std::size_t stealChannel(NoteContext& ctx) {
    const std::uint32_t all = ctx.allChannels;
    const std::uint32_t candidates = all & ~ctx.playingChannels;
    if (candidates == 0)
        return firstLeast(ctx, all, [](const ModuleChannel& c) { return c.startTime; });
    // The release left, releaseTicks - age, is releaseEnd - clock (modulo
    // 2^32, as the channel records compute it). Compared as left << 5 |
    // channel, so that the first of equals wins.
    StealOrder& order = ctx.stealOrder;
    // Mostly none: the steals of a chord after the first find the order
    // made for it.
    std::uint32_t loose = candidates & order.changed;
    if (loose != 0 && countChannels(loose) > kStealReorder) {
        orderSteals(ctx, candidates);
        loose = 0;
    }
    constexpr std::uint64_t kNone = UINT64_MAX;
    const auto keyOf = [&](std::uint32_t end, std::size_t c) {
        return std::uint64_t{end - ctx.clock} << StealOrder::kChannelBits | c;
    };
    // Of the ordered channels: the first whose releaseEnd is not before the
    // clock; the release left of those before it went round, so only when
    // there is no such channel does the first of them win.
    const std::uint32_t valid = candidates & ~order.changed;
    while (order.head < order.size &&
           (order.changed >> (order.keys[order.head] & StealOrder::kChannelMask) & 1))
        ++order.head;
    std::uint64_t best = kNone;
    std::uint64_t wrapped = kNone;
    for (std::size_t i = order.head; i < order.size; ++i) {
        const std::size_t c = order.keys[i] & StealOrder::kChannelMask;
        if (!(valid >> c & 1)) continue;
        const auto end = static_cast<std::uint32_t>(order.keys[i] >> StealOrder::kChannelBits);
        if (end >= ctx.clock) {
            best = keyOf(end, c);
            break;
        }
        if (wrapped == kNone) wrapped = keyOf(end, c);
    }
    best = std::min(best, wrapped);
    // The changed channels, one by one.
    for (; loose != 0; loose &= loose - 1) {
        const std::size_t c = lowestChannel(loose);
        best = std::min(best, keyOf(ctx.releaseEnd[c], c));
    }
    return static_cast<std::size_t>(best & StealOrder::kChannelMask);
}

// Channel for a new note on MIDI channel ch: the first one that still sounds
// the same note (it keeps its channel), else the first free one, else a
// stolen one.
std::size_t noteOnChannel(NoteContext& ctx, std::uint8_t ch, std::uint8_t key) {
    // The channels bound to ch that sound the key, none of them free.
    if (const std::uint32_t same = ctx.onKey[ch][key]) return lowestChannel(same);
    if (ctx.freeChannels != 0) return lowestChannel(ctx.freeChannels);
    return stealChannel(ctx);
}

// Panning a note start or a panning controller writes; noPan alternates the
// channels hard left and right.
void placePanning(NoteContext& ctx, std::size_t c, std::int32_t value) {
    if (placeEffect(ctx, 0, c, kEffectPanning, value))
        ctx.channels[c].panning = static_cast<std::int16_t>(value);
}

std::int32_t fixedPanning(std::size_t c) {
    return c % 2 == 0 ? 1 : 255;
}

// The module note a base note of instrument `number` plays, 1..96, as
// moduleNoteIndex gives it; each instrument's notes are worked out once.
std::int16_t cellNote(NoteContext& ctx, InstrumentRecord& instrument, std::int32_t number,
                      std::int64_t baseNote) {
    const auto n = static_cast<std::size_t>(clampNote(baseNote - 1));
    const std::size_t at = static_cast<std::size_t>(number - 1) * kModuleNoteCount + n;
    // The note depends only on n and the instrument, and its sample is
    // marked played the first time.
    if (at >= ctx.moduleNotes.size())
        return static_cast<std::int16_t>(moduleNoteIndex(instrument, baseNote) + 1);
    if (ctx.moduleNotes[at] == 0)
        ctx.moduleNotes[at] = static_cast<std::uint8_t>(moduleNoteIndex(instrument, baseNote) + 1);
    return ctx.moduleNotes[at];
}

// The module tick inside its row that a note starting at MIDI tick `time`
// starts on: the ticks since the row start scaled to the row's module ticks.
// The walk gives the row start, and the table the tick for each offset into
// a row, so that no note start divides.
std::uint32_t startTick(const NoteContext& ctx, std::uint32_t time) {
    const std::uint32_t ticksPerRow = ctx.file.timing.ticksPerRow;
    if (ticksPerRow == 0) return 0;
    const std::uint64_t sinceRow = time - ctx.rowStart;
    const auto offset =
        sinceRow < ticksPerRow ? static_cast<std::uint32_t>(sinceRow) : time % ticksPerRow;
    if (offset < ctx.startTicks.size()) return ctx.startTicks[offset];
    return (offset * static_cast<std::uint32_t>(ctx.speed)) / ticksPerRow;
}

// translateNoteOn for a sound with an instrument: allocates its channel and
// writes the note start. Out of line, so that notes without a patch are
// passed over in a few instructions.
[[gnu::noinline]] void startNote(NoteContext& ctx, const MidiEvent& event, bool percussion,
                                 std::int32_t number, InstrumentRecord* instrument) {
    const std::uint8_t ch = event.channel();
    const std::uint8_t key = matchKey(percussion, event.data1, static_cast<std::uint8_t>(number));
    const std::size_t c = noteOnChannel(ctx, ch, key);

    // A per-note effect left in the cell belongs to the previous note; global
    // effects stay.
    NoteCell& cell = ctx.cell(c);
    if (cell.effect != kAbsent && effectClass(cell.effect, cell.param) != kClassGlobal)
        clearEffect(ctx, c);

    ModuleChannel& channel = ctx.channels[c];
    resetChannel(ctx, c, ChannelState::Playing);  // its age starts again
    ctx.markUsed(c);
    ctx.bindMidi(c, ch, key);
    channel.startTime = event.time;
    channel.instrument = static_cast<std::int16_t>(number);
    cell.setInstrument(number);

    const std::int64_t baseNote = percussion ? static_cast<std::int64_t>(instrument->drumNote)
                                             : melodicKey(event.data1, instrument);
    channel.note = static_cast<std::int16_t>(baseNote);
    cell.setNote(cellNote(ctx, *instrument, number, baseNote));

    const MidiChannelState& midi = ctx.midi[ch];
    channel.velocity = static_cast<std::int16_t>(event.data2 / 2);
    putVolume(ctx, kVolumeSet + (midi.volume * channel.velocity) / 64, c);

    const std::uint32_t tick = startTick(ctx, event.time);
    if (tick != 0) placeEffect(ctx, 0, c, kEffectExtended, kExtNoteDelay + (tick & 0x0F));

    if (midi.pitchBend != 0) {
        const std::int32_t stored = midi.pitchBend;
        translatePitchBend(ctx, ch, static_cast<std::uint8_t>(stored & 0x7F),
                           static_cast<std::uint8_t>((stored + kBendCentre) >> 7));
    }

    const std::int32_t panning = ctx.noPan ? fixedPanning(c) : 2 * midi.pan;
    placePanning(ctx, c, panning);
    // The row upkeep looks at the channel again only when it has something
    // to do (the note start leaves no vibrato depth): the values it compares
    // are at hand here.
    if (midi.vibratoSpeed != channel.vibratoSpeedSent || midi.bendUnits != channel.pitchOffset ||
        channel.panning != panning)
        ctx.upkeepChannels |= 1u << c;
}

}  // namespace

void translateNoteOn(NoteContext& ctx, const MidiEvent& event) {
    const bool percussion = ctx.isPercussion(event.channel());
    const PatchMapEntry* entry = noteEntry(ctx, percussion, event.channel(), event.data1);
    if (!entry || entry->instrument == 0) return;  // no patch for this sound
    const std::int32_t number = entry->instrument;
    InstrumentRecord* instrument = ctx.instrument(number);
    if (!instrument) return;  // numbered beyond the loaded instruments
    startNote(ctx, event, percussion, number, instrument);
}

void translateNoteOff(NoteContext& ctx, const MidiEvent& event) {
    const std::uint8_t ch = event.channel();
    if (ctx.onMidi[ch] == 0) return;  // nothing sounds for ch
    std::uint8_t key = event.data1;   // as matchKey gives it
    if (ctx.isPercussion(ch)) {
        const PatchMapEntry* entry = noteEntry(ctx, true, ch, event.data1);
        if (!entry) return;  // a key outside the map sounds nothing
        key = entry->instrument;
    }
    // The channels bound to ch that sound the key, none of them free; the
    // oldest instance of the note is released first.
    const std::uint32_t same = ctx.onKey[ch][key];
    if (same == 0) return;
    const std::size_t c =
        firstLeast(ctx, same, [](const ModuleChannel& channel) { return channel.startTime; });

    ModuleChannel& channel = ctx.channels[c];
    const InstrumentRecord* instrument = ctx.instrument(channel.instrument);
    const std::int32_t sustain = ctx.midi[ch].sustain;
    auto type = static_cast<std::uint8_t>(
        instrument ? instrument->volumeType & (kEnvelopeOn | kEnvelopeSustain) : 0);
    // An envelope without points has nothing to wait for.
    if (type != 0 && instrument->volumePointCount == 0) type = 0;

    if (type == 0) {
        channel.releaseTicks = 1;
        channel.keyOffDelay = static_cast<std::uint32_t>(sustain);
    } else if (type == kEnvelopeOn) {
        // Key off once the envelope has run out.
        const std::size_t last =
            std::min<std::size_t>(instrument->volumePointCount, instrument->volumeEnvelope.size()) -
            1;
        const std::int64_t left =
            static_cast<std::int64_t>(instrument->volumeEnvelope[last].x) - ctx.age(c);
        channel.keyOffDelay = static_cast<std::uint32_t>(std::max<std::int64_t>(left, 0));
        channel.releaseTicks = 0;
    } else {
        const auto release = static_cast<std::int32_t>(instrument->releaseTime);
        channel.releaseTicks = static_cast<std::uint32_t>(release);
        channel.keyOffDelay = static_cast<std::uint32_t>(mul32(release, sustain));
    }
    channel.state = ChannelState::KeyOffPending;
    ctx.playingChannels &= ~(1u << c);
    ctx.restartAge(c);
}

void translatePitchBend(NoteContext& ctx, const MidiEvent& event) {
    translatePitchBend(ctx, event.channel(), event.data1, event.data2);
}

void translatePitchBend(NoteContext& ctx, std::size_t midiChannel, std::uint8_t low,
                        std::uint8_t high) {
    if (midiChannel >= kMidiChannels) return;
    MidiChannelState& midi = ctx.midi[midiChannel];
    const auto bend = static_cast<std::int16_t>(low + high * 128 - kBendCentre);
    const std::int32_t target = bend / std::max<std::int32_t>(midi.bendDivisor, 1);
    const std::int32_t rowTicks = ctx.speed - 1;  // a portamento skips a row's first tick
    forEachChannel(ctx.onMidi[midiChannel], [&](std::size_t c) {
        ModuleChannel& channel = ctx.channels[c];
        if (channel.state != ChannelState::Playing) return;
        const std::int32_t gap = static_cast<std::int16_t>(target - channel.pitchOffset);
        std::int32_t d = gap;
        std::int32_t slide = 0;  // the slide placed
        if (d == 0) {
            clearEffect(ctx, c);
        } else if ((d <= -16 || d >= 16) && rowTicks > 0) {
            const std::int32_t p = std::clamp(d / rowTicks, -255, 255);
            const bool placed = p < 0 ? placeEffect(ctx, 0, c, kEffectPortaDown, -p)
                                      : placeEffect(ctx, 0, c, kEffectPortaUp, p);
            if (placed) ctx.setSlide(c, slide = p * rowTicks);
        } else {
            // Fine portamento: up to 15 units in one row.
            d = std::clamp(d, -15, 15);
            const std::int32_t param = d < 0 ? kExtFinePortaDown - d : kExtFinePortaUp + d;
            if (placeEffect(ctx, 0, c, kEffectExtended, param)) ctx.setSlide(c, slide = d);
        }
        // The upkeep goes on with a bend the row's slide does not finish (a
        // slide dropped later in the row asks for it in clearEffect).
        if (slide != gap) ctx.upkeepChannels |= 1u << c;
    });
    midi.pitchBend = bend;
    midi.bendUnits = static_cast<std::int16_t>(target);
}

void translateController(NoteContext& ctx, const MidiEvent& event) {
    const std::uint8_t ch = event.channel();
    const std::int32_t value = event.data2;
    MidiChannelState& midi = ctx.midi[ch];
    // The channels bound to ch; none of them is free. The upkeep looks at
    // them again where their vibrato, bend or panning may change.
    const std::uint32_t bound = ctx.onMidi[ch];
    if (event.data1 == kControlModulation || event.data1 == kControlDataEntry ||
        event.data1 == kControlPan)
        ctx.upkeepChannels |= bound;

    switch (event.data1) {
        case kControlModulation: {  // vibrato depth 0..5
            midi.vibratoDepth = static_cast<std::int16_t>(value / 24);
            if (midi.vibratoDepth == 0) break;  // sounding notes keep their vibrato
            forEachChannel(bound, [&](std::size_t c) {
                ctx.channels[c].vibratoDepth = midi.vibratoDepth;
                putVolume(ctx, kVolumeVibratoDepth + midi.vibratoDepth, c);
            });
            break;
        }
        case kControlDataEntry:
            if (ctx.run.rpnNumber == 0 && ctx.run.rpnFlags == 3 && value != 0) {
                // Pitch-bend range in semitones; a range too wide for the slide
                // unit still keeps a divisor of 1.
                const std::int32_t divisor = (8192 / value) / 15;
                midi.bendDivisor = static_cast<std::int16_t>(std::max(divisor, 1));
                midi.bendUnits = static_cast<std::int16_t>(midi.pitchBend / midi.bendDivisor);
            }
            ctx.run.rpnFlags = 0;
            break;
        case kControlVolume:
            midi.volume = static_cast<std::uint8_t>(value / 2);
            forEachChannel(bound, [&](std::size_t c) {
                putVolume(ctx, kVolumeSet + (ctx.channels[c].velocity * midi.volume) / 64, c);
            });
            break;
        case kControlPan:
            if (ctx.noPan) break;
            forEachChannel(bound, [&](std::size_t c) { placePanning(ctx, c, 2 * value); });
            midi.pan = static_cast<std::int16_t>(value);
            break;
        case kControlSustain:
            if (value < 63 && midi.sustain > 0) {
                // Pending key-offs fire at the next row start.
                forEachChannel(bound, [&](std::size_t c) {
                    ModuleChannel& channel = ctx.channels[c];
                    if (static_cast<std::int16_t>(channel.state) < 0) channel.keyOffDelay = 0;
                });
                midi.sustain = 0;
            } else if (value > 64 && midi.sustain == 0) {
                midi.sustain = 16;
            }
            break;
        case kControlRpnLow:  // registered parameter, low 7 bits
            ctx.run.rpnNumber = static_cast<std::uint16_t>((ctx.run.rpnNumber & 0x3F80) + value);
            ctx.run.rpnFlags |= 1;
            break;
        case kControlRpnHigh:  // registered parameter, high 7 bits
            ctx.run.rpnNumber =
                static_cast<std::uint16_t>((ctx.run.rpnNumber & 0x7F) + value * 128);
            ctx.run.rpnFlags |= 2;
            break;
        default:
            break;
    }
}

void translateTempo(NoteContext& ctx, const MidiEvent& event) {
    const std::uint32_t tempo = event.tempo();
    std::int32_t bpm = 255;  // a tempo of 0 is as fast as the format goes
    if (tempo != 0) {
        const auto numerator = static_cast<float>(ctx.file.midi.division * 60000000.0 * ctx.speed);
        const double denominator = ctx.file.timing.ticksPerRow * 24.0 * tempo;
        const auto quotient = static_cast<float>(static_cast<double>(numerator) / denominator);
        if (!(quotient >= 32.0f))
            bpm = 32;
        else if (quotient > 255.0f)
            bpm = 255;
        else
            bpm = static_cast<std::int32_t>(quotient);
    }
    placeEffect(ctx, 0, 0, kEffectSetBpm, bpm);
}

}  // namespace korvalin
