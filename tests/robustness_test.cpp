// Runs the real converter on damaged inputs: every truncation of a small MIDI
// file and of a small patch, sampled truncations of the demo song, and seeded
// random byte changes. Whatever the damage, a run must end in bounded time
// with either a non-zero status and a message, or status 0 and a module that
// libopenmpt loads; it must not trip a sanitizer, and a failed run must leave
// neither a module nor a temporary file behind.
//
// A failing input is saved under the system temporary folder
// (korvalin-robustness-failures/) so it can be replayed by hand.
#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/MidiBuilder.h"
#include "support/Process.h"

namespace korvalin::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRunTimeoutSeconds = 10;
const char kPatchName[] = "click.pat";
const char kMidiName[] = "song.mid";
const char kModuleName[] = "song.xm";

// Small real patches from the freepats set: one short 16-bit wave, and two
// looped 16-bit waves.
const fs::path kSmallPatch = "/usr/share/midi/freepats/Drum_000/032_Square_Click.pat";
const fs::path kLoopedPatch = "/usr/share/midi/freepats/Tone_000/079_Ocarina.pat";

struct Case {
    std::string name;
    Bytes midi;
    Bytes patch;
};

// Every program and every percussion key plays the one small patch.
std::string patchMapForAll() {
    std::string map;
    for (int index = 0; index < 256; ++index)
        map += std::to_string(index) + " " + kPatchName + " 0 1000\n";
    return map;
}

// A short piece that reaches every stage: tempo change, program change,
// melodic and percussion notes, bend, controllers, sysex and running status.
Bytes smallMidi() {
    Smf smf(1, 96);
    smf.track().tempo(0, 500000).text(0, "robust").tempo(192, 400000).endOfTrack(96);
    smf.track()
        .program(0, 0, 5)
        .controller(0, 0, 7, 100)
        .controller(0, 0, 10, 30)
        .noteOn(0, 0, 60, 100)
        .pitchBend(24, 0, 0x2800)
        .controller(24, 0, 1, 64)
        .noteOff(48, 0, 60)
        .runningStatus()
        .noteOn(0, 0, 64, 90)
        .noteOn(48, 0, 64, 0)
        .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .noteOn(0, 0, 67, 80)
        .noteOff(96, 0, 67)
        .endOfTrack(0);
    smf.track()
        .noteOn(0, 9, 36, 120)
        .noteOff(24, 9, 36)
        .noteOn(24, 9, 38, 110)
        .noteOff(24, 9, 38)
        .noteOn(24, 9, 42, 80)
        .noteOff(24, 9, 42)
        .endOfTrack(0);
    return smf.bytes();
}

Bytes demoSong() { return readBytes(sourceDir() / "demo" / "demo.mid"); }

bool moduleLoads(const Bytes& bytes) {
    openmpt_module* mod = openmpt_module_create_from_memory2(
        bytes.data(), bytes.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!mod) return false;
    openmpt_module_destroy(mod);
    return true;
}

bool hasSanitizerReport(const std::string& text) {
    return text.find("ERROR: AddressSanitizer") != std::string::npos ||
           text.find("ERROR: LeakSanitizer") != std::string::npos ||
           text.find("runtime error") != std::string::npos;
}

// A message the user can act on: the converter's error, warning or system
// error lines, or the abort line.
bool hasClearMessage(const ProcessResult& r) {
    return r.out.find("ERROR") != std::string::npos ||
           r.out.find("WARNING") != std::string::npos || !r.err.empty();
}

std::set<std::string> folderListing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

void saveReproducer(const Case& c, const std::string& problem) {
    const fs::path folder = fs::temp_directory_path() / "korvalin-robustness-failures" / c.name;
    std::error_code ec;
    fs::create_directories(folder, ec);
    writeBytes(folder / kMidiName, c.midi);
    writeBytes(folder / kPatchName, c.patch);
    std::ofstream(folder / "patch.cfg") << patchMapForAll();
    std::ofstream(folder / "problem.txt") << problem << "\n";
}

// Runs one case in `work` (cleared first) and returns "" or what went wrong.
std::string runCase(const Case& c, const fs::path& work) {
    for (const auto& entry : fs::directory_iterator(work)) fs::remove_all(entry.path());
    writeBytes(work / kMidiName, c.midi);
    writeBytes(work / kPatchName, c.patch);
    std::ofstream(work / "patch.cfg") << patchMapForAll();
    const std::set<std::string> inputs = folderListing(work);

    const ProcessResult r =
        runProcess(korvalinBinary(), {"-sampd", ".", kMidiName}, work, kRunTimeoutSeconds);
    const std::string tail = "\n--- stdout ---\n" + r.out + "\n--- stderr ---\n" + r.err;
    if (r.timedOut) return "no result within " + std::to_string(kRunTimeoutSeconds) + " s" + tail;
    if (hasSanitizerReport(r.err)) return "sanitizer report" + tail;
    if (r.exitCode >= 128) return "killed by signal " + std::to_string(r.exitCode - 128) + tail;

    std::set<std::string> expected = inputs;
    if (r.exitCode == 0) {
        if (!fs::exists(work / kModuleName)) return "status 0 but no module" + tail;
        if (!moduleLoads(readBytes(work / kModuleName)))
            return "status 0 but libopenmpt cannot load the module" + tail;
        expected.insert(kModuleName);
    } else if (!hasClearMessage(r)) {
        return "status " + std::to_string(r.exitCode) + " without a message" + tail;
    }
    const std::set<std::string> after = folderListing(work);
    if (after != expected) {
        std::string extra;
        for (const auto& name : after)
            if (!expected.count(name)) extra += " " + name;
        return "status " + std::to_string(r.exitCode) + " left behind:" + extra + tail;
    }
    return "";
}

// Runs all cases on a few threads (each with its own folder) and reports
// the first failures, each with the saved reproducer's name.
void sweep(const std::vector<Case>& cases) {
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::vector<std::string> failures;
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            TempDir work;
            for (std::size_t i = next++; i < cases.size(); i = next++) {
                const std::string problem = runCase(cases[i], work.path());
                if (problem.empty()) continue;
                std::lock_guard<std::mutex> guard(lock);
                failures.push_back(cases[i].name + ": " + problem);
                saveReproducer(cases[i], problem);
            }
        });
    }
    for (auto& th : pool) th.join();
    std::sort(failures.begin(), failures.end());
    for (std::size_t i = 0; i < failures.size() && i < 10; ++i) ADD_FAILURE() << failures[i];
    EXPECT_EQ(failures.size(), 0u) << "of " << cases.size() << " runs; inputs saved under "
                                   << (fs::temp_directory_path() / "korvalin-robustness-failures");
}

Bytes readPatch(const fs::path& path) {
    Bytes patch = readBytes(path);
    if (patch.empty()) ADD_FAILURE() << "missing " << path << " (package freepats)";
    return patch;
}

Bytes smallPatch() { return readPatch(kSmallPatch); }

// Lengths 0..size, or when `step` > 1 every step-th length plus every length
// of the first and last `edge` bytes.
std::vector<std::size_t> lengths(std::size_t size, std::size_t step, std::size_t edge) {
    std::vector<std::size_t> out;
    for (std::size_t n = 0; n <= size; ++n)
        if (step <= 1 || n % step == 0 || n < edge || n + edge > size) out.push_back(n);
    return out;
}

TEST(Robustness, UndamagedInputsConvert) {
    // The control for the sweeps below: the inputs themselves give modules.
    const Bytes patch = smallPatch();
    TempDir work;
    const Case cases[] = {{"small", smallMidi(), patch}, {"demo", demoSong(), patch}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.midi.empty());
        EXPECT_EQ(runCase(c, work.path()), "");
        EXPECT_TRUE(fs::exists(work / kModuleName));
    }
}

TEST(Robustness, PatchWithAnEmptyWave) {
    // A wave whose size field is 0 and nothing after its header: found by
    // the pipeline fuzzer (the empty sample's data was copied through a null
    // pointer when the instruments were written).
    Bytes patch = smallPatch();
    ASSERT_GT(patch.size(), 335u);
    patch.resize(239 + 96);
    std::fill(patch.begin() + 239 + 8, patch.begin() + 239 + 12, 0);
    sweep({{"empty-wave-small", smallMidi(), patch}, {"empty-wave-demo", demoSong(), patch}});
}

TEST(Robustness, EveryTruncationOfASmallMidiFile) {
    const Bytes midi = smallMidi(), patch = smallPatch();
    std::vector<Case> cases;
    for (std::size_t n : lengths(midi.size(), 1, 0))
        cases.push_back({"small-midi-cut-" + std::to_string(n), Bytes(midi.begin(), midi.begin() + n),
                         patch});
    sweep(cases);
}

TEST(Robustness, SampledTruncationsOfTheDemoSong) {
    const Bytes midi = demoSong(), patch = smallPatch();
    ASSERT_FALSE(midi.empty());
    std::vector<Case> cases;
    for (std::size_t n : lengths(midi.size(), 29, 128))
        cases.push_back({"demo-cut-" + std::to_string(n), Bytes(midi.begin(), midi.begin() + n),
                         patch});
    sweep(cases);
}

TEST(Robustness, EveryTruncationOfThePatch) {
    const Bytes midi = smallMidi(), patch = smallPatch();
    std::vector<Case> cases;
    // Every length of the first and last 2 KB; the click patch is smaller
    // than that, so this is every length.
    for (std::size_t n : lengths(patch.size(), 16, 2048))
        cases.push_back({"patch-cut-" + std::to_string(n), midi,
                         Bytes(patch.begin(), patch.begin() + n)});
    sweep(cases);
}

TEST(Robustness, CutsOfALoopedTwoWavePatch) {
    const Bytes midi = smallMidi(), patch = readPatch(kLoopedPatch);
    ASSERT_GT(patch.size(), 2048u);
    // Patch, instrument and layer headers take 239 bytes; the first wave
    // header holds the size of its data, after which the second header starts.
    const std::size_t firstWave = 239;
    const std::size_t secondWave = firstWave + 96 + (patch[firstWave + 8] |
                                                     patch[firstWave + 9] << 8 |
                                                     patch[firstWave + 10] << 16);
    ASSERT_LT(secondWave + 96, patch.size());
    std::vector<Case> cases;
    for (std::size_t n = 0; n <= patch.size(); ++n) {
        const bool inHeaders = n < firstWave + 96 + 64;
        const bool nearSecondHeader = n + 64 >= secondWave && n <= secondWave + 96 + 64;
        if (inHeaders || nearSecondHeader || n % 16 == 0 || n == patch.size())
            cases.push_back({"looped-patch-cut-" + std::to_string(n), midi,
                             Bytes(patch.begin(), patch.begin() + static_cast<long>(n))});
    }
    sweep(cases);
}

// 1 to 4 bytes set to random values, at random places.
Bytes damage(Bytes bytes, std::mt19937& rng) {
    if (bytes.empty()) return bytes;
    std::uniform_int_distribution<std::size_t> where(0, bytes.size() - 1);
    std::uniform_int_distribution<int> count(1, 4), value(0, 255);
    for (int k = count(rng); k > 0; --k) bytes[where(rng)] = static_cast<unsigned char>(value(rng));
    return bytes;
}

TEST(Robustness, SeededRandomByteChanges) {
    const Bytes small = smallMidi(), demo = demoSong(), patch = smallPatch();
    const Bytes looped = readPatch(kLoopedPatch);
    std::mt19937 rng(20240601);
    std::vector<Case> cases;
    for (int i = 0; i < 120; ++i)
        cases.push_back({"small-midi-flip-" + std::to_string(i), damage(small, rng), patch});
    for (int i = 0; i < 80; ++i)
        cases.push_back({"demo-flip-" + std::to_string(i), damage(demo, rng), patch});
    for (int i = 0; i < 60; ++i)
        cases.push_back({"patch-flip-" + std::to_string(i), small, damage(patch, rng)});
    for (int i = 0; i < 60; ++i)
        cases.push_back({"looped-patch-flip-" + std::to_string(i), small, damage(looped, rng)});
    sweep(cases);
}

}  // namespace
}  // namespace korvalin::test
