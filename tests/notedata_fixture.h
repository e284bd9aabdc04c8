// Builders for the note-data tests: a run and file state with instruments and
// map entries made in code, events placed on the row grid, and a decoder for
// packed pattern rows.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "base/Console.h"
#include "base/State.h"
#include "score/NoteData.h"
#include "support/EventStore.h"

namespace korvalin::test {

// One instrument with a single sample covering every note, one semitone per key.
inline InstrumentRecord plainInstrument() {
    InstrumentRecord instrument;
    instrument.samples.resize(1);
    instrument.samples[0].scaleRoot = 60;
    instrument.samples[0].scaleFactor = 1024;
    instrument.sampleCount = 1;
    return instrument;
}

// Instrument whose volume envelope has a sustain point and the given release.
inline InstrumentRecord sustainedInstrument(std::uint32_t releaseTime) {
    InstrumentRecord instrument = plainInstrument();
    instrument.volumeType = kEnvelopeOn | kEnvelopeSustain;
    instrument.volumePointCount = 2;
    instrument.volumeEnvelope[1].x = 10;
    instrument.releaseTime = releaseTime;
    return instrument;
}

// Two MIDI ticks a row at division 96, one track.
struct Score {
    RunState run;
    FileState file;
    NullConsole console;

    explicit Score(std::uint32_t speed = 1, std::uint32_t maxChannels = 8) {
        run.settings.maxChannels = maxChannels;
        file.midi.division = 96;
        file.timing.ticksPerRow = 2;
        file.timing.speed = speed;
        file.midi.tracks.resize(1);
    }

    // Adds an instrument and maps program (0..127) or 128 + key to it.
    std::uint8_t addInstrument(std::size_t mapIndex, InstrumentRecord instrument,
                               std::uint32_t releaseFactor = 1000) {
        file.instruments.push_back(std::move(instrument));
        const auto number = static_cast<std::uint8_t>(file.instruments.size());
        run.patchMap[mapIndex].instrument = number;
        run.patchMap[mapIndex].releaseFactor = releaseFactor;
        return number;
    }

    NoteContext context() { return NoteContext(run, file, run.settings.maxChannels, console); }
};

// The event placed in the given row (at two MIDI ticks a row) and module tick.
inline MidiEvent at(MidiEvent event, std::uint16_t row, std::uint16_t tick = 0) {
    event.row = row;
    event.tick = tick;
    event.time = row * 2u;
    return event;
}

// Unpacked cell; -1 marks an absent field.
struct Cell {
    int note = -1, instrument = -1, volume = -1, effect = -1, param = -1;
    bool operator==(const Cell&) const = default;
};
inline Cell cellOf(const NoteCell& n) {
    return {n.note, n.instrument, n.volume, n.effect, n.param};
}
inline void PrintTo(const Cell& c, std::ostream* os) {
    *os << '{' << c.note << ", " << c.instrument << ", " << c.volume << ", " << c.effect << ", "
        << c.param << '}';
}

// Rows of cells of a packed pattern with the given number of channels.
inline std::vector<std::vector<Cell>> unpack(const PatternRecord& pattern, std::size_t channels) {
    std::vector<std::vector<Cell>> rows;
    std::size_t pos = 0;
    for (std::size_t r = 0; r < pattern.rowCount; ++r) {
        std::vector<Cell> row(channels);
        for (Cell& cell : row) {
            const std::uint8_t flags = pattern.packedData.at(pos++);
            int* fields[] = {&cell.note, &cell.instrument, &cell.volume, &cell.effect, &cell.param};
            for (int f = 0; f < 5; ++f)
                if (flags & (1 << f)) *fields[f] = pattern.packedData.at(pos++);
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace korvalin::test
