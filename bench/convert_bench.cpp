// Conversion benchmark. One run converts, on the same machine:
//   dense      a generated General MIDI piece (16 channels, chords, drums,
//              tempo changes, bends, controllers), `minutes` long (default
//              10), with the patches of a TiMidity configuration (default
//              /etc/timidity/freepats.cfg) and with an empty patch map;
//   demo       the project's demo song with the same patches;
//   sparse     a long piece with a note every other bar and one held note,
//              so that nearly every row of some 200 patterns is empty.
// The dense cases also run at double length: the ratio of the two times shows
// whether the cost grows linearly with the piece. (The sparse piece already
// fills nearly all 255 patterns the order table allows.)
//
//   convert_bench [--freepats=CONFIG] [--demo=MIDI] [minutes]
//   convert_bench --pieces=FOLDER       (writes the generated pieces there)
//
// For every case the MIDI file lies in a temporary folder; five conversions
// read it and write the module there through a FileSink, as the converter
// does, and the median wall time is reported. Beside each run the I/O floor
// is timed: reading the MIDI file and every patch file the conversion opened
// once each, and writing a file of the module's size into the same folder
// (nothing is synced). Each case runs in a freshly started process, so its
// peak resident size (getrusage of the child) is its own; the budget column
// is the module's size + 16 MiB. A second table splits each median
// conversion into its stages (MIDI reading, then the converter's stages).
//
// The patch map takes the "N file" lines of bank 0 and drumset 0 of the
// configuration, the first instrument of each GF1 patch standing for its
// entry. Programs and keys the set lacks stay unmapped and are listed.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/ByteIO.h"
#include "base/Console.h"
#include "base/State.h"
#include "driver/Driver.h"
#include "midi/MidiReader.h"
#include "patchkit/PatchKit.h"
#include "score/Score.h"

namespace {

using namespace korvalin;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kDivision = 480;
constexpr int kRuns = 5;

void putVarLen(Bytes& out, std::uint32_t v) {
    std::uint8_t buf[5];
    int n = 0;
    buf[n++] = v & 0x7F;
    while (v >>= 7) buf[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
    while (n > 0) out.push_back(buf[--n]);
}
void putU32BE(Bytes& out, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putU16BE(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

struct TimedEvent {
    std::uint32_t time;
    Bytes bytes;
};

Bytes trackChunk(std::vector<TimedEvent> events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.time < b.time; });
    Bytes data;
    std::uint32_t now = 0;
    for (const TimedEvent& e : events) {
        putVarLen(data, e.time - now);
        now = e.time;
        data.insert(data.end(), e.bytes.begin(), e.bytes.end());
    }
    putVarLen(data, 0);
    data.insert(data.end(), {0xFF, 0x2F, 0x00});
    Bytes chunk = {'M', 'T', 'r', 'k'};
    putU32BE(chunk, static_cast<std::uint32_t>(data.size()));
    chunk.insert(chunk.end(), data.begin(), data.end());
    return chunk;
}

// Mostly 80 to 100 beats per minute with a faster bar now and then.
std::uint32_t tempoOfBar(std::uint32_t bar) {
    if (bar % 7 == 3) return 375000;
    return 600000 + (bar % 5) * 37500;
}

constexpr std::uint8_t kDrumChannel = 9;
constexpr std::uint8_t kFirstDrumKey = 35;
constexpr std::uint8_t kDrumKeys = 12;

std::uint8_t programOfChannel(std::uint8_t ch) {
    return static_cast<std::uint8_t>(ch * 8 + 1);
}

// Patch map indices the piece plays: the melodic channels' programs and the drum keys.
std::vector<std::size_t> pieceMapIndices() {
    std::vector<std::size_t> indices;
    for (std::uint8_t ch = 0; ch < 16; ++ch)
        if (ch != kDrumChannel) indices.push_back(programOfChannel(ch));
    for (std::uint8_t k = 0; k < kDrumKeys; ++k)
        indices.push_back(kPercussionBase + kFirstDrumKey + k);
    return indices;
}

// A format 1 file of the given track chunks.
Bytes fileOf(const std::vector<Bytes>& chunks) {
    Bytes b = {'M', 'T', 'h', 'd'};
    putU32BE(b, 6);
    putU16BE(b, 1);
    putU16BE(b, static_cast<std::uint16_t>(chunks.size()));
    putU16BE(b, static_cast<std::uint16_t>(kDivision));
    for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
    return b;
}

struct Piece {
    Bytes bytes;
    std::uint32_t notes = 0;
    double seconds = 0;
};

Piece makePiece(double minutes) {
    Piece piece;
    std::uint32_t quarters = 0;
    while (piece.seconds < minutes * 60.0) {
        piece.seconds += tempoOfBar(quarters / 4) / 1e6;
        ++quarters;
    }

    std::vector<Bytes> chunks;
    std::vector<TimedEvent> conductor;
    for (std::uint32_t bar = 0; bar * 4 < quarters; ++bar) {
        const std::uint32_t t = tempoOfBar(bar);
        conductor.push_back({bar * 4 * kDivision,
                             {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(t >> 16),
                              static_cast<std::uint8_t>(t >> 8), static_cast<std::uint8_t>(t)}});
    }
    chunks.push_back(trackChunk(std::move(conductor)));

    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        std::vector<TimedEvent> ev;
        const bool drums = ch == kDrumChannel;
        ev.push_back({0, {static_cast<std::uint8_t>(0xC0 | ch), programOfChannel(ch)}});
        for (std::uint32_t q = 0; q < quarters; ++q) {
            const std::uint32_t base = q * kDivision;
            // controllers: volume every quarter, modulation every other, pan every bar
            ev.push_back({base,
                          {static_cast<std::uint8_t>(0xB0 | ch), 7,
                           static_cast<std::uint8_t>(80 + (q * 7 + ch) % 40)}});
            if (q % 2 == 0)
                ev.push_back({base,
                              {static_cast<std::uint8_t>(0xB0 | ch), 1,
                               static_cast<std::uint8_t>((q * 13) % 128)}});
            if (q % 4 == 0)
                ev.push_back({base,
                              {static_cast<std::uint8_t>(0xB0 | ch), 10,
                               static_cast<std::uint8_t>((q * 5 + ch * 9) % 128)}});
            for (std::uint32_t k = 0; k < 4; ++k) {
                const std::uint32_t t = base + k * (kDivision / 4);
                const std::uint8_t status = static_cast<std::uint8_t>(0x90 | ch);
                if (drums) {
                    const auto key = static_cast<std::uint8_t>(kFirstDrumKey + (q + k) % kDrumKeys);
                    ev.push_back({t, {status, key, 100}});
                    ev.push_back({t + 60, {status, key, 0}});
                    ++piece.notes;
                    continue;
                }
                const std::uint8_t root = static_cast<std::uint8_t>(36 + (q * 3 + k * 5 + ch) % 48);
                for (std::uint8_t n : {root, static_cast<std::uint8_t>(root + 4)}) {
                    ev.push_back({t, {status, n, static_cast<std::uint8_t>(70 + k * 10)}});
                    ev.push_back({t + 100, {static_cast<std::uint8_t>(0x80 | ch), n, 64}});
                    ++piece.notes;
                }
                if (k % 2 == 1) {  // a bend up and back every eighth
                    const std::uint32_t bend = 8192 + ((q + ch) % 8) * 256;
                    ev.push_back({t + 20,
                                  {static_cast<std::uint8_t>(0xE0 | ch),
                                   static_cast<std::uint8_t>(bend & 0x7F),
                                   static_cast<std::uint8_t>(bend >> 7)}});
                    ev.push_back({t + 100, {static_cast<std::uint8_t>(0xE0 | ch), 0x00, 0x40}});
                }
            }
        }
        chunks.push_back(trackChunk(std::move(ev)));
    }

    piece.bytes = fileOf(chunks);
    return piece;
}

// Few notes over many rows: a 32nd note on channel 0 every other bar (which
// makes the row grid fine) and a note on channel 1 held for 16 bars at a time,
// at a steady 120 beats per minute.
Piece makeSparsePiece(double minutes) {
    Piece piece;
    const auto bars = static_cast<std::uint32_t>(minutes * 30.0);
    piece.seconds = bars * 2.0;
    const std::uint32_t bar = 4 * kDivision;
    std::vector<TimedEvent> conductor = {{0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}}};
    std::vector<TimedEvent> ev = {{0, {0xC0, 1}}, {0, {0xC1, 49}}};
    for (std::uint32_t b = 0; b < bars; ++b) {
        const auto key = static_cast<std::uint8_t>(48 + b % 24);
        if (b % 2 == 0) {
            ev.push_back({b * bar, {0x90, key, 96}});
            ev.push_back({b * bar + kDivision / 8, {0x80, key, 64}});
            ++piece.notes;
        }
        if (b % 16 == 0) {
            const std::uint32_t end = std::min(b + 16, bars) * bar - kDivision;
            ev.push_back({b * bar, {0x91, static_cast<std::uint8_t>(key + 7), 80}});
            ev.push_back({end, {0x81, static_cast<std::uint8_t>(key + 7), 64}});
            ++piece.notes;
        }
    }
    conductor.push_back({bars * bar, {0xFF, 0x01, 0x03, 'e', 'n', 'd'}});
    piece.bytes = fileOf({trackChunk(std::move(conductor)), trackChunk(std::move(ev))});
    return piece;
}

// What a measuring process found, handed to the parent through a pipe.
constexpr std::size_t kStageCount = 1 + std::size(kStagesAfterReading);

struct Figures {
    std::size_t midiBytes = 0;
    std::size_t outputBytes = 0;
    unsigned patterns = 0;
    unsigned channels = 0;
    unsigned instruments = 0;
    unsigned patchFiles = 0;          // distinct patch files the conversion opened
    std::size_t patchBytes = 0;       // their total size
    double median = 0;                // conversion, seconds
    double ioFloor = 0;               // median I/O floor, seconds
    long basePeakKiB = 0;             // high-water mark before the first conversion
    long peakKiB = 0;                 // high-water mark of the whole process
    double stages[kStageCount] = {};  // seconds of each stage in the median conversion
};

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A temporary folder that is removed with the files named in it.
class TempFolder {
  public:
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/convert_bench-XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        if (path_.empty()) return;
        for (const std::string& name : files_) std::remove(name.c_str());
        rmdir(path_.c_str());
    }
    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name) {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }

  private:
    std::string path_;
    std::vector<std::string> files_;
};

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && wrote;
}

// One conversion as the converter runs it: the MIDI file is read whole and
// its bytes are given back once the events are read; the module goes through
// a FileSink into a new file that is closed at the end.
bool convertFile(RunState& run, const std::string& midiPath, const std::string& outPath,
                 Figures& fig, std::set<std::string>& patchPaths, double (&stages)[kStageCount]) {
    auto start = std::chrono::steady_clock::now();
    FileBytes midi;
    int errorNumber = 0;
    if (!readWholeFile(midiPath, midi, errorNumber)) return false;
    StreamBuffer streamBuffer;  // the converter's buffer for its temporary output file
    std::FILE* f = std::fopen(outPath.c_str(), "wb");
    if (!f) return false;
    FileState file;
    NullConsole out;
    FileSink sink(f, streamBuffer.attachTo(f));
    fig.midiBytes = midi.size();
    ByteReader in(midi);
    Status status = readMidiFile(run, in, file, out, makeTrackSummarizer);
    FileBytes().swap(midi);
    stages[0] = secondsSince(start);
    for (std::size_t i = 0; i < std::size(kStagesAfterReading) && status == Status::Ok; ++i) {
        start = std::chrono::steady_clock::now();
        status = kStagesAfterReading[i].run(run, file, sink, out);
        stages[i + 1] = secondsSince(start);
    }
    const bool converted = status == Status::Ok && sink.ok();
    const bool closed = std::fclose(f) == 0;
    fig.outputBytes = static_cast<std::size_t>(sink.written());
    fig.patterns = file.header.patternCount;
    fig.channels = file.header.channelCount;
    fig.instruments = static_cast<unsigned>(file.instruments.size());
    // The entries given a module instrument are the ones whose patch was opened.
    for (const PatchMapEntry& entry : run.patchMap)
        if (entry.instrument != 0 && entry.hasPath) patchPaths.insert(entry.patchPath);
    resetFileState(run, file);
    return converted && closed;
}

// The least the conversion's I/O could cost: every input file read once and
// a file of the module's size written in large blocks.
bool ioFloorOnce(const std::string& midiPath, const std::set<std::string>& patchPaths,
                 const std::string& outPath, Figures& fig, double& seconds) {
    static const std::vector<std::uint8_t> block(1 << 16);
    std::remove(outPath.c_str());
    const auto start = std::chrono::steady_clock::now();
    FileBytes bytes;
    int errorNumber = 0;
    if (!readWholeFile(midiPath, bytes, errorNumber)) return false;
    fig.patchBytes = 0;
    for (const std::string& path : patchPaths) {
        if (!readWholeFile(path, bytes, errorNumber)) return false;
        fig.patchBytes += bytes.size();
    }
    std::FILE* f = std::fopen(outPath.c_str(), "wb");
    if (!f) return false;
    bool wrote = true;
    for (std::size_t left = fig.outputBytes; left > 0 && wrote;) {
        const std::size_t n = std::min(left, block.size());
        wrote = std::fwrite(block.data(), 1, n, f) == n;
        left -= n;
    }
    const bool closed = std::fclose(f) == 0;
    seconds = secondsSince(start);
    return wrote && closed;
}

// Conversion and I/O floor alternate so that both see the same load on the
// machine; the module and the floor file go beside the MIDI file.
bool measureFile(RunState& run, const std::string& midiPath, Figures& fig) {
    const std::string outPath = midiPath + ".xm";
    const std::string floorPath = midiPath + ".floor";
    std::vector<double> times, floors;
    std::vector<std::vector<double>> stages(kRuns, std::vector<double>(kStageCount));
    std::set<std::string> patchPaths;
    bool ok = true;
    for (int i = 0; i < kRuns && ok; ++i) {
        std::remove(outPath.c_str());
        const auto start = std::chrono::steady_clock::now();
        double runStages[kStageCount] = {};
        ok = convertFile(run, midiPath, outPath, fig, patchPaths, runStages);
        times.push_back(secondsSince(start));
        std::copy(std::begin(runStages), std::end(runStages), stages[times.size() - 1].begin());
        // A floor run right after a conversion is slowed, by up to 3 ms on the
        // dense piece, by what the conversion leaves behind (the module just
        // written still on its way to the disk, memory just handed back): of
        // two runs in a row the faster one counts.
        double first = 0, second = 0;
        ok = ok && ioFloorOnce(midiPath, patchPaths, floorPath, fig, first) &&
             ioFloorOnce(midiPath, patchPaths, floorPath, fig, second);
        floors.push_back(std::min(first, second));
    }
    std::remove(outPath.c_str());
    std::remove(floorPath.c_str());
    fig.median = median(times);
    // The stages of the conversion whose time is the median.
    const auto at =
        static_cast<std::size_t>(std::find(times.begin(), times.end(), fig.median) - times.begin());
    std::copy(stages[at].begin(), stages[at].end(), fig.stages);
    fig.ioFloor = median(floors);
    fig.patchFiles = static_cast<unsigned>(patchPaths.size());
    return ok;
}

std::string describeIndex(std::size_t index) {
    char text[32];
    if (index >= kPercussionBase)
        std::snprintf(text, sizeof text, "key %zu", index - kPercussionBase);
    else
        std::snprintf(text, sizeof text, "program %zu", index);
    return text;
}

// Fills the map from bank 0 and drumset 0 of a TiMidity configuration; with
// `report`, says how much of the dense piece it covers.
bool loadPatchSet(const std::string& configFile, RunState& run, bool report) {
    namespace pk = korvalin::patchkit;
    pk::TimidityConfig config;
    const bool read = pk::readTimidityConfig(configFile, config);
    if (report)
        for (const std::string& e : config.errors)
            std::fprintf(stderr, "convert_bench: %s\n", e.c_str());
    if (!read) return false;
    unsigned mapped = 0;
    auto add = [&](std::size_t index, const pk::PatchSource& source) {
        std::uint16_t first = 0;
        std::string error;
        if (!pk::checkGf1Patch(source.file, first, error)) {
            if (report)
                std::fprintf(stderr, "convert_bench: %s: %s\n", source.file.c_str(), error.c_str());
            return;
        }
        PatchMapEntry& entry = run.patchMap[index];
        entry.hasPath = true;
        entry.patchPath = source.file.string();
        entry.patchInstrument = first;
        entry.releaseFactor = 1000;
        ++mapped;
    };
    for (const auto& [program, source] : config.programs)
        if (program >= 0 && program < 128) add(static_cast<std::size_t>(program), source);
    for (const auto& [key, source] : config.drums)
        if (key >= 0 && key < 128) add(kPercussionBase + static_cast<std::size_t>(key), source);
    if (!report) return true;

    const std::vector<std::size_t> used = pieceMapIndices();
    std::string missing;
    unsigned missingCount = 0;
    for (std::size_t index : used)
        if (!run.patchMap[index].hasPath) {
            missing += (missingCount++ ? ", " : "") + describeIndex(index);
        }
    std::printf("%s: %u map entries; the dense piece uses %zu programs and keys, %u unmapped%s%s\n",
                configFile.c_str(), mapped, used.size(), missingCount, missingCount ? ": " : "",
                missing.c_str());
    return true;
}

// High-water mark of this process's own memory: VmHWM belongs to the address
// space exec made, unlike getrusage's figure, which also counts the parent's
// memory shared before the exec.
long peakKiB() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
    std::fclose(f);
    return kib;
}

// The measuring process: `--measure MIDI CONFIG|- FD`.
int measureMain(const std::string& midiPath, const std::string& configFile, int resultFd) {
    RunState run;
    if (configFile != "-" && !loadPatchSet(configFile, run, false)) return 1;
    Figures fig;
    fig.basePeakKiB = peakKiB();
    if (!measureFile(run, midiPath, fig)) {
        std::fprintf(stderr, "convert_bench: converting %s failed\n", midiPath.c_str());
        return 1;
    }
    fig.peakKiB = peakKiB();
    return write(resultFd, &fig, sizeof fig) == static_cast<ssize_t>(sizeof fig) ? 0 : 1;
}

// Starts a fresh copy of this program to measure one case.
bool runCase(const std::string& midiPath, const std::string& configFile, Figures& fig) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::string self = "/proc/self/exe";
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args = {"convert_bench", "--measure", midiPath, configFile, fd};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = 0;
    const bool started =
        posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
    close(fds[1]);
    const bool got = started && read(fds[0], &fig, sizeof fig) == static_cast<ssize_t>(sizeof fig);
    close(fds[0]);
    int status = 0;
    if (started) waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double mib(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

struct Case {
    std::string name;
    std::string midiPath;
    bool patches;
    Figures fig;
};

void printRow(const Case& c) {
    const Figures& f = c.fig;
    std::printf("%-15s %9zu %10zu %4u %3u %5u %8.4f %8.4f %6.2f %8.1f %8.1f %8.1f\n",
                c.name.c_str(), f.midiBytes, f.outputBytes, f.patterns, f.channels, f.instruments,
                f.median, f.ioFloor, f.median / f.ioFloor, f.basePeakKiB / 1024.0,
                f.peakKiB / 1024.0, mib(static_cast<double>(f.outputBytes)) + 16.0);
}

// The generated pieces as files, for comparisons of converter builds.
bool writePieces(const std::string& folder) {
    const std::pair<const char*, Piece> pieces[] = {
        {"dense-1.mid", makePiece(1)},
        {"dense-3.mid", makePiece(3)},
        {"dense-10.mid", makePiece(10)},
        {"sparse-40.mid", makeSparsePiece(40)},
    };
    for (const auto& [name, piece] : pieces)
        if (!writeFile(folder + "/" + name, piece.bytes)) {
            std::perror(name);
            return false;
        }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--measure") == 0)
        return measureMain(argv[2], argv[3], std::atoi(argv[4]));
    double minutes = 10.0;
    std::string configFile = "/etc/timidity/freepats.cfg";
    std::string demoFile = KORVALIN_DEMO_MIDI;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        char* end = nullptr;
        if (arg.rfind("--pieces=", 0) == 0) return writePieces(arg.substr(9)) ? 0 : 1;
        if (arg.rfind("--freepats=", 0) == 0) {
            configFile = arg.substr(11);
        } else if (arg.rfind("--demo=", 0) == 0) {
            demoFile = arg.substr(7);
        } else if (arg != "--freepats") {
            minutes = std::strtod(arg.c_str(), &end);
            if (end == arg.c_str() || *end != '\0' || !(minutes > 0)) {
                std::fprintf(stderr,
                             "usage: convert_bench [--freepats=CONFIG] [--demo=MIDI] [minutes]\n");
                return 2;
            }
        }
    }
    RunState check;
    if (!loadPatchSet(configFile, check, true)) return 1;

    TempFolder folder;
    if (!folder.ok()) {
        std::perror("convert_bench: temporary folder");
        return 1;
    }
    std::vector<Case> cases;
    auto addPiece = [&](const std::string& name, const Piece& piece, bool patches) {
        const std::string path = folder.file(name + ".mid");
        folder.file(name + ".mid.xm");
        folder.file(name + ".mid.floor");
        if (!writeFile(path, piece.bytes)) std::perror(path.c_str());
        std::printf("%-15s %5.1f min, %u notes\n", name.c_str(), piece.seconds / 60.0, piece.notes);
        cases.push_back({name, path, patches, {}});
    };
    const double sparseMinutes = 40.0;
    {
        const Piece dense = makePiece(minutes), dense2 = makePiece(2 * minutes);
        addPiece("dense", dense, true);
        addPiece("dense-x2", dense2, true);
        addPiece("dense-empty", dense, false);
        addPiece("dense-empty-x2", dense2, false);
        addPiece("sparse", makeSparsePiece(sparseMinutes), true);
    }
    cases.push_back({"demo", demoFile, true, {}});

    std::printf("\n%-15s %9s %10s %4s %3s %5s %8s %8s %6s %8s %8s %8s\n", "case", "MIDI B",
                "module B", "pat", "ch", "instr", "conv s", "I/O s", "ratio", "base MiB",
                "peak MiB", "budget");
    for (Case& c : cases) {
        if (!runCase(c.midiPath, c.patches ? configFile : "-", c.fig)) {
            std::fprintf(stderr, "convert_bench: case %s failed\n", c.name.c_str());
            return 1;
        }
        printRow(c);
    }
    std::printf("\n%-15s %12s", "stage ms", "read MIDI");
    for (const Stage& stage : kStagesAfterReading) std::printf(" %14s", stage.name);
    std::printf("\n");
    for (const Case& c : cases) {
        std::printf("%-15s", c.name.c_str());
        for (std::size_t i = 0; i < kStageCount; ++i)
            std::printf(" %*.2f", i == 0 ? 12 : 14, c.fig.stages[i] * 1000.0);
        std::printf("\n");
    }
    std::printf(
        "\ndoubling ratio (time of the piece twice as long / the piece): dense %.2f, "
        "dense-empty %.2f\n",
        cases[1].fig.median / cases[0].fig.median, cases[3].fig.median / cases[2].fig.median);
    std::printf("dense: %u patch files (%.1f MiB) read once by the I/O floor\n",
                cases[0].fig.patchFiles, mib(static_cast<double>(cases[0].fig.patchBytes)));
    return 0;
}
