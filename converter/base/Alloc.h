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

// Resizes v to n elements (0 is a valid size); on failure prints
// "\nmalloc(): failed to allocate %lu bytes\n" and aborts.
template <class T>
void allocOrAbort(std::vector<T>& v, std::size_t n, Console& console) {
    try {
        v.resize(n);
    } catch (const std::exception&) {
        console.print("\nmalloc(): failed to allocate %lu bytes\n",
                      static_cast<unsigned long>(n * sizeof(T)));
        abortProcess(console);
    }
}

// Sets aside room for n elements without creating them: room that is never
// filled is never touched, so it costs address space but no memory. On
// failure prints the malloc() message of allocOrAbort and aborts.
template <class T>
void reserveOrAbort(std::vector<T>& v, std::size_t n, Console& console) {
    try {
        v.reserve(n);
    } catch (const std::exception&) {
        console.print("\nmalloc(): failed to allocate %lu bytes\n",
                      static_cast<unsigned long>(n * sizeof(T)));
        abortProcess(console);
    }
}

// As allocOrAbort for a block that already holds data ("realloc()" message).
template <class T>
void reallocOrAbort(std::vector<T>& v, std::size_t n, Console& console) {
    try {
        v.resize(n);
        if (n < v.capacity() / 2) v.shrink_to_fit();
    } catch (const std::exception&) {
        console.print("\nrealloc(): failed to allocate %lu bytes\n",
                      static_cast<unsigned long>(n * sizeof(T)));
        abortProcess(console);
    }
}

}  // namespace korvalin
