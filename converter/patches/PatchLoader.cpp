// Placeholder: replaced by the real stage.
#include "patches/Patches.h"

namespace korvalin {
const std::array<std::uint32_t, 108> noteFrequencyTable{};
Status initPatches(RunState&, FileState&, Console&) { return Status::Ok; }
}  // namespace korvalin
