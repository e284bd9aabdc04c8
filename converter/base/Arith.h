// Integer arithmetic whose wrap-around the output depends on.
#pragma once

#include <cstdint>

namespace korvalin {

// Signed 32-bit product with two's complement wrap-around.
inline std::int32_t mul32(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

}  // namespace korvalin
