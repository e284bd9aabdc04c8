#include "Players.h"

#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include <array>

namespace korvalin::test {
namespace {

unsigned headerU16(const std::vector<std::uint8_t>& m, std::size_t offset) {
    return m.size() < offset + 2 ? 0u : unsigned(m[offset]) | unsigned(m[offset + 1]) << 8;
}

// Compares what a player counts (patterns, channels, instruments, orders)
// with the header's fields at offsets 70, 68, 72 and 64.
void compare(std::string& mismatch, const char* player, const std::vector<std::uint8_t>& module,
             const std::array<long, 4>& counted) {
    const char* names[] = {"patterns", "channels", "instruments", "orders"};
    const std::size_t offsets[] = {70, 68, 72, 64};
    for (std::size_t i = 0; i < 4; ++i) {
        const long header = headerU16(module, offsets[i]);
        if (counted[i] != header)
            mismatch += std::string(player) + " " + names[i] + " " + std::to_string(counted[i]) +
                        ", header " + std::to_string(header) + "; ";
    }
}

}  // namespace

PlayerReport checkInPlayers(const std::vector<std::uint8_t>& module) {
    PlayerReport report;
    if (openmpt_module* mod =
            openmpt_module_create_from_memory2(module.data(), module.size(), nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr)) {
        report.openmptLoaded = true;
        compare(report.mismatch, "libopenmpt", module,
                {openmpt_module_get_num_patterns(mod), openmpt_module_get_num_channels(mod),
                 openmpt_module_get_num_instruments(mod), openmpt_module_get_num_orders(mod)});
        openmpt_module_destroy(mod);
    } else {
        report.mismatch += "libopenmpt cannot load it; ";
    }

    xmp_context ctx = xmp_create_context();
    if (xmp_load_module_from_memory(ctx, module.data(), static_cast<long>(module.size())) == 0) {
        report.xmpLoaded = true;
        xmp_module_info info{};
        xmp_get_module_info(ctx, &info);
        // libxmp keeps one empty pattern of its own after the module's patterns.
        const long patterns = headerU16(module, 70);
        compare(report.mismatch, "libxmp", module,
                {info.mod->pat == patterns + 1 ? patterns : info.mod->pat, info.mod->chn,
                 info.mod->ins, info.mod->len});
        xmp_release_module(ctx);
    } else {
        report.mismatch += "libxmp cannot load it; ";
    }
    xmp_free_context(ctx);
    return report;
}

}  // namespace korvalin::test
