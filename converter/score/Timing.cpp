// Row grid: how many MIDI ticks one pattern row covers, the module's speed
// and starting BPM, and the pattern, row and tick of every event.
#include <cstdint>

#include "score/Score.h"

namespace korvalin {
namespace {

// The music fills at most 255 patterns (65025 rows), one order-table entry
// short of the module's limit, so the closing pattern always has room.
constexpr std::uint32_t kMaxRows = (kOrderTableSize - 1) * kRowsPerPattern;
constexpr std::uint32_t kMaxSpeed = 5;
// Each round of the search either shrinks the grid by a quarter or jumps it up
// to the next usable size, so a few hundred rounds cover any 32-bit grid.
constexpr int kMaxSearchRounds = 1000;

class GridSearch {
  public:
    GridSearch(std::uint16_t division, std::uint32_t tempo, std::uint32_t lastTime)
        : x_(static_cast<double>(division) * 60000000.0), tempo_(tempo), lastTime_(lastTime) {}

    // Module ticks one row of `ticksPerRow` MIDI ticks must last at 255 BPM to
    // take as long as at the fastest tempo (6120 = 255 x 24). Values above the
    // largest usable speed are all reported as kMaxSpeed + 1.
    std::uint32_t speedAt(std::uint32_t ticksPerRow) const {
        const double s =
            static_cast<double>(ticksPerRow) * 6120.0 * static_cast<double>(tempo_) / x_;
        return s >= static_cast<double>(kMaxSpeed + 1) ? kMaxSpeed + 1
                                                       : static_cast<std::uint32_t>(s);
    }
    bool fits(std::uint32_t ticksPerRow) const { return lastTime_ / ticksPerRow <= kMaxRows; }
    // True when the grid is too fine: a row would last less than one module
    // tick at 255 BPM, or the piece would need more than 255 patterns. Both
    // hold for every grid below some size and for none above it.
    bool tooFine(std::uint32_t ticksPerRow) const {
        return ticksPerRow == 0 || speedAt(ticksPerRow) == 0 || !fits(ticksPerRow);
    }
    // The smallest grid that fits the piece at all.
    std::uint32_t smallestFit() const { return lastTime_ / (kMaxRows + 1) + 1; }
    // The smallest grid above `ticksPerRow` that is not too fine; the same as
    // stepping up one tick at a time. Returns 0 when there is none.
    std::uint32_t nextUsable(std::uint32_t ticksPerRow) const {
        std::uint32_t lo = ticksPerRow;  // too fine
        std::uint32_t hi = UINT32_MAX;
        if (tooFine(hi)) return 0;
        while (hi - lo > 1) {
            const std::uint32_t mid = lo + (hi - lo) / 2;
            if (tooFine(mid)) {
                lo = mid;
            } else {
                hi = mid;
            }
        }
        return hi;
    }
    std::uint32_t bpm(std::uint32_t speed, std::uint32_t ticksPerRow) const {
        const double b = static_cast<double>(speed) * x_ /
                         (static_cast<double>(ticksPerRow) * 24.0 * static_cast<double>(tempo_));
        return static_cast<std::uint32_t>(b);
    }

  private:
    double x_;
    std::uint32_t tempo_;
    std::uint32_t lastTime_;
};

}  // namespace

Status chooseTiming(const RunState&, FileState& file, Console& out) {
    const std::uint16_t division = file.midi.division;
    const std::uint32_t tempo = file.timing.fastestTempo;
    if (division == 0) {
        out.print("ERROR: MIDI division of 0 ticks per quarter note is not supported\n");
        return Status::Failed;
    }
    if (tempo == 0) {
        out.print("ERROR: A set-tempo value of 0 is not supported\n");
        return Status::Failed;
    }

    // The end of the music: the latest last event of any track.
    std::uint32_t lastTime = 0;
    for (const MidiTrack& track : file.midi.tracks) {
        if (!track.events.empty() && track.events.back().time > lastTime) {
            lastTime = track.events.back().time;
        }
    }

    // Grow the grid while it is too fine; shrink it by a quarter while a row
    // needs more than five module ticks. If a shrink would fall below a grid
    // that was already found too long for 255 patterns, growing and shrinking
    // would alternate for ever: no grid suits the piece.
    const GridSearch search(division, tempo, lastTime);
    const std::uint32_t smallestFit = search.smallestFit();
    bool grewToFit = false;
    std::uint32_t ticksPerRow = file.timing.ticksPerRow;
    for (int round = 0; round < kMaxSearchRounds; ++round) {
        if (search.tooFine(ticksPerRow)) {
            if (ticksPerRow < smallestFit) grewToFit = true;
            ticksPerRow = search.nextUsable(ticksPerRow);
            if (ticksPerRow == 0) break;
        }
        const std::uint32_t speed = search.speedAt(ticksPerRow);
        if (speed <= kMaxSpeed) {
            file.timing.ticksPerRow = ticksPerRow;
            file.shortestNote = ticksPerRow;
            file.timing.speed = speed;
            file.timing.bpm = search.bpm(speed, ticksPerRow);
            return Status::Ok;
        }
        const std::uint32_t smaller = (ticksPerRow * 3) >> 2;
        if (smaller == 0) {
            out.print(
                "ERROR: MIDI division of %u ticks per quarter note is too coarse for "
                "the row grid\n",
                static_cast<unsigned>(division));
            return Status::Failed;
        }
        if (grewToFit && smaller < smallestFit) break;
        ticksPerRow = smaller;
    }
    out.print("ERROR: No row grid fits this piece into 255 patterns at its fastest tempo\n");
    return Status::Failed;
}

Status preconvertTracks(const RunState&, FileState& file, Console& out) {
    const std::uint32_t ticksPerRow = file.timing.ticksPerRow;
    out.print("Pre-converting tracks");
    if (ticksPerRow == 0) {
        // Only reachable when the timing stage was skipped.
        out.print("\nERROR: No row grid has been chosen\n");
        return Status::Failed;
    }
    // The row of an event is its time / ticksPerRow; the note-data builder
    // and the module header work it out from the times as they go.
    for (std::size_t t = 0; t < file.midi.tracks.size(); ++t) out.print(".");
    out.print("\n");
    return Status::Ok;
}

}  // namespace korvalin
