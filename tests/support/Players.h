// Loads a module with both real players (libopenmpt and libxmp) and checks
// that what they report agrees with the module's own header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvalin::test {

struct PlayerReport {
    bool openmptLoaded = false;
    bool xmpLoaded = false;
    std::string mismatch;  // empty when both players agree with the header
};

// Loads `module` in both players and compares patterns, channels,
// instruments and order length with the header fields.
PlayerReport checkInPlayers(const std::vector<std::uint8_t>& module);

}  // namespace korvalin::test
