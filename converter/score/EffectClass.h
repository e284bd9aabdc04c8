// Where the arbitration may put an effect (the value of effectClass) and how
// strongly it holds its slot (effectPriority), as two small tables: both are
// asked several times for every effect written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvalin {

enum EffectClass : std::int32_t {
    kClassNone = 0,         // never placed by the converter
    kClassGlobal = 1,       // acts on the whole module: any channel will do
    kClassMidiChannel = 2,  // the first module channel of its MIDI channel
    kClassChannel = 3,      // the channel it is meant for
};

// The class and the priority of one effect (or extended sub-command).
struct EffectRank {
    EffectClass placement = kClassNone;
    std::int32_t priority = 0;  // a weaker effect never replaces a stronger one
};

namespace effect_tables {

inline constexpr std::int32_t kNoField = -1;  // kAbsent: an empty slot
inline constexpr std::int32_t kEmptyPriority = -1;
inline constexpr std::int32_t kHighestEffect = 0x23;
inline constexpr std::int32_t kExtended = 0x0E;
inline constexpr std::int32_t kPortaUp = 0x01;
inline constexpr std::int32_t kPortaDown = 0x02;
inline constexpr std::int32_t kSubFinePortaUp = 0x1;  // sub-commands of kExtended
inline constexpr std::int32_t kSubFinePortaDown = 0x2;

// Short names for the tables: none, global, MIDI channel, own channel.
inline constexpr EffectClass N = kClassNone, G = kClassGlobal, M = kClassMidiChannel,
                             C = kClassChannel;

// Effect numbers 0x00 to 0x23 (0x0E is looked up by its sub-command).
inline constexpr EffectClass kEffectClass[kHighestEffect + 1] = {
    G, C, C, M, M, M, M, M, C, C, M, M, M, C, N, G,  // 0x00-0x0F
    G, G, N, N, C, C, N, N, N, M, N, C, N, M, N, N,  // 0x10-0x1F
    N, M, N, N,                                      // 0x20-0x23
};
// Sub-commands 0x0 to 0xF of the extended effect.
inline constexpr EffectClass kExtendedClass[16] = {N, C, C, M, M, M, C, M, N, C, M, M, C, C, G, N};

// Portamentos and fine portamentos 513, panning 625, key off 750, note cut
// 875, note delay 250, BPM 999; everything else 0.
inline constexpr auto kEffectRank = [] {
    std::array<EffectRank, kHighestEffect + 1> rank{};
    for (std::size_t e = 0; e < rank.size(); ++e) rank[e].placement = kEffectClass[e];
    rank[0x01].priority = rank[0x02].priority = 513;
    rank[0x08].priority = 625;
    rank[0x0F].priority = 999;
    rank[0x14].priority = 750;
    return rank;
}();
inline constexpr auto kExtendedRank = [] {
    std::array<EffectRank, 16> rank{};
    for (std::size_t s = 0; s < rank.size(); ++s) rank[s].placement = kExtendedClass[s];
    rank[0x1].priority = rank[0x2].priority = 513;
    rank[0xC].priority = 875;
    rank[0xD].priority = 250;
    return rank;
}();

}  // namespace effect_tables

// An empty slot (no effect, or the extended effect without its parameter)
// ranks below every effect; numbers the tables do not know are never placed.
inline EffectRank effectRank(std::int32_t effect, std::int32_t param) {
    using namespace effect_tables;
    constexpr EffectRank kEmpty{kClassNone, kEmptyPriority};
    if (effect == kNoField) return kEmpty;
    if (effect < 0 || effect > kHighestEffect) return EffectRank{};
    if (effect != kExtended) return kEffectRank[static_cast<std::size_t>(effect)];
    if (param == kNoField) return kEmpty;
    return kExtendedRank[static_cast<std::size_t>((param >> 4) & 0x0F)];
}

// The sub-command of an extended effect's parameter.
inline std::int32_t subCommand(std::int32_t param) {
    return (param >> 4) & 0x0F;
}

// Portamentos and fine portamentos: the effects that move a note's pitch.
inline bool isSlide(std::int32_t effect, std::int32_t param) {
    using namespace effect_tables;
    if (effect == kPortaUp || effect == kPortaDown) return true;
    if (effect != kExtended || param == kNoField) return false;
    const std::int32_t sub = subCommand(param);
    return sub == kSubFinePortaUp || sub == kSubFinePortaDown;
}

inline std::int32_t effectPriority(std::int32_t effect, std::int32_t param) {
    return effectRank(effect, param).priority;
}

inline std::int32_t effectClass(std::int32_t effect, std::int32_t param) {
    return effectRank(effect, param).placement;
}

}  // namespace korvalin
