// Splits arbitrary text into option words and applies them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "driver/Options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalin;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ConversionSettings settings;
    NullConsole out;
    parseOptions(splitOptionText(text), settings, out);
    checkSettings(settings, out);
    return 0;
}
