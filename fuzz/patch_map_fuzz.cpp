// Reads arbitrary text as a patch map.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "driver/PatchMap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalin;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RunState run;
    NullConsole out;
    readPatchMap(text, run.settings.sampleDir, run.patchMap, out);
    return 0;
}
