// Every module the converter writes loads in both real players (libopenmpt and
// libxmp) with the counts its header announces, with and without instruments,
// and the demo song plays as long as the MIDI file lasts.
#include "support/Players.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "XmWalk.h"
#include "driver/ByteIO.h"
#include "midi/MidiReader.h"
#include "support/Process.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

fs::path patchKitBinary() {
    return fs::path(test::korvalinBinary()).parent_path().parent_path() / "tools" / "patchkit" /
           "korvalin-patchkit";
}

// The default map with a sample folder linked from the freepats set.
void makeKit(const TempDir& dir) {
    const auto kit =
        test::runProcess(patchKitBinary().string(),
                         {"--samples", "samples", "--default-map", "patch.cfg"}, dir.path(), 60);
    ASSERT_EQ(kit.exitCode, 0) << kit.err;
}

// Seconds from the first tick to the last event of the music, from the file's
// tempo map (500000 microseconds per quarter note until the first tempo event).
double midiSeconds(const std::vector<std::uint8_t>& bytes) {
    RunState run;
    FileState file;
    NullConsole out;
    ByteReader in(bytes);
    if (readMidiFile(run, in, file, out) != Status::Ok || file.midi.division == 0) return 0;
    std::map<std::uint32_t, std::uint32_t> tempos;  // tick -> microseconds per quarter
    std::uint32_t end = 0;
    for (const MidiTrack& track : file.midi.tracks) {
        for (const MidiEvent& e : track.events)
            if (e.isSetTempo()) tempos[e.time] = e.tempo();
        if (!track.events.empty()) end = std::max(end, track.events.back().time);
    }
    double seconds = 0;
    std::uint32_t tick = 0, tempo = 500000;
    for (const auto& [at, value] : tempos) {
        if (at >= end) break;
        seconds += double(at - tick) * tempo / 1e6 / file.midi.division;
        tick = at;
        tempo = value;
    }
    return seconds + double(end - tick) * tempo / 1e6 / file.midi.division;
}

TEST(Players, EveryEdgeCaseModuleLoadsWithItsHeaderCounts) {
    ASSERT_TRUE(test::installed("/etc/timidity/freepats.cfg", "freepats"));
    for (const bool instruments : {false, true}) {
        TempDir dir;
        if (instruments) {
            ASSERT_NO_FATAL_FAILURE(makeKit(dir));
        } else {
            dir.write("patch.cfg", std::string());
        }
        int converted = 0;
        for (const auto& entry : fs::directory_iterator(test::midiCasesDir())) {
            if (entry.path().extension() != ".mid") continue;
            const std::string name = entry.path().filename().string();
            SCOPED_TRACE(name + (instruments ? " with freepats" : " without instruments"));
            fs::copy_file(entry.path(), dir / name);
            const auto r = test::runProcess(test::korvalinBinary(), {name}, dir.path(), 60);
            const fs::path module = dir / (entry.path().stem().string() + ".xm");
            ASSERT_FALSE(r.timedOut);
            if (r.exitCode != 0) {
                EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
                EXPECT_FALSE(fs::exists(module));
                continue;
            }
            const auto report = test::checkInPlayers(test::readBytes(module));
            EXPECT_TRUE(report.openmptLoaded && report.xmpLoaded) << report.mismatch;
            EXPECT_EQ(report.mismatch, "");
            EXPECT_EQ(xmwalk::walk(test::readBytes(module)).fault, "");
            ++converted;
        }
        EXPECT_GE(converted, 60);
    }
}

TEST(Players, DemoSongSoundsAndLastsAsLongAsTheMidi) {
    ASSERT_TRUE(test::installed("/etc/timidity/freepats.cfg", "freepats"));
    TempDir dir;
    const auto midi = test::readBytes(test::sourceDir() / "demo" / "demo.mid");
    dir.write("demo.mid", midi);
    ASSERT_NO_FATAL_FAILURE(makeKit(dir));
    const auto r = test::runProcess(test::korvalinBinary(), {"demo.mid"}, dir.path(), 120);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    const auto report = test::checkInPlayers(test::readBytes(dir / "demo.xm"), true);
    EXPECT_EQ(report.mismatch, "");
    EXPECT_GT(report.peak, 0.05) << "the module renders silence";
    const double expected = midiSeconds(std::vector<std::uint8_t>(midi.begin(), midi.end()));
    RecordProperty("module_seconds", std::to_string(report.seconds));
    RecordProperty("midi_seconds", std::to_string(expected));
    ASSERT_GT(expected, 30.0);
    EXPECT_NEAR(report.seconds / expected, 1.0, 0.02)
        << "module " << report.seconds << " s, MIDI " << expected << " s";
}

}  // namespace
}  // namespace korvalin
