// The real converter on damaged inputs (truncations and seeded byte changes of
// MIDI files and patches): each run ends in bounded time with a non-zero status
// and a message, or status 0 and a module libopenmpt loads; no sanitizer
// report, and a failed run leaves neither a module nor a temporary file. A
// failing case's folder is copied to korvalin-robustness-failures/ under the
// system temporary folder to be replayed by hand.
#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
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

#ifdef KORVALIN_SANITIZE
// The instrumented converter runs several times slower: there each sweep
// takes every 4th of its cases, keeping all truncations within 64 bytes of
// either end.
constexpr std::size_t kThin = 4;
#else
constexpr std::size_t kThin = 1;
#endif
constexpr int kRunTimeoutSeconds = 10;
const char kPatchName[] = "click.pat";
const fs::path kFreepats = "/usr/share/midi/freepats";
const fs::path kSmallPatch = kFreepats / "Drum_000/032_Square_Click.pat";  // one short wave
const fs::path kLoopedPatch = kFreepats / "Tone_000/079_Ocarina.pat";      // two looped waves
const fs::path kFailures = fs::temp_directory_path() / "korvalin-robustness-failures";

struct Case {
    std::string name;
    Bytes midi, patch;
    bool mustConvert = false;  // an undamaged input: the control for the sweeps
};

// Every program and every percussion key plays the one small patch.
void writeInputs(const fs::path& folder, const Bytes& patch) {
    writeBytes(folder / kPatchName, patch);
    std::ofstream map(folder / "patch.cfg");
    for (int index = 0; index < 256; ++index) map << index << " " << kPatchName << " 0 1000\n";
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

Bytes demoSong() {
    return readBytes(sourceDir() / "demo" / "demo.mid");
}

Bytes readPatch(const fs::path& path) {
    Bytes patch = readBytes(path);
    EXPECT_TRUE(test::installed(path, "freepats"));
    return patch;
}

// The pattern count of the module libopenmpt loads from `path`, or -1.
int patternCount(const fs::path& path) {
    const Bytes bytes = readBytes(path);
    openmpt_module* mod = openmpt_module_create_from_memory2(
        bytes.data(), bytes.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!mod) return -1;
    const int count = openmpt_module_get_num_patterns(mod);
    openmpt_module_destroy(mod);
    return count;
}

bool hasSanitizerReport(const std::string& text) {
    return text.find("Sanitizer") != std::string::npos ||
           text.find("runtime error") != std::string::npos;
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

    const ProcessResult r =
        runProcess(korvalinBinary(), {"-sampd", ".", "song.mid"}, work, kRunTimeoutSeconds);
    const std::string tail = "\n--- stdout ---\n" + r.out + "\n--- stderr ---\n" + r.err;
    const std::string status = "status " + std::to_string(r.exitCode);
    if (r.timedOut) return "no result within " + std::to_string(kRunTimeoutSeconds) + " s" + tail;
    if (hasSanitizerReport(r.err)) return "sanitizer report" + tail;
    if (r.exitCode >= 128) return "killed by signal " + std::to_string(r.exitCode - 128) + tail;
    if (c.mustConvert && r.exitCode != 0) return status + " for an undamaged input" + tail;
    if (r.exitCode == 0) {
        if (patternCount(work / "song.xm") < 0) return "status 0 but no loadable module" + tail;
        expected.insert("song.xm");
    } else if (r.out.find("ERROR") == std::string::npos &&
               r.out.find("WARNING") == std::string::npos && r.err.empty()) {
        return status + " without a message" + tail;
    }
    std::string extra;
    for (const auto& name : listing(work))
        if (!expected.count(name)) extra += " " + name;
    return extra.empty() ? "" : status + " left behind:" + extra + tail;
}

// Runs the cases on a few threads, each in its own folder, and reports the
// first failures.
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
                std::error_code ec;
                fs::create_directories(kFailures / cases[i].name, ec);
                fs::copy(work.path(), kFailures / cases[i].name,
                         fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
                std::lock_guard<std::mutex> guard(lock);
                failures.push_back(cases[i].name + ": " + problem);
            }
        });
    }
    for (auto& th : pool) th.join();
    std::sort(failures.begin(), failures.end());
    for (std::size_t i = 0; i < failures.size() && i < 10; ++i) ADD_FAILURE() << failures[i];
    EXPECT_EQ(failures.size(), 0u) << "of " << cases.size() << " runs; saved under " << kFailures;
}

// Truncation lengths 0..size: every `step`-th, and every one inside `dense`.
std::vector<std::size_t> lengths(std::size_t size, std::size_t step,
                                 std::vector<std::pair<std::size_t, std::size_t>> dense) {
    std::vector<std::size_t> out;
    for (std::size_t n = 0; n <= size; ++n) {
        bool take = n % step == 0 || n == size;
        for (const auto& [from, to] : dense) take = take || (n >= from && n < to);
        if (take && (n % kThin == 0 || n <= 64 || n + 64 >= size)) out.push_back(n);
    }
    return out;
}

TEST(Robustness, Truncations) {
    const Bytes small = smallMidi(), demo = demoSong(), patch = readPatch(kSmallPatch);
    const Bytes looped = readPatch(kLoopedPatch);
    ASSERT_TRUE(demo.size() > 256 && patch.size() > 335 && looped.size() > 2048);
    // Patch, instrument and layer headers take 239 bytes; the first wave's
    // 96-byte header holds the size of its data, after which the second starts.
    const std::size_t second = 239 + 96 + (looped[247] | looped[248] << 8 | looped[249] << 16);
    ASSERT_LT(second + 96, looped.size());
    const struct {
        const char* name;
        const Bytes& cut;  // the input that is cut short
        bool cutPatch;
        std::vector<std::size_t> lengths;
    } rows[] = {
        {"small-midi-cut-", small, false, lengths(small.size(), 1, {})},
        {"demo-cut-", demo, false,
         lengths(demo.size(), 29, {{0, 128}, {demo.size() - 128, demo.size()}})},
        {"patch-cut-", patch, true, lengths(patch.size(), 1, {})},
        {"looped-patch-cut-", looped, true,
         lengths(looped.size(), 16, {{0, 239 + 96 + 64}, {second - 64, second + 161}})},
    };
    // A wave whose size field is 0 with nothing after its header: its data
    // was once copied through a null pointer when the instruments were written.
    Bytes emptyWave(patch.begin(), patch.begin() + 239 + 96);
    std::fill(emptyWave.begin() + 239 + 8, emptyWave.begin() + 239 + 12, 0);
    std::vector<Case> cases = {{"empty-wave-small", small, emptyWave},
                               {"empty-wave-demo", demo, emptyWave}};
    for (const auto& row : rows) {
        for (std::size_t n : row.lengths) {
            const Bytes part(row.cut.begin(), row.cut.begin() + static_cast<long>(n));
            cases.push_back({row.name + std::to_string(n), row.cutPatch ? small : part,
                             row.cutPatch ? part : patch, n == row.cut.size()});
        }
    }
    sweep(cases);
}

// 1 to 4 bytes set to random values, at random places.
Bytes damage(Bytes bytes, std::mt19937& rng) {
    std::uniform_int_distribution<std::size_t> where(0, bytes.size() - 1);
    std::uniform_int_distribution<int> count(1, 4), value(0, 255);
    for (int k = count(rng); k > 0; --k) bytes[where(rng)] = static_cast<unsigned char>(value(rng));
    return bytes;
}

TEST(Robustness, SeededRandomByteChanges) {
    const Bytes small = smallMidi(), demo = demoSong(), patch = readPatch(kSmallPatch);
    const Bytes looped = readPatch(kLoopedPatch);
    ASSERT_FALSE(demo.empty() || patch.empty() || looped.empty());
    std::mt19937 rng(20240601);
    std::vector<Case> cases;
    for (int i = 0; i < 320; ++i) {
        const std::string n = std::to_string(i);
        Case c = i < 120   ? Case{"small-midi-flip-" + n, damage(small, rng), patch}
                 : i < 200 ? Case{"demo-flip-" + n, damage(demo, rng), patch}
                 : i < 260 ? Case{"patch-flip-" + n, small, damage(patch, rng)}
                           : Case{"looped-patch-flip-" + n, small, damage(looped, rng)};
        if (i % kThin == 0) cases.push_back(std::move(c));
    }
    sweep(cases);
}

// "f<i><ext>", built piece by piece: GCC 12 warns falsely (-Wrestrict) about
// chains of std::string additions in optimised builds.
std::string numberedName(std::size_t i, const char* extension) {
    std::string name = "f";
    name += std::to_string(i);
    name += extension;
    return name;
}

// One run converts hundreds of files, each as if it were alone; files that
// cannot be read are reported and skipped without stopping the others.
TEST(Robustness, HundredsOfFilesInOneRun) {
    TempDir dir;
    writeInputs(dir.path(), readPatch(kSmallPatch));
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        // 1 to 5 bars of whole notes, so that state left over from a longer
        // file would show in the next one's pattern count.
        Smf smf(0, 96);
        SmfTrack& t = smf.track().tempo(0, 500000).program(0, 0, i % 128);
        for (int bar = 0; bar <= i % 5; ++bar)
            t.noteOn(0, 0, 48 + i % 24, 100).noteOff(384, 0, 48 + i % 24);
        names.push_back(numberedName(static_cast<std::size_t>(i), ".mid"));
        smf.track().noteOn(0, 9, 36, 100).noteOff(96, 9, 36).endOfTrack(0);
        t.endOfTrack(0);
        writeBytes(dir / names.back(), smf.bytes());
    }
    const int kPatterns[5] = {2, 3, 4, 5, 5};
    for (const char* folder : {"all", "with-missing"}) {
        SCOPED_TRACE(folder);
        const bool missing = std::string(folder) == "with-missing";
        std::vector<std::string> args = {"-sampd", ".", "-outd", folder};
        args.insert(args.end(), names.begin(), names.end());
        if (missing) args.insert(args.begin() + 100, "gone1.mid"), args.push_back("gone2.mid");
        fs::create_directory(dir / folder);
        const ProcessResult r = runProcess(korvalinBinary(), args, dir.path(), 600);
        EXPECT_EQ(r.exitCode, missing ? 1 : 0) << r.err;
        EXPECT_FALSE(hasSanitizerReport(r.err)) << r.err;
        for (const char* gone : {"gone1.mid", "gone2.mid"})
            EXPECT_EQ(r.err.find(gone) != std::string::npos, missing) << r.err;
        EXPECT_EQ(listing(dir / folder).size(), names.size());  // nothing else left behind
        std::string wrong;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (patternCount(dir / folder / numberedName(i, ".xm")) != kPatterns[i % 5]) {
                wrong += ' ';
                wrong += numberedName(i, ".xm");
            }
        EXPECT_EQ(wrong, "") << "missing, unloadable or with the wrong pattern count";
    }
}

}  // namespace
}  // namespace korvalin::test
