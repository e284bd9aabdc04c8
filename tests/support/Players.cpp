#include "Players.h"

#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include <algorithm>
#include <cmath>

namespace korvalin::test {
namespace {

unsigned headerU16(const std::vector<std::uint8_t>& m, std::size_t offset) {
    return m.size() < offset + 2 ? 0u : unsigned(m[offset]) | unsigned(m[offset + 1]) << 8;
}

void compare(std::string& mismatch, const char* player, const char* what, long got, long want) {
    if (got == want) return;
    mismatch += std::string(player) + " " + what + " " + std::to_string(got) + ", header " +
                std::to_string(want) + "; ";
}

}  // namespace

PlayerReport checkInPlayers(const std::vector<std::uint8_t>& module, bool render) {
    PlayerReport report;
    const long songLength = headerU16(module, 64);
    const long channels = headerU16(module, 68);
    const long patterns = headerU16(module, 70);
    const long instruments = headerU16(module, 72);

    if (openmpt_module* mod =
            openmpt_module_create_from_memory2(module.data(), module.size(), nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr)) {
        report.openmptLoaded = true;
        compare(report.mismatch, "libopenmpt", "patterns", openmpt_module_get_num_patterns(mod),
                patterns);
        compare(report.mismatch, "libopenmpt", "channels", openmpt_module_get_num_channels(mod),
                channels);
        compare(report.mismatch, "libopenmpt", "instruments",
                openmpt_module_get_num_instruments(mod), instruments);
        compare(report.mismatch, "libopenmpt", "orders", openmpt_module_get_num_orders(mod),
                songLength);
        report.seconds = openmpt_module_get_duration_seconds(mod);
        if (render) {
            std::vector<float> buffer(4096);
            for (;;) {
                const std::size_t n =
                    openmpt_module_read_float_mono(mod, 22050, buffer.size(), buffer.data());
                if (n == 0) break;
                for (std::size_t i = 0; i < n; ++i)
                    report.peak = std::max(report.peak, double(std::fabs(buffer[i])));
            }
        }
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
        const long xmpPatterns = info.mod->pat == patterns + 1 ? patterns : info.mod->pat;
        compare(report.mismatch, "libxmp", "patterns", xmpPatterns, patterns);
        compare(report.mismatch, "libxmp", "channels", info.mod->chn, channels);
        compare(report.mismatch, "libxmp", "instruments", info.mod->ins, instruments);
        compare(report.mismatch, "libxmp", "orders", info.mod->len, songLength);
        xmp_release_module(ctx);
    } else {
        report.mismatch += "libxmp cannot load it; ";
    }
    xmp_free_context(ctx);
    return report;
}

}  // namespace korvalin::test
