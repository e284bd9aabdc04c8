// How faithfully a converted module plays its MIDI file: korvalin-fidelity
// compares the module's rendering (libopenmpt) of the demo song, converted
// with the freepats kit, with TiMidity's rendering of the song.
//
// Thresholds, measured on the demo song (22050 Hz, 50 ms frames): the module
// plays 0.987 of TiMidity's length (0.998 up to the last audible frame) and
// the loudness envelopes correlate at about 0.80, while an unrelated piece of
// the same length correlates below 0.1. 0.6 fails when sections go missing,
// land at the wrong time or lose their dynamics, and leaves room for the two
// players' differing envelopes and mixing.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/MidiBuilder.h"
#include "support/Process.h"

namespace korvalin::test {
namespace {

namespace fs = std::filesystem;

constexpr double kMinCorrelation = 0.6;
constexpr double kMaxDurationError = 0.02;

// Converts `midiName` (beside the demo song in `dir`) with the freepats kit,
// then measures its module against the demo song's rendering.
std::map<std::string, double> measureAgainstDemo(const TempDir& dir, const std::string& midiName) {
    std::map<std::string, double> values;
    dir.write("demo.mid", readBytes(sourceDir() / "demo" / "demo.mid"));
    const auto kit = runProcess(toolBinary("patchkit"),
                                {"--samples", "samples", "--default-map", "patch.cfg"}, dir.path());
    EXPECT_EQ(kit.exitCode, 0) << kit.err;
    const auto conversion = runProcess(korvalinBinary(), {midiName}, dir.path(), 120);
    EXPECT_EQ(conversion.exitCode, 0) << conversion.out << conversion.err;
    const std::string module = midiName.substr(0, midiName.size() - 4) + ".xm";
    const auto r = runProcess(toolBinary("fidelity"), {"demo.mid", module}, dir.path(), 300);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::istringstream in(r.out);
    std::string key;
    for (double value = 0; in >> key >> value;) values[key] = value;
    return values;
}

TEST(Fidelity, DemoSongModuleFollowsTheMidiRendering) {
    TempDir dir;
    auto m = measureAgainstDemo(dir, "demo.mid");
    ASSERT_TRUE(m.count("duration_ratio") && m.count("correlation"));
    RecordProperty("duration_ratio", std::to_string(m["duration_ratio"]));
    RecordProperty("correlation", std::to_string(m["correlation"]));
    EXPECT_NEAR(m["duration_ratio"], 1.0, kMaxDurationError);
    EXPECT_NEAR(m["sounding_ratio"], 1.0, kMaxDurationError);
    EXPECT_GE(m["correlation"], kMinCorrelation);
}

TEST(Fidelity, UnrelatedPieceOfTheSameLengthDoesNotPass) {
    // The control for the thresholds above: 20 four-second piano chords
    // (80 s, like the demo) converted the same way.
    Smf smf(0, 96);
    auto& t = smf.track();
    t.tempo(0, 500000).program(0, 0, 0);
    for (int i = 0; i < 20; ++i)
        t.noteOn(i == 0 ? 0 : 4 * 96, 0, 48, 112)
            .noteOn(0, 0, 55, 112)
            .noteOff(4 * 96, 0, 48)
            .noteOff(0, 0, 55);
    t.endOfTrack(0);
    TempDir dir;
    dir.write("chords.mid", smf.bytes());
    auto m = measureAgainstDemo(dir, "chords.mid");
    ASSERT_TRUE(m.count("correlation"));
    EXPECT_LT(m["correlation"], kMinCorrelation);
}

}  // namespace
}  // namespace korvalin::test
