#include "base/Alloc.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
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

void prefaultPages(void* begin, std::size_t bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
    static const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    // Only whole pages inside the range: a page it shares with other data is
    // faulted in when written, and none outside the range is mapped in.
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t start = (first + pageSize - 1) & ~(pageSize - 1);
    const std::uintptr_t end = (first + bytes) & ~(pageSize - 1);
    if (end <= start) return;
    // The outcome does not matter: pages left out are faulted in when written.
    static_cast<void>(madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE));
#else
    static_cast<void>(begin);
    static_cast<void>(bytes);
#endif
}

}  // namespace korvalin
