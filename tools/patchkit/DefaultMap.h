// The default patch map: the map index and patch file name of each of its
// lines, programs 0-127 and percussion keys 27-87 (index 128 + key), in file
// order, read from the map's own bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvalin::patchkit {

struct DefaultMapEntry {
    std::uint16_t index;
    std::string name;
};

// The default map exactly as written (189 lines, CR LF line ends).
std::string_view defaultMapBytes();
// Its entries, parsed once.
const std::vector<DefaultMapEntry>& defaultMap();

}  // namespace korvalin::patchkit
