// Runs the real converter in a scratch folder and compares everything it
// prints with the expected text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/MidiBuilder.h"
#include "support/PatchBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using test::ProcessResult;
using test::Smf;

const std::string kBanner = "KORVALIN version 0.4.0 [17:19:55 Jul 24 1998]";

std::string converting(const std::string& input, const std::string& output) {
    return "\n\nConverting " + input + " to " + output + "\n";
}

// All that is printed for a good conversion of the one-note song below.
std::string converted(const std::string& input, const std::string& output) {
    return converting(input, output) +
           "Number of tracks = 1\nReading MIDI tracks.\nScanning tracks.\nInstruments used: 1\n"
           "Initializing Patches.\nPre-converting tracks.\nNo of patterns: 1\n"
           "Creating XM note data..\nChannels present: 2\nWriting XM score..\nWriting patches.\n";
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        test::PatchBuilder patch;
        const auto wave = test::PatchWave::pcm8({0, 40, 80, 40, 0, -40, -80, -40});
        patch.instrument(0, "Piano").layer().wave(wave);
        dir.write("samples/piano.pat", patch.bytes());
        dir.write("patch.cfg", std::string("0 piano.pat 0 1000\n"));
    }

    void songs(const std::vector<std::string>& names) const {
        Smf smf(0, 96);
        smf.track().program(0, 0, 0).noteOn(0, 0, 60, 100).noteOff(96, 0, 60).endOfTrack(0);
        for (const std::string& name : names) smf.writeTo(dir / name);
    }

    ProcessResult run(const std::vector<std::string>& args) const {
        return test::runProcess(test::korvalinBinary(), args, dir.path());
    }

    // The module name field of a written module (20 bytes after the id text).
    std::string moduleName(const std::string& xm) const {
        const std::string bytes = test::readFile(dir / xm);
        if (bytes.size() < 37) return "<no module>";
        const std::string name = bytes.substr(17, 20);
        return name.substr(0, name.find('\0'));
    }

    // No temporary module file may be left behind.
    void expectNoLeftovers() const {
        for (const auto& entry : fs::directory_iterator(dir.path()))
            EXPECT_NE(entry.path().filename().string().rfind(".korvalin-", 0), 0u) << entry.path();
    }

    test::TempDir dir;
};

TEST_F(Cli, BannerThenUsageWhenNoFileIsNamed) {
    const ProcessResult r = run({});
    EXPECT_EQ(r.out, kBanner + "\n\nUsage: KORVALIN [options] file1 [file2 [...]]\n\n" +
                         "Please see readme for options.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 1);
}

TEST_F(Cli, MissingPatchMapEndsTheRun) {
    fs::remove(dir / "patch.cfg");
    songs({"song.mid"});
    const ProcessResult r = run({"song"});
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.err, "./patch.cfg: No such file or directory\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "song.xm"));
}

TEST_F(Cli, OutputNameAppliesToTheFirstFileOnly) {
    songs({"a.mid", "b.mid", "c.mid"});
    const ProcessResult r = run({"-o", "out", "a", "b", "c"});
    EXPECT_EQ(r.out, kBanner + converted("a.mid", "./out.xm") + converted("b.mid", "./b.xm") +
                         converted("c.mid", "./c.xm"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName("out.xm"), "a");
    EXPECT_EQ(moduleName("c.xm"), "c");
    EXPECT_FALSE(fs::exists(dir / "a.xm"));
    expectNoLeftovers();
}

TEST_F(Cli, BadFileEndsTheRun) {
    Smf format2(2, 96), truncated(0, 96);
    format2.track().endOfTrack();
    truncated.track().noteOn(0, 0, 60, 100);
    const std::pair<test::Bytes, std::string> cases[] = {
        {{'R', 'I', 'F', 'F', 0, 0, 0, 6}, "ERROR: Invalid MIDI header ID\n"},
        {format2.bytes(), "ERROR: MIDI file format 2 not supported\n"},
        {truncated.bytes(),
         "Number of tracks = 1\nReading MIDI tracks"
         "ERROR: Unexpected end of MIDI file in track 1\n"},
    };
    songs({"later.mid"});
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message);
        dir.write("bad.mid", bytes);
        const ProcessResult r = run({"bad.mid", "later.mid"});
        EXPECT_EQ(r.out, kBanner + converting("bad.mid", "./bad.xm") + message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_FALSE(fs::exists(dir / "bad.xm"));
        EXPECT_FALSE(fs::exists(dir / "later.xm"));
        expectNoLeftovers();
    }
}

TEST_F(Cli, MissingInputIsSkipped) {
    songs({"first.mid", "third.mid"});
    const ProcessResult r = run({"first", "second", "third"});
    EXPECT_EQ(r.out, kBanner + converted("first.mid", "./first.xm") +
                         converting("second.mid", "./second.xm") +
                         converted("third.mid", "./third.xm"));
    EXPECT_EQ(r.err, "second.mid: No such file or directory\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "second.xm"));
    // The name taken from the skipped file does not carry over...
    EXPECT_EQ(moduleName("third.xm"), "third");
    // ...and the -name text is kept for the first file really converted.
    EXPECT_EQ(run({"-name", "Title", "second", "third"}).exitCode, 1);
    EXPECT_EQ(moduleName("third.xm"), "Title");
}

TEST_F(Cli, OptionFileComesFirst) {
    dir.write("korvalin.cfg", std::string("-outd \"out dir\"\n\"my song\" -name 'Opt Name'\n"));
    fs::create_directory(dir / "out dir");
    songs({"my song.mid", "other.mid"});
    const ProcessResult r = run({"other", "-outd", "."});
    EXPECT_EQ(r.out, kBanner + converted("my song.mid", "./my song.xm") +
                         converted("other.mid", "./other.xm"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName("my song.xm"), "Opt Name");
}

TEST_F(Cli, OptionWarningsAreShownAndTheRunGoesOn) {
    songs({"song.mid"});
    const ProcessResult r = run({"-maxch", "40", "song", "-qnt", "0", "-name"});
    EXPECT_EQ(r.out, kBanner + "\n    WARNING: -qnt 0 is not allowed, quantize stays 16" +
                         "\n    WARNING: Option -name needs an argument, ignored" +
                         "\n    WARNING: -maxch 40 is out of range 1 to 32, using 32" +
                         converted("song.mid", "./song.xm"));
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(Cli, FailedRunKeepsAnEarlierModule) {
    songs({"song.mid"});
    dir.write("out.xm", std::string("an earlier module"));
    Smf truncated(0, 96);
    truncated.track().noteOn(0, 0, 60, 100).raw({0x83});
    dir.write("bad.mid", truncated.bytes());
    EXPECT_EQ(run({"-o", "out", "bad"}).exitCode, 1);
    EXPECT_EQ(test::readFile(dir / "out.xm"), "an earlier module");
    expectNoLeftovers();
    // A later successful run replaces it.
    EXPECT_EQ(run({"-o", "out", "song"}).exitCode, 0);
    EXPECT_EQ(moduleName("out.xm"), "song");

    // A broken patch aborts with status 3, and the earlier module stays too.
    dir.write("samples/piano.pat", std::string("not a patch"));
    const ProcessResult aborted = run({"-o", "out", "song"});
    EXPECT_EQ(aborted.out, kBanner + converting("song.mid", "./out.xm") +
                               "Number of tracks = 1\nReading MIDI tracks.\nScanning tracks.\n"
                               "Instruments used: 1\nInitializing Patches\n"
                               "    ERROR: Patch file samples/piano.pat is invalid!\n");
    EXPECT_EQ(aborted.err, "Abnormal program termination\n");
    EXPECT_EQ(aborted.exitCode, 3);
    EXPECT_EQ(moduleName("out.xm"), "song");
    expectNoLeftovers();
}

TEST_F(Cli, OutputThatCannotBeCreatedSkipsTheFile) {
    songs({"song.mid", "next.mid"});
    fs::create_directory(dir / "taken.xm");
    const ProcessResult r = run({"-o", "taken", "song", "next"});
    EXPECT_EQ(r.out,
              kBanner + converting("song.mid", "./taken.xm") + converted("next.mid", "./next.xm"));
    EXPECT_EQ(r.err, "./taken.xm: Is a directory\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(moduleName("next.xm"), "next");

    const ProcessResult noFolder = run({"-outd", "nowhere", "song"});
    EXPECT_EQ(noFolder.out, kBanner + converting("song.mid", "nowhere/song.xm"));
    EXPECT_EQ(noFolder.err, "nowhere/song.xm: No such file or directory\n");
    EXPECT_EQ(noFolder.exitCode, 1);
}

TEST_F(Cli, FullDiskIsReportedAndEndsTheRun) {
    ASSERT_TRUE(fs::exists("/dev/full"));
    songs({"song.mid", "next.mid"});
    fs::create_symlink("/dev/full", dir / "full.xm");
    const ProcessResult r = run({"-o", "full", "song", "next"});
    EXPECT_EQ(r.out, kBanner + converted("song.mid", "./full.xm"));
    EXPECT_EQ(r.err, "./full.xm: No space left on device\n");
    EXPECT_EQ(r.exitCode, 1);
    // A device is written in place, never replaced.
    EXPECT_TRUE(fs::is_symlink(dir / "full.xm"));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST_F(Cli, LongNamesAreNotCut) {
    const std::string folder(200, 'd'), base(200, 'f');
    fs::create_directory(dir / folder);
    songs({folder + "/" + base + ".mid"});
    const ProcessResult r = run({"-outd", folder, folder + "/" + base});
    const std::string output = folder + "/" + base + ".xm";
    EXPECT_EQ(r.out, kBanner + converted(folder + "/" + base + ".mid", output));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName(output), base.substr(0, 20));
}

}  // namespace
}  // namespace korvalin
