// patchkit_bench [BANK.sf2] [runs]: makes the whole patch set from a SoundFont
// (default FluidR3, 141 MB) into a scratch folder and compares its median wall
// time with the I/O floor: reading the bank once and writing files of the
// same sizes as the patches. The set is made in a child process first, so its
// peak memory (getrusage high-water mark) is reported against the bank's size.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "SoundFontKit.h"

namespace {

namespace pk = korvalin::patchkit;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool makeSet(const fs::path& bank, const fs::path& folder) {
    fs::remove_all(folder);
    pk::TimidityConfig set;
    pk::SoundFontSummary summary;
    std::string error;
    if (!pk::writeSoundFontPatches(bank, folder, set, summary, error)) {
        std::fprintf(stderr, "patchkit_bench: %s\n", error.c_str());
        return false;
    }
    return true;
}

// Reads the bank in one piece and writes a file of each patch's size.
void ioFloor(const fs::path& bank, const std::vector<std::uintmax_t>& sizes,
             const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ifstream in(bank, std::ios::binary);
    std::vector<char> bytes(fs::file_size(bank));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::size_t at = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        std::ofstream out(folder / (std::to_string(i) + ".pat"), std::ios::binary);
        const auto n = static_cast<std::size_t>(std::min<std::uintmax_t>(sizes[i], bytes.size()));
        at = at + n > bytes.size() ? 0 : at;
        out.write(bytes.data() + at, static_cast<std::streamsize>(n));
        at += n;
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path bank = argc > 1 ? argv[1] : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (!fs::exists(bank)) {
        std::fprintf(stderr, "patchkit_bench: %s not found (apt-get install fluid-soundfont-gm)\n",
                     bank.c_str());
        return 1;
    }
    const fs::path work =
        fs::temp_directory_path() / ("patchkit-bench-" + std::to_string(getpid()));
    const pid_t child = fork();
    if (child == 0) _exit(makeSet(bank, work / "set") ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::vector<std::uintmax_t> sizes;
    std::uintmax_t written = 0;
    for (const auto& f : fs::directory_iterator(work / "set"))
        if (f.is_regular_file()) sizes.push_back(f.file_size()), written += f.file_size();
    std::vector<double> kit, floor;
    for (int i = 0; i < runs; ++i) {
        auto t = Clock::now();
        if (!makeSet(bank, work / "set")) return 1;
        kit.push_back(seconds(t));
        t = Clock::now();
        ioFloor(bank, sizes, work / "floor");
        floor.push_back(seconds(t));
    }
    fs::remove_all(work);
    const double bankMb = static_cast<double>(fs::file_size(bank)) / 1048576.0;
    std::printf("bank %s: %.1f MB; %zu patches, %.1f MB written\n", bank.c_str(), bankMb,
                sizes.size(), static_cast<double>(written) / 1048576.0);
    std::printf("making the set: median %.3f s of %d runs; I/O floor %.3f s; ratio %.2f\n",
                median(kit), runs, median(floor), median(kit) / median(floor));
    std::printf("peak memory %.1f MB = %.2f x the bank\n", peakMb, peakMb / bankMb);
    return 0;
}
