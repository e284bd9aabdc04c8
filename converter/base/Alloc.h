// Allocation of blocks whose size comes from input data. Sizes are checked
// against the bytes actually present before these are called; a request that
// still cannot be served ends the process like every fatal condition.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "base/Console.h"

namespace korvalin {

// Registers a file that must be removed if the process has to end abnormally
// (the unfinished output). An empty path clears the registration.
void setAbortCleanupPath(const char* path);

// Prints "Abnormal program termination" on the error stream, removes the
// registered unfinished output and ends the process with exit status 3.
[[noreturn]] void abortProcess(Console& console);

// Prints "\n<call>(): failed to allocate <bytes> bytes\n" (call is "malloc"
// or "realloc") and aborts: how every allocation below ends when memory runs out.
[[noreturn]] void allocationFailed(Console& console, const char* call, std::size_t bytes);

// Maps in the whole pages inside [begin, begin + bytes) that are not in memory
// yet, in one system call, leaving their contents as they are. Taking a page
// fault on the first write to each 4 KiB page costs several times as much.
// Where the system lacks the call, the pages are faulted in as they are written.
void prefaultPages(void* begin, std::size_t bytes) noexcept;

// Resizes v to n elements; when that leaves more than half of the room
// unused, gives the rest back. Returns false when memory runs out. For work
// that reports the failure later (off the main thread); reallocOrAbort below.
template <class T>
bool tryRealloc(std::vector<T>& v, std::size_t n) noexcept {
    try {
        v.resize(n);
        if (n < v.capacity() / 2) v.shrink_to_fit();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// Sets aside room for n elements; returns false when memory runs out.
template <class T>
bool tryReserve(std::vector<T>& v, std::size_t n) noexcept {
    try {
        v.reserve(n);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// Resizes v to n elements (0 is a valid size); on failure prints
// "\nmalloc(): failed to allocate %lu bytes\n" and aborts.
template <class T>
void allocOrAbort(std::vector<T>& v, std::size_t n, Console& console) {
    try {
        v.resize(n);
    } catch (const std::exception&) {
        allocationFailed(console, "malloc", n * sizeof(T));
    }
}

// Sets aside room for n elements without creating them: room that is never
// filled is never touched, so it costs address space but no memory. On
// failure prints the malloc() message of allocOrAbort and aborts.
template <class T>
void reserveOrAbort(std::vector<T>& v, std::size_t n, Console& console) {
    if (!tryReserve(v, n)) allocationFailed(console, "malloc", n * sizeof(T));
}

// As allocOrAbort for a block that already holds data ("realloc()" message).
template <class T>
void reallocOrAbort(std::vector<T>& v, std::size_t n, Console& console) {
    if (!tryRealloc(v, n)) allocationFailed(console, "realloc", n * sizeof(T));
}

}  // namespace korvalin
