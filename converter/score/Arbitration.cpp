// Decides what ends up in a cell's single effect slot and volume column when
// several writers want them in the same row. Effects carry a fixed priority
// (a weaker one never replaces a stronger one); global effects such as the
// BPM change may go on any channel and are moved aside rather than lost.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "score/EffectClass.h"
#include "score/NoteData.h"

namespace korvalin {
namespace {

// Same effect number and, for the extended effect, the same sub-command.
bool sameKind(std::int32_t effectA, std::int32_t paramA, std::int32_t effectB,
              std::int32_t paramB) {
    if (effectA != effectB) return false;
    return effectA != kEffectExtended || subCommand(paramA) == subCommand(paramB);
}

std::int32_t cellPriority(const NoteCell& cell) {
    return effectPriority(cell.effect, cell.param);
}

// Channel whose cell effect is weakest (empty slots first), lowest number on
// ties; `skip` is left out of the search (pass channels.size() to skip none).
std::size_t weakestChannel(const NoteContext& ctx, std::size_t skip) {
    std::size_t best = ctx.cells.size();
    std::int32_t bestPriority = 0;
    for (std::size_t k = 0; k < ctx.cells.size(); ++k) {
        if (k == skip) continue;
        const std::int32_t priority = cellPriority(ctx.cells[k]);
        if (best == ctx.cells.size() || priority < bestPriority) {
            best = k;
            bestPriority = priority;
        }
    }
    return best;
}

// Channel for a global effect: one already holding the same kind, else an
// empty slot, else the weakest effect.
std::size_t globalChannel(const NoteContext& ctx, std::int32_t effect, std::int32_t param) {
    for (std::size_t k = 0; k < ctx.cells.size(); ++k) {
        const NoteCell& cell = ctx.cells[k];
        if (cell.effect != kAbsent && sameKind(cell.effect, cell.param, effect, param)) return k;
    }
    for (std::size_t k = 0; k < ctx.cells.size(); ++k)
        if (ctx.cells[k].effect == kAbsent) return k;
    return weakestChannel(ctx, ctx.cells.size());
}

}  // namespace

bool arbitrateEffect(NoteContext& ctx, std::int32_t midiChannel, std::size_t channel,
                     std::int32_t effect, std::int32_t param) {
    if (channel >= ctx.cells.size()) return false;
    switch (effectClass(effect, param)) {
        case kClassGlobal:
            channel = globalChannel(ctx, effect, param);
            break;
        case kClassMidiChannel:
            for (std::size_t k = 0; k < ctx.channels.size(); ++k) {
                if (ctx.channels[k].midiChannel == midiChannel) {
                    channel = k;
                    break;
                }
            }
            break;
        case kClassChannel:
            break;
        default:
            return false;  // effects the converter never places
    }
    return putEffect(ctx, channel, effect, param);
}

bool putEffect(NoteContext& ctx, std::size_t channel, std::int32_t effect, std::int32_t param) {
    if (channel >= ctx.channelCount) return false;
    NoteCell& cell = ctx.cell(channel);
    if (cell.effect == kAbsent) {
        // The common case: an empty slot takes any effect, and there is
        // neither a global effect to move aside nor a slide to drop.
        cell.setEffect(effect, param);
        ctx.markUsed(channel);
        return true;
    }

    // A global effect of the same kind is in the way: move it to the channel
    // with the weakest effect instead of losing it.
    if (effectClass(cell.effect, cell.param) == kClassGlobal &&
        sameKind(cell.effect, cell.param, effect, param)) {
        const std::size_t k = weakestChannel(ctx, channel);
        if (k < ctx.cells.size() && cellPriority(cell) >= cellPriority(ctx.cells[k])) {
            clearEffect(ctx, k);
            ctx.cell(k).setEffect(cell.effect, cell.param);
            ctx.markUsed(k);
            clearEffect(ctx, channel);
        }
    }

    if (cellPriority(cell) > effectPriority(effect, param)) return false;

    // Replacing an effect of another number (or another sub-command) drops
    // the slide that the old one would have made.
    const bool keep = effect != kEffectExtended ? cell.effect == effect
                                                : subCommand(cell.param) == subCommand(param);
    if (!keep) clearEffect(ctx, channel);
    cell.setEffect(effect, param);
    ctx.markUsed(channel);
    return true;
}

bool mergeVolume(NoteContext& ctx, std::int32_t volume, std::size_t channel) {
    if (channel >= ctx.channelCount) return false;
    NoteCell& cell = ctx.cell(channel);
    const std::int32_t incoming = volume & 0xF0;
    const std::int32_t present = cell.volume == kAbsent ? 0xF0 : cell.volume & 0xF0;
    // A set-volume byte beats any command; of two commands the lower one wins.
    if (cell.volume != kAbsent && (incoming >= 0x60 || present >= 0x60) && incoming > present)
        return false;
    // The vibrato speed is being overwritten: send it again on a later row.
    if (present == kVolumeVibratoSpeed) {
        ctx.channels[channel].vibratoSpeedSent = -1;
        ctx.upkeepChannels |= 1u << channel;
    }
    cell.setVolume(ctx.curvedVolume(volume));
    return true;
}

std::int16_t tweakedVolume(std::int32_t volume) {
    // Exponential curve that keeps 0x10 and bends the range towards quiet;
    // double precision keeps 0x50 at 0x4F.
    const double curved = std::exp((volume - 16) * 0.065224801) + 15.0;
    return static_cast<std::int16_t>(curved);
}

}  // namespace korvalin
