// Runs the real converter in a scratch folder and compares everything it
// prints with the expected text.
#include <gtest/gtest.h>
#include <unistd.h>

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
const std::string kUsage =
    "\n\nUsage: KORVALIN [options] file1 [file2 [...]]\n\nPlease see readme for options.\n";

std::string converting(const std::string& input, const std::string& output) {
    return "\n\nConverting " + input + " to " + output + "\n";
}

// Everything the stages print for the one-note song below.
const std::string kSongStages =
    "Number of tracks = 1\nReading MIDI tracks.\nScanning tracks.\nInstruments used: 1\n"
    "Initializing Patches.\nPre-converting tracks.\nNo of patterns: 1\nCreating XM note data..\n"
    "Channels present: 2\nWriting XM score..\nWriting patches.\n";

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        test::PatchBuilder patch;
        patch.instrument(0, "Piano").layer().wave(test::PatchWave::pcm8({0, 40, 80, 40, 0, -40, -80, -40}));
        dir.write("samples/piano.pat", patch.bytes());
        dir.write("patch.cfg", std::string("0 piano.pat 0 1000\n"));
    }

    void song(const std::string& name) const {
        Smf smf(0, 96);
        smf.track().program(0, 0, 0).noteOn(0, 0, 60, 100).noteOff(96, 0, 60).endOfTrack(0);
        smf.writeTo(dir / name);
    }

    void write(const std::string& name, const test::Bytes& bytes) const { dir.write(name, bytes); }

    ProcessResult run(const std::vector<std::string>& args) const {
        return test::runProcess(test::korvalinBinary(), args, dir.path());
    }

    // The module name field of a written module (20 bytes after the id text).
    std::string moduleName(const std::string& xm) const {
        const std::string bytes = test::readFile(dir / xm);
        if (bytes.size() < 37) return "<no module>";
        std::string name = bytes.substr(17, 20);
        return name.substr(0, name.find('\0'));
    }

    // Temporary module files left behind in a folder.
    std::vector<std::string> leftovers(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename().string().rfind(".korvalin-", 0) == 0)
                names.push_back(entry.path().filename().string());
        return names;
    }

    test::TempDir dir;
};

TEST_F(Cli, BannerThenUsageWhenNoFileIsNamed) {
    const ProcessResult r = run({});
    EXPECT_EQ(r.out, kBanner + kUsage);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 1);
}

TEST_F(Cli, MissingPatchMapEndsTheRun) {
    fs::remove(dir / "patch.cfg");
    song("song.mid");
    const ProcessResult r = run({"song"});
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.err, "./patch.cfg: No such file or directory\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "song.xm"));
}

TEST_F(Cli, GoodSong) {
    song("song.mid");
    const ProcessResult r = run({"song"});
    EXPECT_EQ(r.out, kBanner + converting("song.mid", "./song.xm") + kSongStages);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName("song.xm"), "song");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

TEST_F(Cli, BadFirstFileEndsTheRun) {
    struct Case {
        const char* name;
        test::Bytes bytes;
        std::string message;
    };
    Smf format2(2, 96);
    format2.track().endOfTrack();
    Smf size8(1, 96);
    size8.headerLength(8).track().endOfTrack();
    Smf truncated(0, 96);
    truncated.track().noteOn(0, 0, 60, 100);
    const Case cases[] = {
        {"bad header id", {'R', 'I', 'F', 'F', 0, 0, 0, 6}, "ERROR: Invalid MIDI header ID\n"},
        {"format 2", format2.bytes(), "ERROR: MIDI file format 2 not supported\n"},
        {"header size 8", size8.bytes(), "8\nERROR: Incorrect MIDI header size\n"},
        {"truncated track", truncated.bytes(),
         "Number of tracks = 1\nReading MIDI tracks"
         "ERROR: Unexpected end of MIDI file in track 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write("bad.mid", c.bytes);
        song("later.mid");
        const ProcessResult r = run({"bad.mid", "later.mid"});
        EXPECT_EQ(r.out, kBanner + converting("bad.mid", "./bad.xm") + c.message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_FALSE(fs::exists(dir / "bad.xm"));
        EXPECT_FALSE(fs::exists(dir / "later.xm"));
        EXPECT_TRUE(leftovers(dir.path()).empty());
    }
}

TEST_F(Cli, MissingInputIsSkipped) {
    song("first.mid");
    song("third.mid");
    const ProcessResult r = run({"first", "second", "third"});
    EXPECT_EQ(r.out, kBanner + converting("first.mid", "./first.xm") + kSongStages +
                         converting("second.mid", "./second.xm") +
                         converting("third.mid", "./third.xm") + kSongStages);
    EXPECT_EQ(r.err, "second.mid: No such file or directory\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(fs::exists(dir / "first.xm"));
    EXPECT_FALSE(fs::exists(dir / "second.xm"));
    // The name derived from the skipped file does not carry over.
    EXPECT_EQ(moduleName("third.xm"), "third");
}

TEST_F(Cli, OutputNameAppliesToTheFirstFileOnly) {
    song("a.mid");
    song("b.mid");
    song("c.mid");
    const ProcessResult r = run({"-o", "out", "a", "b", "c"});
    EXPECT_EQ(r.out, kBanner + converting("a.mid", "./out.xm") + kSongStages +
                         converting("b.mid", "./b.xm") + kSongStages + converting("c.mid", "./c.xm") +
                         kSongStages);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName("out.xm"), "a");
    EXPECT_FALSE(fs::exists(dir / "a.xm"));
    EXPECT_TRUE(fs::exists(dir / "b.xm"));
    EXPECT_TRUE(fs::exists(dir / "c.xm"));
}

TEST_F(Cli, BaseNameEndsAtTheFirstDot) {
    song("a.b.mid");
    const ProcessResult r = run({"a.b.mid"});
    EXPECT_EQ(r.out, kBanner + converting("a.b.mid", "./a.xm") + kSongStages);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName("a.xm"), "a");
}

TEST_F(Cli, NameTextGoesToTheFirstConvertedFile) {
    song("one.mid");
    song("two.mid");
    const ProcessResult r = run({"-name", "Title", "one", "two"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName("one.xm"), "Title");
    EXPECT_EQ(moduleName("two.xm"), "two");

    const ProcessResult skipped = run({"-name", "Title", "-o", "x", "missing", "two"});
    EXPECT_EQ(skipped.exitCode, 1);
    EXPECT_EQ(moduleName("two.xm"), "Title");
}

TEST_F(Cli, OptionFileComesFirst) {
    dir.write("korvalin.cfg", std::string("-outd \"out dir\"\n\"my song\" -name 'Opt Name'\n"));
    fs::create_directory(dir / "out dir");
    song("my song.mid");
    song("other.mid");
    const ProcessResult r = run({"other", "-outd", "."});
    EXPECT_EQ(r.out, kBanner + converting("my song.mid", "./my song.xm") + kSongStages +
                         converting("other.mid", "./other.xm") + kSongStages);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName("my song.xm"), "Opt Name");
}

TEST_F(Cli, OptionWarningsAreShownAndTheRunGoesOn) {
    song("song.mid");
    const ProcessResult r = run({"-maxch", "40", "song", "-qnt", "0", "-name"});
    EXPECT_EQ(r.out, kBanner + "\n    WARNING: -qnt 0 is not allowed, quantize stays 16" +
                         "\n    WARNING: Option -name needs an argument, ignored" +
                         "\n    WARNING: -maxch 40 is out of range 1 to 32, using 32" +
                         converting("song.mid", "./song.xm") + kSongStages);
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(Cli, FailedRunKeepsAnEarlierModule) {
    song("song.mid");
    const std::string earlier = "an earlier module";
    dir.write("out.xm", earlier);
    Smf truncated(0, 96);
    truncated.track().noteOn(0, 0, 60, 100).raw({0x83});
    write("bad.mid", truncated.bytes());
    const ProcessResult r = run({"-o", "out", "bad"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(test::readFile(dir / "out.xm"), earlier);
    EXPECT_TRUE(leftovers(dir.path()).empty());

    // A later successful run replaces it.
    const ProcessResult good = run({"-o", "out", "song"});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(moduleName("out.xm"), "song");
}

TEST_F(Cli, OutputThatCannotBeCreatedSkipsTheFile) {
    song("song.mid");
    song("next.mid");
    fs::create_directory(dir / "taken.xm");
    const ProcessResult r = run({"-o", "taken", "song", "next"});
    EXPECT_EQ(r.out, kBanner + converting("song.mid", "./taken.xm") +
                         converting("next.mid", "./next.xm") + kSongStages);
    EXPECT_EQ(r.err, "./taken.xm: Is a directory\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(moduleName("next.xm"), "next");

    const ProcessResult noFolder = run({"-outd", "nowhere", "song"});
    EXPECT_EQ(noFolder.out, kBanner + converting("song.mid", "nowhere/song.xm"));
    EXPECT_EQ(noFolder.err, "nowhere/song.xm: No such file or directory\n");
    EXPECT_EQ(noFolder.exitCode, 1);
}

TEST_F(Cli, UnwritableOutputFolder) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    song("song.mid");
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const ProcessResult r = run({"-outd", "locked", "song"});
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_EQ(r.out, kBanner + converting("song.mid", "locked/song.xm"));
    EXPECT_EQ(r.err, "locked/song.xm: Permission denied\n");
    EXPECT_EQ(r.exitCode, 1);
}

TEST_F(Cli, FullDiskIsReportedAndEndsTheRun) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    song("song.mid");
    song("next.mid");
    fs::create_symlink("/dev/full", dir / "full.xm");
    const ProcessResult r = run({"-o", "full", "song", "next"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("next.mid"), std::string::npos);
    // A device is written in place, never replaced.
    EXPECT_TRUE(fs::is_symlink(dir / "full.xm"));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST_F(Cli, InvalidPatchAbortsWithStatus3) {
    dir.write("samples/piano.pat", std::string("not a patch"));
    song("song.mid");
    dir.write("song.xm", std::string("kept"));
    const ProcessResult r = run({"song"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("Abnormal program termination\n"), std::string::npos) << r.err;
    EXPECT_EQ(test::readFile(dir / "song.xm"), "kept");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

TEST_F(Cli, LongNamesAreNotCut) {
    const std::string folder(200, 'd');
    const std::string base(200, 'f');
    fs::create_directory(dir / folder);
    song(folder + "/" + base + ".mid");
    const ProcessResult r = run({"-outd", folder, folder + "/" + base});
    const std::string output = folder + "/" + base + ".xm";
    EXPECT_EQ(r.out, kBanner + converting(folder + "/" + base + ".mid", output) + kSongStages);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(moduleName(output), base.substr(0, 20));
}

}  // namespace
}  // namespace korvalin
