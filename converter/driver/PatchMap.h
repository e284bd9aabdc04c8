// The patch map patch.cfg: which GF1 patch, and which instrument inside it,
// stands for each General MIDI program (index 0..127) and percussion key
// (index 128 + key).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

// Fills the map from the text of patch.cfg. Each line holds an index, a patch
// file name (relative to sampleDir), the instrument inside the patch and the
// release factor in thousandths; anything after the fourth field is ignored.
// Lines that do not begin with a number are skipped silently; a line with an
// index above 255 or with fields missing is skipped with a warning naming its
// line number. A later line for the same index replaces the earlier one.
// Every entry that no line names is left without a path.
void readPatchMap(std::string_view text, const std::string& sampleDir,
                  std::array<PatchMapEntry, kPatchMapSize>& patchMap, Console& out);

}  // namespace korvalin
