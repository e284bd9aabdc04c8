// Conversion benchmark: generates a dense General MIDI piece in memory
// (16 channels, chords, drums, tempo changes, pitch bends, controllers) and
// runs the whole stage sequence on it, reporting the median wall time of five
// runs and the peak memory.
//
//   convert_bench [--freepats[=CONFIG]] [minutes]     (default 10 minutes)
//
// Empty map: the piece is converted with an empty patch map into memory, for
// the given length and for twice that length; the ratio of the two times shows
// whether the cost grows linearly with the piece.
//
// --freepats adds a run of the given length with real instruments: the patch
// map is filled from the "N file" lines of bank 0 and drumset 0 of a TiMidity
// configuration (default /etc/timidity/freepats.cfg), the first instrument of
// each GF1 patch standing for its entry. Programs and keys the set lacks stay
// unmapped and are listed. Each of the five runs reads the MIDI file from a
// temporary folder and writes the module there through a FileSink, as the
// converter does. Beside each run the I/O floor is timed: reading the MIDI
// file and every patch file the conversion opened once each, and writing a
// file of the module's size into the same folder (neither is synced). The
// table gives conversion time / I/O floor.
//
// Peak memory is the child's getrusage high-water mark after its conversions;
// "base" is the mark before the first one, what generating the piece took.
//
// Each size runs in a child process so that its peak resident size is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "base/ByteIO.h"
#include "base/Console.h"
#include "base/State.h"
#include "driver/Driver.h"
#include "patchkit/PatchKit.h"

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

    Bytes& b = piece.bytes;
    b = {'M', 'T', 'h', 'd'};
    putU32BE(b, 6);
    putU16BE(b, 1);
    putU16BE(b, static_cast<std::uint16_t>(chunks.size()));
    putU16BE(b, static_cast<std::uint16_t>(kDivision));
    for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
    return piece;
}

// What a child process measured, handed to the parent through a pipe.
struct Figures {
    double minutes = 0;
    std::uint32_t notes = 0;
    std::size_t midiBytes = 0;
    std::size_t outputBytes = 0;
    unsigned patterns = 0;
    unsigned channels = 0;
    unsigned instruments = 0;
    unsigned patchFiles = 0;     // distinct patch files the conversion opened
    std::size_t patchBytes = 0;  // their total size
    double median = 0;           // conversion, seconds
    double ioFloor = 0;          // median I/O floor, seconds (0 without patches)
    long basePeakKiB = 0;        // high-water mark after generating the piece
    long peakKiB = 0;            // high-water mark after the conversions
};

struct RunResult {
    bool ok = false;
    std::size_t outputBytes = 0;
    unsigned patterns = 0;
    unsigned channels = 0;
    unsigned instruments = 0;
};

RunResult convertOnce(RunState& run, const Bytes& midi) {
    RunResult r;
    FileState file;
    NullConsole out;
    MemorySink sink;
    ByteReader in(midi);
    const bool ok = runStages(run, file, in, sink, out) == Status::Ok;
    r.ok = ok;
    r.outputBytes = sink.bytes.size();
    r.patterns = file.header.patternCount;
    r.channels = file.header.channelCount;
    r.instruments = static_cast<unsigned>(file.instruments.size());
    resetFileState(run, file);
    return r;
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

long peakKiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Empty patch map, output into memory.
bool measureEmpty(const Piece& piece, Figures& fig) {
    RunState run;
    std::vector<double> times;
    RunResult result;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        result = convertOnce(run, piece.bytes);
        const auto stop = std::chrono::steady_clock::now();
        if (!result.ok) return false;
        times.push_back(std::chrono::duration<double>(stop - start).count());
    }
    fig.median = median(times);
    fig.outputBytes = result.outputBytes;
    fig.patterns = result.patterns;
    fig.channels = result.channels;
    fig.instruments = result.instruments;
    return true;
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
    std::string file(const char* name) {
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

// One conversion as the converter runs it: the MIDI file is read whole, the
// module goes through a FileSink into a new file that is closed at the end.
bool convertFile(RunState& run, const std::string& midiPath, const std::string& outPath,
                 RunResult& result, std::set<std::string>& patchPaths) {
    Bytes midi;
    int errorNumber = 0;
    if (!readWholeFile(midiPath, midi, errorNumber)) return false;
    std::FILE* f = std::fopen(outPath.c_str(), "wb");
    if (!f) return false;
    FileState file;
    NullConsole out;
    FileSink sink(f);
    ByteReader in(midi);
    const bool converted = runStages(run, file, in, sink, out) == Status::Ok && sink.ok();
    const bool closed = std::fclose(f) == 0;
    result.ok = converted && closed;
    result.outputBytes = static_cast<std::size_t>(sink.written());
    result.patterns = file.header.patternCount;
    result.channels = file.header.channelCount;
    result.instruments = static_cast<unsigned>(file.instruments.size());
    // The entries given a module instrument are the ones whose patch was opened.
    for (const PatchMapEntry& entry : run.patchMap)
        if (entry.instrument != 0 && entry.hasPath) patchPaths.insert(entry.patchPath);
    resetFileState(run, file);
    return result.ok;
}

// The least the conversion's I/O could cost: every input file read once and
// a file of the module's size written in large blocks.
bool ioFloorOnce(const std::string& midiPath, const std::set<std::string>& patchPaths,
                 const std::string& outPath, std::size_t outputBytes, double& seconds,
                 std::size_t& patchBytes) {
    static const std::vector<std::uint8_t> block(1 << 16);
    std::remove(outPath.c_str());
    const auto start = std::chrono::steady_clock::now();
    Bytes bytes;
    int errorNumber = 0;
    if (!readWholeFile(midiPath, bytes, errorNumber)) return false;
    patchBytes = 0;
    for (const std::string& path : patchPaths) {
        if (!readWholeFile(path, bytes, errorNumber)) return false;
        patchBytes += bytes.size();
    }
    std::FILE* f = std::fopen(outPath.c_str(), "wb");
    if (!f) return false;
    bool wrote = true;
    for (std::size_t left = outputBytes; left > 0 && wrote;) {
        const std::size_t n = std::min(left, block.size());
        wrote = std::fwrite(block.data(), 1, n, f) == n;
        left -= n;
    }
    const bool closed = std::fclose(f) == 0;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return wrote && closed;
}

// Patch map from the configuration, files in a temporary folder; conversion
// and I/O floor alternate so that both see the same load on the machine.
bool measureWithPatches(RunState& run, Piece& piece, Figures& fig) {
    TempFolder folder;
    if (!folder.ok()) {
        std::perror("convert_bench: temporary folder");
        return false;
    }
    const std::string midiPath = folder.file("piece.mid");
    const std::string outPath = folder.file("piece.xm");
    const std::string floorPath = folder.file("floor.bin");
    if (!writeFile(midiPath, piece.bytes)) {
        std::perror(midiPath.c_str());
        return false;
    }
    // From here on only the converter's own data is held.
    Bytes().swap(piece.bytes);

    std::vector<double> times, floors;
    RunResult result;
    std::set<std::string> patchPaths;
    for (int i = 0; i < kRuns; ++i) {
        std::remove(outPath.c_str());
        const auto start = std::chrono::steady_clock::now();
        if (!convertFile(run, midiPath, outPath, result, patchPaths)) return false;
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        double floorTime = 0;
        if (!ioFloorOnce(midiPath, patchPaths, floorPath, result.outputBytes, floorTime,
                         fig.patchBytes)) {
            std::perror("convert_bench: I/O floor");
            return false;
        }
        floors.push_back(floorTime);
    }
    fig.median = median(times);
    fig.ioFloor = median(floors);
    fig.outputBytes = result.outputBytes;
    fig.patterns = result.patterns;
    fig.channels = result.channels;
    fig.instruments = result.instruments;
    fig.patchFiles = static_cast<unsigned>(patchPaths.size());
    return true;
}

// Runs in a child: hands its figures to the parent.
int measure(double minutes, RunState* patches, int resultFd) {
    Piece piece = makePiece(minutes);
    Figures fig;
    fig.minutes = piece.seconds / 60.0;
    fig.notes = piece.notes;
    fig.midiBytes = piece.bytes.size();
    fig.basePeakKiB = peakKiB();
    const bool ok = patches ? measureWithPatches(*patches, piece, fig) : measureEmpty(piece, fig);
    if (!ok) {
        std::fprintf(stderr, "conversion of the %.0f-minute piece failed\n", minutes);
        return 1;
    }
    fig.peakKiB = peakKiB();
    if (write(resultFd, &fig, sizeof fig) != static_cast<ssize_t>(sizeof fig)) return 1;
    return 0;
}

bool runChild(double minutes, RunState* patches, Figures& fig) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        std::_Exit(measure(minutes, patches, fds[1]));
    }
    close(fds[1]);
    const bool got = read(fds[0], &fig, sizeof fig) == static_cast<ssize_t>(sizeof fig);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string describeIndex(std::size_t index) {
    char text[32];
    if (index >= kPercussionBase)
        std::snprintf(text, sizeof text, "key %zu", index - kPercussionBase);
    else
        std::snprintf(text, sizeof text, "program %zu", index);
    return text;
}

// Fills the map from bank 0 and drumset 0 of a TiMidity configuration and
// reports how much of the piece it covers.
bool loadPatchSet(const std::string& configFile, RunState& run) {
    namespace pk = korvalin::patchkit;
    pk::TimidityConfig config;
    if (!pk::readTimidityConfig(configFile, config)) {
        for (const std::string& e : config.errors)
            std::fprintf(stderr, "convert_bench: %s\n", e.c_str());
        return false;
    }
    for (const std::string& e : config.errors)
        std::fprintf(stderr, "convert_bench: %s\n", e.c_str());
    unsigned mapped = 0;
    auto add = [&](std::size_t index, const pk::PatchSource& source) {
        std::uint16_t first = 0;
        std::string error;
        if (!pk::checkGf1Patch(source.file, first, error)) {
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

    const std::vector<std::size_t> used = pieceMapIndices();
    std::string missing;
    unsigned missingCount = 0;
    for (std::size_t index : used)
        if (!run.patchMap[index].hasPath) {
            missing += (missingCount++ ? ", " : "") + describeIndex(index);
        }
    std::printf("%s: %u map entries; the piece uses %zu programs and keys, %u unmapped%s%s\n",
                configFile.c_str(), mapped, used.size(), missingCount, missingCount ? ": " : "",
                missing.c_str());
    return true;
}

double mib(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

void printRow(const char* mode, const Figures& f) {
    std::printf("%-9s %5.1f %7u %9zu %11zu %4u %3u %5u %8.3f %8.1f %8.1f", mode, f.minutes, f.notes,
                f.midiBytes, f.outputBytes, f.patterns, f.channels, f.instruments, f.median,
                f.basePeakKiB / 1024.0, f.peakKiB / 1024.0);
    if (f.ioFloor > 0) std::printf(" %8.3f %6.2f", f.ioFloor, f.median / f.ioFloor);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 10.0;
    bool withPatches = false;
    std::string configFile = "/etc/timidity/freepats.cfg";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--freepats") {
            withPatches = true;
        } else if (arg.rfind("--freepats=", 0) == 0) {
            withPatches = true;
            configFile = arg.substr(11);
        } else {
            char* end = nullptr;
            minutes = std::strtod(arg.c_str(), &end);
            if (end == arg.c_str() || *end != '\0' || !(minutes > 0)) {
                std::fprintf(stderr, "usage: convert_bench [--freepats[=CONFIG]] [minutes]\n");
                return 2;
            }
        }
    }

    RunState patches;
    if (withPatches && !loadPatchSet(configFile, patches)) return 1;

    Figures single, twice, real;
    if (!runChild(minutes, nullptr, single) || !runChild(2 * minutes, nullptr, twice)) return 1;
    if (withPatches && !runChild(minutes, &patches, real)) return 1;

    std::printf("\n%-9s %5s %7s %9s %11s %4s %3s %5s %8s %8s %8s %8s %6s\n", "map", "min", "notes",
                "MIDI B", "module B", "pat", "ch", "instr", "median s", "base MiB", "peak MiB",
                "I/O s", "ratio");
    printRow("empty", single);
    printRow("empty", twice);
    if (withPatches) printRow("freepats", real);
    std::printf("\nempty map: time ratio (double length / single length) %.2f\n",
                twice.median / single.median);
    if (withPatches) {
        const double budget = 2.0 * static_cast<double>(real.outputBytes) + 16.0 * 1024 * 1024;
        std::printf(
            "freepats: %u patch files (%.1f MiB) read once by the I/O floor; "
            "peak %.1f MiB against 2 x module + 16 MiB = %.1f MiB\n",
            real.patchFiles, mib(static_cast<double>(real.patchBytes)), real.peakKiB / 1024.0,
            mib(budget));
    }
    return 0;
}
