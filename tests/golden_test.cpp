// Converts two small songs with two small patches through the real converter
// under four option sets and compares each module with its checked-in golden
// copy byte for byte. After an intended change of the output,
//   KORVALIN_UPDATE_GOLDEN=1 ctest -R Golden
// rewrites the inputs and the goldens in tests/data/golden.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "XmWalk.h"
#include "support/MidiBuilder.h"
#include "support/PatchBuilder.h"
#include "support/Players.h"
#include "support/Process.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Golden {
    const char* name;
    const char* song;
    std::vector<std::string> options;
};
const Golden kGoldens[] = {
    {"default", "song", {}},
    {"8bit-tweakvol", "song", {"-8bit", "-tweakvol"}},
    {"nopan-small-qnt8", "song", {"-nopan", "-small", "-qnt", "8"}},
    {"maxch4-dirtyend", "chords", {"-maxch", "4", "-dirtyend"}},
};

fs::path goldenDir() {
    return test::testData() / "golden";
}

std::vector<int> wave(int count, int periods, int amplitude) {
    std::vector<int> v;
    for (int i = 0; i < count; ++i)
        v.push_back(int(amplitude * std::sin(6.2831853 * periods * i / count)));
    return v;
}

// The inputs: a piano of a looped 16-bit wave with vibrato for the low keys
// and an unlooped 8-bit wave for the high ones, an 8-bit kick drum; a song
// with a tempo change, a bend, modulation, panning and drums, and a song of
// six-note chords.
void writeInputs(const fs::path& dir) {
    test::PatchBuilder piano, drum;
    piano.instrument(0, "Piano")
        .wave(test::PatchWave::pcm16(wave(64, 2, 12000))
                  .named("low")
                  .pitch(22050, 261626)
                  .keys(0, 400000)
                  .loop(32, 128)
                  .vibrato(20, 40, 60))
        .wave(test::PatchWave::pcm8(wave(48, 3, 100))
                  .named("high")
                  .pitch(22050, 523251)
                  .keys(400001, 0xFFFFFFFF));
    drum.instrument(0, "Kick").wave(test::PatchWave::pcm8(wave(40, 1, 120)).named("kick"));
    test::writeBytes(dir / "piano.pat", piano.bytes());
    test::writeBytes(dir / "drum.pat", drum.bytes());
    std::string map = "0 piano.pat 0 1000\n164 drum.pat 0 800\n";
    test::writeBytes(dir / "patch.cfg", test::Bytes(map.begin(), map.end()));

    test::Smf song(1, 96);
    song.track().tempo(0, 500000).tempo(384, 400000).endOfTrack(384);
    test::SmfTrack& melody = song.track();
    melody.program(0, 0, 0).controller(0, 0, 10, 20).noteOn(0, 0, 60, 100).noteOn(0, 9, 36, 127);
    melody.noteOff(48, 9, 36).pitchBend(24, 0, 0x3000).noteOff(24, 0, 60).pitchBend(0, 0, 0x2000);
    melody.controller(0, 0, 1, 100).noteOn(0, 0, 84, 80).noteOn(96, 9, 36, 90).noteOff(12, 9, 36);
    melody.controller(36, 0, 7, 90).noteOff(48, 0, 84).noteOn(0, 0, 48, 60).noteOff(200, 0, 48);
    melody.endOfTrack(0);
    song.writeTo(dir / "song.mid");

    test::Smf chords(0, 96);
    test::SmfTrack& track = chords.track();
    track.program(0, 0, 0).controller(0, 0, 64, 127);
    for (int bar = 0; bar < 3; ++bar) {
        for (int key : {48, 52, 55, 60, 64, 67}) track.noteOn(0, 0, key + bar * 2, 90 - bar * 10);
        track.noteOn(0, 9, 36, 100).noteOff(48, 9, 36);
        for (int key : {48, 52, 55, 60, 64, 67})
            track.noteOff(key == 48 ? 48 : 0, 0, key + bar * 2);
    }
    track.controller(0, 0, 64, 0).endOfTrack(96);
    chords.writeTo(dir / "chords.mid");
}

// The first offset where the modules differ and what lies there.
std::string firstDifference(const Bytes& golden, const Bytes& made) {
    const auto [g, m] = std::mismatch(golden.begin(), golden.end(), made.begin(), made.end());
    if (g == golden.end() && m == made.end()) return "";
    const std::size_t at = std::size_t(g - golden.begin());
    const auto byte = [at](const Bytes& b) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", b[at]);
        return at < b.size() ? std::string(text) : std::string("end of file");
    };
    return "first difference at offset " + std::to_string(at) + ", " +
           xmwalk::describeOffset(golden, at) + ": golden " + byte(golden) + ", converted " +
           byte(made) + " (sizes " + std::to_string(golden.size()) + " and " +
           std::to_string(made.size()) + ")";
}

TEST(Golden, ModulesMatchByteForByte) {
    const bool update = std::getenv("KORVALIN_UPDATE_GOLDEN") != nullptr;
    if (update) writeInputs(goldenDir());
    for (const Golden& golden : kGoldens) {
        SCOPED_TRACE(golden.name);
        test::TempDir dir;
        fs::create_directory(dir / "samples");
        for (const char* patch : {"piano.pat", "drum.pat"})
            fs::copy_file(goldenDir() / patch, dir / "samples" / patch);
        fs::copy_file(goldenDir() / "patch.cfg", dir / "patch.cfg");
        const std::string song = std::string(golden.name) + ".mid";
        fs::copy_file(goldenDir() / (std::string(golden.song) + ".mid"), dir / song);
        std::vector<std::string> args = golden.options;
        args.push_back(song);
        const auto run = test::runProcess(test::korvalinBinary(), args, dir.path());
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        const Bytes made = test::readBytes(dir / (std::string(golden.name) + ".xm"));
        const fs::path goldenFile = goldenDir() / (std::string(golden.name) + ".xm");
        if (update) test::writeBytes(goldenFile, made);
        EXPECT_EQ(firstDifference(test::readBytes(goldenFile), made), "");
        EXPECT_EQ(xmwalk::walk(made).fault, "");
        const test::PlayerReport players = test::checkInPlayers(made);
        EXPECT_TRUE(players.openmptLoaded && players.xmpLoaded && players.mismatch.empty())
            << players.mismatch;
    }
}

// The difference report and the walker name the field a changed byte falls in.
TEST(Golden, ChangedBytesAreNamed) {
    const Bytes golden = test::readBytes(goldenDir() / "default.xm");
    const struct {
        std::size_t offset;
        std::uint8_t value;
        const char* difference;
        const char* fault;  // the walker's first fault, "" when the change is legal
    } cases[] = {
        {70, 0x07, "header pattern count", "header pattern count differs from the song length"},
        {341, 0x00, "pattern 0 row count", "pattern 0 row count lies outside 1 to 256"},
        {345, 0x20, "pattern 0 row 0 channel 0 flag byte", "is not a packed flag byte"},
        {346, 0x61, "pattern 0 row 0 channel 0 note", "lies outside notes 1 to 96"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        Bytes changed = golden;
        changed[c.offset] = c.value;
        EXPECT_NE(firstDifference(golden, changed).find(c.difference), std::string::npos)
            << firstDifference(golden, changed);
        const std::string fault = xmwalk::walk(changed).fault;
        EXPECT_TRUE(*c.fault ? fault.find(c.fault) != std::string::npos : fault.empty()) << fault;
    }
}

}  // namespace
}  // namespace korvalin
