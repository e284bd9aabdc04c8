// How faithfully a converted module plays its MIDI file: the demo song is
// converted with the freepats kit by the real converter, and the module's
// rendering (libopenmpt) is compared with TiMidity's rendering of the song by
// korvalin-fidelity.
//
// Thresholds, from measurements on the demo song (22050 Hz, 50 ms frames):
// the module plays 0.987 of TiMidity's length (0.998 up to the last audible
// frame: TiMidity keeps rendering the final release tails), and the loudness
// envelopes correlate at about 0.80. An unrelated piece of the same length
// correlates below 0.1 with the demo. 0.6 sits well clear of both: it fails
// when sections go missing, land at the wrong time or lose their dynamics,
// and leaves room for the two players' differing envelopes and mixing.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../tools/fidelity/Envelope.h"
#include "support/MidiBuilder.h"
#include "support/Process.h"

namespace korvalin::test {
namespace {

namespace fs = std::filesystem;
namespace fd = korvalin::fidelity;

constexpr double kMinCorrelation = 0.6;
constexpr double kMaxDurationError = 0.02;

fs::path toolBinary(const std::string& folder, const std::string& name) {
    return fs::path(korvalinBinary()).parent_path().parent_path() / "tools" / folder / name;
}

std::map<std::string, double> parseReport(const std::string& text) {
    std::map<std::string, double> values;
    std::istringstream in(text);
    std::string key;
    double value = 0;
    while (in >> key >> value) values[key] = value;
    return values;
}

TEST(Envelope, CorrelationAndLag) {
    const std::vector<double> shape = {0, 1, 4, 2, 0, 0, 3, 5, 1, 0, 0, 2};
    std::vector<double> louder, inverted, delayed = {0, 0};
    for (double v : shape) {
        louder.push_back(3 * v + 1);
        inverted.push_back(-v);
        delayed.push_back(v);
    }
    const struct {
        const char* what;
        std::vector<double> other;
        double correlation;
        long lag;
    } rows[] = {
        {"same shape", shape, 1.0, 0},
        {"louder, with an offset", louder, 1.0, 0},
        {"inverted", inverted, -1.0, 0},
        {"two frames late", delayed, 1.0, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto best = fd::bestCorrelation(shape, row.other, 3);
        if (row.correlation < 0) {
            EXPECT_NEAR(fd::correlationAtLag(shape, row.other, 0), -1.0, 1e-9);
        } else {
            EXPECT_NEAR(best.correlation, row.correlation, 1e-9);
            EXPECT_EQ(best.lag, row.lag);
        }
    }
    // A flat series has no correlation rather than a division by zero.
    EXPECT_EQ(fd::correlationAtLag(shape, std::vector<double>(12, 1.0), 0), 0.0);
    EXPECT_EQ(fd::correlationAtLag(shape, {}, 0), 0.0);
}

TEST(Envelope, RmsFramesAndSoundingLength) {
    const std::vector<float> samples = {1, -1, 1, -1, 0.5f, -0.5f, 0, 0, 0, 0, 0};
    const auto env = fd::rmsEnvelope(samples, 2);
    ASSERT_EQ(env.size(), 5u);  // the odd last sample makes no frame
    EXPECT_DOUBLE_EQ(env[0], 1.0);
    EXPECT_DOUBLE_EQ(env[2], 0.5);
    // Silent frames after the last sound do not count as length.
    EXPECT_DOUBLE_EQ(fd::soundingSeconds(env, 0.05), 0.15);
    EXPECT_DOUBLE_EQ(fd::soundingSeconds(std::vector<double>(4, 0.0), 0.05), 0.0);
}

// The demo song through the kit and the converter, in `dir`.
void convertDemo(const TempDir& dir, const std::string& midiName) {
    const auto kit = runProcess(toolBinary("patchkit", "korvalin-patchkit").string(),
                                {"--samples", "samples", "--default-map", "patch.cfg"},
                                dir.path(), 60);
    ASSERT_EQ(kit.exitCode, 0) << kit.err;
    const auto conversion = runProcess(korvalinBinary(), {midiName}, dir.path(), 120);
    ASSERT_EQ(conversion.exitCode, 0) << conversion.out << conversion.err;
}

std::map<std::string, double> measure(const TempDir& dir, const std::string& midi,
                                      const std::string& module) {
    const auto r = runProcess(toolBinary("fidelity", "korvalin-fidelity").string(),
                              {midi, module}, dir.path(), 300);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return parseReport(r.out);
}

TEST(Fidelity, DemoSongModuleFollowsTheMidiRendering) {
    TempDir dir;
    dir.write("demo.mid", readBytes(sourceDir() / "demo" / "demo.mid"));
    ASSERT_NO_FATAL_FAILURE(convertDemo(dir, "demo.mid"));
    auto m = measure(dir, "demo.mid", "demo.xm");
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
        t.noteOn(i == 0 ? 0 : 4 * 96, 0, 48, 112).noteOn(0, 0, 55, 112).noteOff(4 * 96, 0, 48)
            .noteOff(0, 0, 55);
    t.endOfTrack(0);
    TempDir dir;
    dir.write("demo.mid", readBytes(sourceDir() / "demo" / "demo.mid"));
    dir.write("chords.mid", smf.bytes());
    ASSERT_NO_FATAL_FAILURE(convertDemo(dir, "chords.mid"));
    auto m = measure(dir, "demo.mid", "chords.xm");
    EXPECT_LT(m["correlation"], kMinCorrelation);
}

}  // namespace
}  // namespace korvalin::test
