// Builds event stores directly in a FileState, for tests of the stages after
// the MIDI reader. Note numbers are given as stored (melodic notes plus one).
//
//   file.midi = store(96, {{on(0, 0, 61, 100), off(96, 0, 61), end(96)},
//                          {tempo(0, 500000), end(0)}});
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "driver/State.h"

namespace korvalin::test {

inline MidiEvent channelEvent(std::uint32_t time, std::uint8_t status, std::uint8_t data1,
                              std::uint8_t data2 = 0) {
    MidiEvent e;
    e.time = time;
    e.status = status;
    e.data1 = data1;
    e.data2 = data2;
    return e;
}

inline MidiEvent on(std::uint32_t time, std::uint8_t channel, std::uint8_t note,
                    std::uint8_t velocity = 100) {
    return channelEvent(time, static_cast<std::uint8_t>(0x90 | channel), note, velocity);
}
inline MidiEvent off(std::uint32_t time, std::uint8_t channel, std::uint8_t note) {
    return channelEvent(time, static_cast<std::uint8_t>(0x80 | channel), note, 0);
}
inline MidiEvent program(std::uint32_t time, std::uint8_t channel, std::uint8_t number) {
    return channelEvent(time, static_cast<std::uint8_t>(0xC0 | channel), number);
}

inline MidiEvent meta(std::uint32_t time, std::uint8_t type, std::vector<std::uint8_t> payload) {
    MidiEvent e;
    e.time = time;
    e.status = kStatusMeta;
    e.metaType = type;
    e.length = static_cast<std::uint32_t>(payload.size());
    e.data = std::move(payload);
    return e;
}
inline MidiEvent tempo(std::uint32_t time, std::uint32_t usPerQuarter) {
    return meta(time, kMetaSetTempo,
                {static_cast<std::uint8_t>(usPerQuarter >> 16),
                 static_cast<std::uint8_t>(usPerQuarter >> 8),
                 static_cast<std::uint8_t>(usPerQuarter)});
}
inline MidiEvent end(std::uint32_t time) { return meta(time, kMetaEndOfTrack, {}); }

inline MidiFileHeader store(std::uint16_t division,
                            std::vector<std::vector<MidiEvent>> tracks) {
    MidiFileHeader h;
    h.format = 1;
    h.division = division;
    for (auto& events : tracks) h.tracks.push_back(MidiTrack{kMidiTrackId, 0, std::move(events), false});
    h.trackCount = static_cast<std::uint16_t>(h.tracks.size());
    return h;
}

}  // namespace korvalin::test
