// Event stores for tests of the stages after the MIDI reader; note numbers
// are given as stored (melodic notes plus one):
//   file.midi = store(96, {{on(0, 0, 61, 100), off(96, 0, 61), end(96)}, {end(0)}});
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "base/State.h"

namespace korvalin::test {

inline MidiEvent channelEvent(std::uint32_t time, int status, int data1, int data2 = 0) {
    MidiEvent e;
    e.time = time;
    e.status = static_cast<std::uint8_t>(status);
    e.data1 = static_cast<std::uint8_t>(data1);
    e.data2 = static_cast<std::uint8_t>(data2);
    return e;
}
inline MidiEvent on(std::uint32_t time, int channel, int note, int velocity = 100) {
    return channelEvent(time, 0x90 | channel, note, velocity);
}
inline MidiEvent off(std::uint32_t time, int channel, int note) {
    return channelEvent(time, 0x80 | channel, note);
}
inline MidiEvent program(std::uint32_t time, int channel, int number) {
    return channelEvent(time, 0xC0 | channel, number);
}

inline MidiEvent end(std::uint32_t time) {
    MidiEvent e;
    e.time = time;
    e.status = kStatusMeta;
    e.metaType = kMetaEndOfTrack;
    return e;
}

inline MidiFileHeader store(std::uint16_t division, std::vector<std::vector<MidiEvent>> tracks) {
    MidiFileHeader h;
    h.format = 1;
    h.division = division;
    for (auto& events : tracks)
        h.tracks.push_back(MidiTrack{kMidiTrackId, 0, std::move(events), false});
    h.trackCount = static_cast<std::uint16_t>(h.tracks.size());
    return h;
}

}  // namespace korvalin::test
