// Builders for the note-data tests: a run and file state with instruments and
// map entries made in code, MIDI events already placed on the row grid, and a
// decoder for packed pattern rows.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/Console.h"
#include "driver/State.h"
#include "score/NoteData.h"

namespace korvalin::testing {

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

inline MidiEvent channelEvent(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                              std::uint32_t pattern = 0, std::uint16_t row = 0,
                              std::uint16_t tick = 0, std::uint32_t time = 0) {
    MidiEvent event;
    event.status = status;
    event.data1 = data1;
    event.data2 = data2;
    event.pattern = pattern;
    event.row = row;
    event.tick = tick;
    event.time = time;
    return event;
}

inline MidiEvent metaEvent(std::uint8_t type, std::vector<std::uint8_t> payload,
                           std::uint32_t pattern = 0, std::uint16_t row = 0) {
    MidiEvent event;
    event.status = kStatusMeta;
    event.metaType = type;
    event.data = std::move(payload);
    event.length = static_cast<std::uint32_t>(event.data.size());
    event.pattern = pattern;
    event.row = row;
    return event;
}

// Unpacked cell; -1 marks an absent field.
struct Cell {
    int note = -1, instrument = -1, volume = -1, effect = -1, param = -1;
    bool operator==(const Cell&) const = default;
};

// Rows of cells of a packed pattern with the given number of channels.
inline std::vector<std::vector<Cell>> unpack(const PatternRecord& pattern, std::size_t channels) {
    std::vector<std::vector<Cell>> rows;
    std::size_t pos = 0;
    for (std::size_t r = 0; r < pattern.rowCount; ++r) {
        std::vector<Cell> row(channels);
        for (Cell& cell : row) {
            const std::uint8_t flags = pattern.packedData.at(pos++);
            int* fields[5] = {&cell.note, &cell.instrument, &cell.volume, &cell.effect, &cell.param};
            for (int f = 0; f < 5; ++f)
                if (flags & (1 << f)) *fields[f] = pattern.packedData.at(pos++);
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace korvalin::testing
