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
    double seconds = 0;    // duration as libopenmpt computes it
    double peak = 0;       // largest absolute sample of a mono rendering (0 when not rendered)
    std::string mismatch;  // empty when both players agree with the header
};

// Loads `module` in both players and compares patterns, channels,
// instruments and order length with the header fields. With render set, also
// renders the whole module to mono audio at 22050 Hz and records its peak.
PlayerReport checkInPlayers(const std::vector<std::uint8_t>& module, bool render = false);

}  // namespace korvalin::test
