// The real converter on damaged MIDI files and patches: each run ends in bounded
// time with a message and a non-zero status, or status 0 and a module that walks
// cleanly; no sanitizer report, no files left behind. A batch run of hundreds
// of files converts each as if it were alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "XmWalk.h"
#include "support/MidiBuilder.h"
#include "support/Process.h"

namespace korvalin::test {
namespace {

namespace fs = std::filesystem;

#ifdef KORVALIN_SANITIZE
// The instrumented converter runs several times slower: there each sweep takes
// every 4th case, keeping all truncations within 64 bytes of either end.
constexpr std::size_t kThin = 4;
#else
constexpr std::size_t kThin = 1;
#endif
const fs::path kFreepats = "/usr/share/midi/freepats";

struct Case {
    std::string name;
    Bytes midi, patch;
    bool mustConvert = false;  // an undamaged input: the control for the sweeps
};

// Every program and every percussion key plays the one patch.
void writeInputs(const fs::path& folder, const Bytes& patch) {
    writeBytes(folder / "p.pat", patch);
    std::ofstream map(folder / "patch.cfg");
    for (int index = 0; index < 256; ++index) map << index << " p.pat 0 1000\n";
}

// A short piece that reaches every stage: tempo change, program change,
// melodic and percussion notes, bend, controllers, sysex and running status.
Bytes smallMidi() {
    Smf smf(1, 96);
    smf.track().tempo(0, 500000).text(0, "robust").tempo(192, 400000).endOfTrack(96);
    SmfTrack& t = smf.track();
    t.program(0, 0, 5).controller(0, 0, 10, 30).noteOn(0, 0, 60, 100).pitchBend(24, 0, 0x2800);
    t.controller(24, 0, 1, 64).noteOff(48, 0, 60).runningStatus().noteOn(0, 0, 64, 90);
    t.noteOn(48, 0, 64, 0).sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).noteOn(0, 9, 36, 120);
    t.noteOff(96, 9, 36).endOfTrack(0);
    return smf.bytes();
}

Bytes readPatch(const std::string& name) {
    EXPECT_TRUE(installed(kFreepats / name, "freepats"));
    return readBytes(kFreepats / name);
}

std::set<std::string> listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Runs one case in `work` (cleared first) and returns "" or what went wrong.
std::string runCase(const Case& c, const fs::path& work) {
    for (const auto& entry : fs::directory_iterator(work)) fs::remove_all(entry.path());
    writeBytes(work / "song.mid", c.midi);
    writeInputs(work, c.patch);
    std::set<std::string> expected = listing(work);
    const ProcessResult r = runProcess(korvalinBinary(), {"-sampd", ".", "song.mid"}, work, 10);
    const std::string tail = " (status " + std::to_string(r.exitCode) + ")\n" + r.out + r.err;
    if (r.timedOut || r.exitCode >= 128) return "no result within 10 s, or killed" + tail;
    if (r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error") != r.err.npos)
        return "sanitizer report" + tail;
    if (c.mustConvert && r.exitCode != 0) return "an undamaged input failed" + tail;
    if (r.exitCode == 0) {
        const std::string fault = xmwalk::walk(readBytes(work / "song.xm")).fault;
        if (!fault.empty()) return "module fault: " + fault + tail;
        expected.insert("song.xm");
    } else if (r.out.find("ERROR") == r.out.npos && r.out.find("WARNING") == r.out.npos &&
               r.err.empty()) {
        return "failed without a message" + tail;
    }
    return listing(work) == expected ? "" : "files left behind" + tail;
}

// Runs the cases on a few threads, each in its own folder.
void sweep(const std::vector<Case>& cases) {
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::vector<std::string> failures;
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < std::clamp(std::thread::hardware_concurrency(), 2u, 4u); ++t) {
        pool.emplace_back([&] {
            TempDir work;
            for (std::size_t i = next++; i < cases.size(); i = next++) {
                const std::string problem = runCase(cases[i], work.path());
                std::lock_guard<std::mutex> guard(lock);
                if (!problem.empty()) failures.push_back(cases[i].name + ": " + problem);
            }
        });
    }
    for (auto& th : pool) th.join();
    std::sort(failures.begin(), failures.end());
    for (std::size_t i = 0; i < failures.size() && i < 10; ++i) ADD_FAILURE() << failures[i];
    EXPECT_EQ(failures.size(), 0u) << "of " << cases.size() << " runs";
}

// Damaged copies of a small song, the demo song, a one-wave patch and a
// two-wave looped patch: cut at every length (the demo's and the looped
// patch's middles every 29th or 16th), or 1 to 4 bytes set at random places.
TEST(Robustness, TruncationsAndSeededByteChanges) {
    const Bytes small = smallMidi(), demo = readBytes(sourceDir() / "demo" / "demo.mid");
    const Bytes patch = readPatch("Drum_000/032_Square_Click.pat");
    const Bytes looped = readPatch("Tone_000/079_Ocarina.pat");
    ASSERT_TRUE(demo.size() > 256 && patch.size() > 335 && looped.size() > 2048);
    std::vector<Case> cases;
    const struct {
        const char* name;
        const Bytes& input;
        bool isPatch;
        std::size_t step;
    } inputs[] = {{"small", small, false, 1},
                  {"demo", demo, false, 29},
                  {"patch", patch, true, 1},
                  {"looped", looped, true, 16}};
    std::mt19937 rng(20240601);
    for (const auto& in : inputs) {
        const std::size_t size = in.input.size();
        for (std::size_t n = 0; n <= size; ++n) {
            const bool edge = n <= 400 || n + 128 >= size;
            if ((n % in.step != 0 && !edge) || (n % kThin != 0 && n > 64 && n + 64 < size))
                continue;
            const Bytes part(in.input.begin(), in.input.begin() + long(n));
            cases.push_back({std::string(in.name) + "-cut-" + std::to_string(n),
                             in.isPatch ? small : part, in.isPatch ? part : patch, n == size});
        }
        for (std::size_t i = 0; i < 80 / kThin; ++i) {
            Bytes damaged = in.input;
            for (int k = std::uniform_int_distribution<int>(1, 4)(rng); k > 0; --k)
                damaged[std::uniform_int_distribution<std::size_t>(0, size - 1)(rng)] =
                    std::uint8_t(rng());
            cases.push_back({std::string(in.name) + "-flip-" + std::to_string(i),
                             in.isPatch ? small : damaged, in.isPatch ? damaged : patch});
        }
    }
    sweep(cases);
}

// One run converts 300 files, each as if it were alone (1 to 5 bars, so state
// left over from a longer file would show in the next one's pattern count);
// files that cannot be read are reported and skipped without stopping the rest.
TEST(Robustness, HundredsOfFilesInOneRun) {
    TempDir dir;
    writeInputs(dir.path(), readPatch("Drum_000/032_Square_Click.pat"));
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        Smf smf(0, 96);
        SmfTrack& t = smf.track().tempo(0, 500000).program(0, 0, i % 128);
        for (int bar = 0; bar <= i % 5; ++bar)
            t.noteOn(0, 0, 48 + i % 24, 100).noteOff(384, 0, 48 + i % 24);
        t.noteOn(0, 9, 36, 100).noteOff(96, 9, 36).endOfTrack(0);
        names.push_back("f" + std::to_string(i));
        writeBytes(dir / (names.back() + ".mid"), smf.bytes());
    }
    for (const bool missing : {false, true}) {
        const std::string folder = missing ? "with-missing" : "all";
        std::vector<std::string> args = {"-sampd", ".", "-outd", folder};
        args.insert(args.end(), names.begin(), names.end());
        if (missing) args.insert(args.begin() + 100, "gone1"), args.push_back("gone2");
        fs::create_directory(dir / folder);
        const ProcessResult r = runProcess(korvalinBinary(), args, dir.path(), 600);
        EXPECT_EQ(r.exitCode, missing ? 1 : 0) << r.err;
        EXPECT_EQ(r.err, missing ? "gone1.mid: No such file or directory\n"
                                   "gone2.mid: No such file or directory\n"
                                 : "");
        EXPECT_EQ(listing(dir / folder).size(), names.size());  // nothing else left behind
        std::string wrong;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const Bytes module = readBytes(dir / folder / (names[i] + ".xm"));
            if (module.size() < 72 || module[70] != std::min<std::size_t>(i % 5 + 2, 5))
                wrong += " " + names[i];
        }
        EXPECT_EQ(wrong, "") << "missing or with the wrong pattern count";
    }
}

}  // namespace
}  // namespace korvalin::test
