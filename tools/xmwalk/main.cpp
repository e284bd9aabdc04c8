// korvalin-xmwalk FILE: prints a module's structure as the converter wrote it,
// or the first field that breaks what the converter can emit.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "XmWalk.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvalin-xmwalk FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::perror(argv[1]);
        return 2;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    const korvalin::xmwalk::Summary s = korvalin::xmwalk::walk(bytes);
    std::printf(
        "%zu bytes: %u channels, %u patterns, %u cells (%u notes), %u instruments, %u samples\n",
        bytes.size(), s.channels, s.patterns, s.cells, s.notes, s.instruments, s.samples);
    if (s.fault.empty()) return 0;
    std::printf("fault at offset %zu: %s\n", s.faultOffset, s.fault.c_str());
    return 1;
}
