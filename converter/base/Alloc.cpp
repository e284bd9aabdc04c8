#include "base/Alloc.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace korvalin {
namespace {
std::string& cleanupPath() {
    static std::string path;
    return path;
}
}  // namespace

void setAbortCleanupPath(const char* path) {
    cleanupPath() = path ? path : "";
}

void abortProcess(Console& console) {
    if (!cleanupPath().empty()) std::remove(cleanupPath().c_str());
    console.writeErr("Abnormal program termination\n");
    std::fflush(nullptr);
    std::_Exit(3);
}

void allocationFailed(Console& console, const char* call, std::size_t bytes) {
    console.print("\n%s(): failed to allocate %lu bytes\n", call,
                  static_cast<unsigned long>(bytes));
    abortProcess(console);
}

}  // namespace korvalin
