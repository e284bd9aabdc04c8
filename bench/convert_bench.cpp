// Conversion benchmark: generates a dense General MIDI piece in memory
// (16 channels, chords, drums, tempo changes, pitch bends, controllers), runs
// the whole stage sequence on it with an empty patch map into memory, and
// reports the median wall time of five runs and the peak memory, for a piece
// of the given length and for one twice as long.
//
//   convert_bench [minutes]     (default 10)
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
#include <vector>

#include "driver/ByteIO.h"
#include "driver/Console.h"
#include "driver/Driver.h"
#include "driver/State.h"

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
        conductor.push_back({bar * 4 * kDivision, {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(t >> 16),
                                                   static_cast<std::uint8_t>(t >> 8),
                                                   static_cast<std::uint8_t>(t)}});
    }
    chunks.push_back(trackChunk(std::move(conductor)));

    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        std::vector<TimedEvent> ev;
        const bool drums = ch == 9;
        ev.push_back({0, {static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(ch * 8 + 1)}});
        for (std::uint32_t q = 0; q < quarters; ++q) {
            const std::uint32_t base = q * kDivision;
            // controllers: volume every quarter, modulation every other, pan every bar
            ev.push_back({base, {static_cast<std::uint8_t>(0xB0 | ch), 7,
                                 static_cast<std::uint8_t>(80 + (q * 7 + ch) % 40)}});
            if (q % 2 == 0)
                ev.push_back({base, {static_cast<std::uint8_t>(0xB0 | ch), 1,
                                     static_cast<std::uint8_t>((q * 13) % 128)}});
            if (q % 4 == 0)
                ev.push_back({base, {static_cast<std::uint8_t>(0xB0 | ch), 10,
                                     static_cast<std::uint8_t>((q * 5 + ch * 9) % 128)}});
            for (std::uint32_t k = 0; k < 4; ++k) {
                const std::uint32_t t = base + k * (kDivision / 4);
                const std::uint8_t status = static_cast<std::uint8_t>(0x90 | ch);
                if (drums) {
                    const std::uint8_t key = static_cast<std::uint8_t>(35 + (q + k) % 12);
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
                    ev.push_back({t + 20, {static_cast<std::uint8_t>(0xE0 | ch),
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

struct RunResult {
    bool ok = false;
    std::size_t outputBytes = 0;
    unsigned patterns = 0;
    unsigned channels = 0;
    unsigned ticksPerRow = 0;
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
    r.ticksPerRow = file.timing.ticksPerRow;
    resetFileState(run, file);
    return r;
}

// Runs in a child: prints one line and hands the median time to the parent.
int measure(double minutes, int resultFd) {
    const Piece piece = makePiece(minutes);
    RunState run;
    std::vector<double> times;
    RunResult result;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        result = convertOnce(run, piece.bytes);
        const auto stop = std::chrono::steady_clock::now();
        if (!result.ok) {
            std::fprintf(stderr, "conversion of the %.0f-minute piece failed\n", minutes);
            return 1;
        }
        times.push_back(std::chrono::duration<double>(stop - start).count());
    }
    std::sort(times.begin(), times.end());
    const double median = times[kRuns / 2];
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%5.1f min: %7u notes, %8zu MIDI bytes -> %9zu XM bytes, %3u patterns, "
                "%2u channels, %u ticks/row; median %.3f s, peak RSS %ld KiB\n",
                piece.seconds / 60.0, piece.notes, piece.bytes.size(), result.outputBytes,
                result.patterns, result.channels, result.ticksPerRow, median, usage.ru_maxrss);
    std::fflush(stdout);
    if (write(resultFd, &median, sizeof median) != static_cast<ssize_t>(sizeof median)) return 1;
    return 0;
}

bool runChild(double minutes, double& median) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        std::_Exit(measure(minutes, fds[1]));
    }
    close(fds[1]);
    const bool got = read(fds[0], &median, sizeof median) == static_cast<ssize_t>(sizeof median);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: convert_bench [minutes]\n");
        return 2;
    }
    double single = 0;
    double twice = 0;
    if (!runChild(minutes, single) || !runChild(2 * minutes, twice)) return 1;
    std::printf("time ratio (double length / single length): %.2f\n", twice / single);
    return 0;
}
