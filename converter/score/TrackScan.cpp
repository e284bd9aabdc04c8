// Placeholder: replaced by the real stage.
#include "score/Score.h"

namespace korvalin {
Status scanTracks(RunState&, FileState&, Console&) { return Status::Ok; }
}  // namespace korvalin
