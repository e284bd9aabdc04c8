#pragma once

#include <cstdint>

namespace korvalin {

inline constexpr std::uint32_t kNone32 = 0xFFFFFFFFu;  // "all bits set": no value yet

struct ScoreTiming {
    std::uint32_t ticksPerRow = 0;
    std::uint32_t fastestTempo = kNone32;
    std::uint32_t speed = 0;
    std::uint32_t bpm = 0;
};

}  // namespace korvalin
