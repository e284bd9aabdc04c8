// Placeholder: replaced by the real stage.
#include "xm/Xm.h"

namespace korvalin {
Status writeScore(const RunState&, FileState&, ByteSink&, Console&) { return Status::Ok; }
void dropUnusedChannels(const RunState&, FileState&, std::size_t, Console&) {}
}  // namespace korvalin
