// korvalin-demosong: writes the project's demo piece as a Standard MIDI File.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "DemoSong.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "Usage: korvalin-demosong OUTPUT.mid\n"
                     "Writes the demo song (format 1, five tracks, about 80 seconds).\n");
        return argc == 2 ? 0 : 2;
    }
    const auto bytes = korvalin::demo::buildDemoSong();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "korvalin-demosong: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "korvalin-demosong: %s: write failed: %s\n", argv[1],
                     std::strerror(errno));
        std::remove(argv[1]);
        return 1;
    }
    std::printf("%s: %zu bytes\n", argv[1], bytes.size());
    return 0;
}
