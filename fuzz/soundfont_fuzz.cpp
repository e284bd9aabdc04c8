// Reads arbitrary bytes as a SoundFont bank and makes a patch of every preset
// it lists, over all keys and for one key, as the patch kit does.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SoundFontKit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalin::patchkit;
    SoundFont font;
    std::string error;
    if (!parseSoundFont(data, size, font, error)) return 0;
    std::vector<std::uint8_t> patch;
    DropCounts dropped;
    for (std::size_t i = 0; i + 1 < font.presets.size(); ++i) {
        buildPresetPatch(font, static_cast<int>(i), 0, 127, patch, dropped, error);
        buildPresetPatch(font, static_cast<int>(i), 36, 36, patch, dropped, error);
    }
    return 0;
}
