// The checked-in demo song: it must be what the generator writes, and it must
// carry the material the demo is meant to show.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "../tools/demosong/DemoSong.h"
#include "base/ByteIO.h"
#include "midi/MidiReader.h"
#include "support/Process.h"

namespace korvalin::test {
namespace {

TEST(DemoSong, CheckedInFileIsTheGeneratorsOutput) {
    const auto onDisk = readBytes(sourceDir() / "demo" / "demo.mid");
    const auto built = demo::buildDemoSong();
    ASSERT_EQ(onDisk.size(), built.size()) << "regenerate demo/demo.mid with korvalin-demosong";
    for (std::size_t i = 0; i < built.size(); ++i)
        ASSERT_EQ(onDisk[i], built[i]) << "first difference at offset " << i;
}

TEST(DemoSong, CarriesWhatTheDemoShows) {
    const auto bytes = demo::buildDemoSong();
    RunState run;
    FileState file;
    CaptureConsole console;
    ByteReader in(bytes);
    ASSERT_EQ(readMidiFile(run, in, file, console), Status::Ok) << console.out;
    const MidiFileHeader& midi = file.midi;

    std::map<int, int> noteOns, sounding;  // per channel; per channel * 256 + key
    std::map<int, std::set<int>> controllers;
    std::set<int> bendChannels, programs;
    std::map<std::uint32_t, std::uint32_t> tempoAt;  // tick -> us per quarter
    std::uint32_t lastTick = 0;
    int unmatched = 0;  // releases of silent notes, and notes never released
    for (const MidiTrack& track : midi.tracks) {
        for (const MidiEvent& e : track.events) {
            const int ch = e.channel();
            if (e.isSetTempo()) tempoAt[e.time] = e.tempo();
            if (e.status >= 0xF0) continue;
            lastTick = std::max(lastTick, e.time);
            if (e.isNoteOn()) ++noteOns[ch], ++sounding[ch * 256 + e.data1];
            if (e.isNoteOff() && sounding[ch * 256 + e.data1]-- <= 0) ++unmatched;
            if (e.kind() == 0xB0) controllers[ch].insert(e.data1);
            if (e.kind() == 0xE0) bendChannels.insert(ch);
            if (e.kind() == 0xC0) programs.insert(ch * 128 + e.data1);
        }
    }
    for (const auto& [note, open] : sounding) unmatched += std::abs(open);
    // Seconds up to the last channel event through the tempo map.
    double seconds = 0;
    std::uint32_t at = 0, usPerQuarter = 500000;
    std::set<std::uint32_t> tempos;
    for (const auto& [tick, us] : tempoAt) {
        tempos.insert(us);
        if (tick >= lastTick) break;
        seconds += double(tick - at) * usPerQuarter / 1e6 / midi.division;
        at = tick;
        usPerQuarter = us;
    }
    seconds += double(lastTick - at) * usPerQuarter / 1e6 / midi.division;
    const auto has = [&](int ch, int cc) { return controllers[ch].count(cc) > 0; };
    const struct {
        const char* what;
        bool holds;
    } rows[] = {
        {"format 1, several tracks, division 192",
         midi.format == 1 && midi.trackCount >= 4 && midi.division == 192},
        {"drums on MIDI channel 10", noteOns[9] > 100},
        {"bass, chords and lead play", noteOns[0] > 50 && noteOns[1] > 50 && noteOns[2] > 30},
        {"lead bends", bendChannels.count(demo::kLeadChannel) == 1},
        {"lead modulation", has(demo::kLeadChannel, 1)},
        {"volume and pan on every melodic part",
         has(0, 7) && has(0, 10) && has(1, 7) && has(1, 10) && has(2, 7) && has(2, 10)},
        {"a program change mid-song", programs.count(1 * 128 + demo::kStrings) == 1},
        {"at least one tempo change", tempos.size() >= 2},
        {"60 to 120 seconds", seconds >= 60 && seconds <= 120},
        {"every note released once", unmatched == 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(row.holds);
    }
    RecordProperty("seconds", std::to_string(seconds));
}

}  // namespace
}  // namespace korvalin::test
