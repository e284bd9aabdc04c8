// Runs the real converter in a scratch folder and compares everything it
// prints, its exit status and the modules it leaves with the expected ones.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "base/ByteIO.h"
#include "support/MidiBuilder.h"
#include "support/PatchBuilder.h"
#include "support/Process.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

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

// What a file of the folder holds after the run: "" absent, "=text" exactly
// that text, "<link>" a symbolic link, otherwise a module of that name.
std::string found(const fs::path& path, const std::string& expected) {
    if (expected == "<link>") return fs::is_symlink(path) ? expected : "no link";
    if (!fs::exists(path)) return "";
    const std::string bytes = test::readFile(path);
    if (expected.starts_with("=") || bytes.size() < 37) return "=" + bytes;
    const std::string name = bytes.substr(17, 20);
    return name.substr(0, name.find('\0'));
}

TEST(Cli, ConsoleTextStatusAndModules) {
    test::Smf good(0, 96), bad(0, 96);
    good.track().program(0, 0, 0).noteOn(0, 0, 60, 100).noteOff(96, 0, 60).endOfTrack(0);
    bad.track().noteOn(0, 0, 60, 100);  // no end-of-track event
    const test::Bytes badBytes = bad.bytes();
    const std::string badMidi(badBytes.begin(), badBytes.end());
    const std::string cut =
        "Number of tracks = 1\nReading MIDI tracks"
        "ERROR: Unexpected end of MIDI file in track 1\n";
    const std::string noFile = ": No such file or directory\n";
    const struct {
        const char* name;
        Files files;  // "<dir>" makes a folder, "<full>" a link to /dev/full, "<remove>" removes
        std::vector<std::string> args;
        std::string out, err;
        int status;
        Files after;
    } cases[] = {
        {"no file named",
         {},
         {},
         kBanner + "\n\nUsage: KORVALIN [options] file1 [file2 [...]]\n\nPlease see readme for "
                   "options.\n",
         "",
         1,
         {}},
        {"no patch map ends the run",
         {{"patch.cfg", "<remove>"}},
         {"song"},
         kBanner,
         "./patch.cfg" + noFile,
         1,
         {{"song.xm", ""}}},
        {"-o names the first output only",
         {{"a.mid", ""}, {"b.mid", ""}},
         {"-o", "out", "a", "b"},
         kBanner + converted("a.mid", "./out.xm") + converted("b.mid", "./b.xm"),
         "",
         0,
         {{"out.xm", "a"}, {"b.xm", "b"}, {"a.xm", ""}}},
        {"a bad file ends the run",
         {{"bad.mid", badMidi}},
         {"bad.mid", "song.mid"},
         kBanner + converting("bad.mid", "./bad.xm") + cut,
         "",
         1,
         {{"bad.xm", ""}, {"song.xm", ""}}},
        {"a missing input is skipped",
         {{"third.mid", ""}},
         {"song", "second", "third"},
         kBanner + converted("song.mid", "./song.xm") + converting("second.mid", "./second.xm") +
             converted("third.mid", "./third.xm"),
         "second.mid" + noFile,
         1,
         {{"second.xm", ""}, {"third.xm", "third"}}},
        {"-name goes to the first file really converted",
         {},
         {"-name", "Title", "second", "song"},
         kBanner + converting("second.mid", "./second.xm") + converted("song.mid", "./song.xm"),
         "second.mid" + noFile,
         1,
         {{"song.xm", "Title"}}},
        {"the option file comes first",
         {{"korvalin.cfg", "-outd \"out dir\"\n\"my song\" -name 'Opt Name'\n"},
          {"out dir", "<dir>"},
          {"my song.mid", ""}},
         {"song", "-outd", "."},
         kBanner + converted("my song.mid", "./my song.xm") + converted("song.mid", "./song.xm"),
         "",
         0,
         {{"my song.xm", "Opt Name"}}},
        {"a failed run keeps an earlier module",
         {{"bad.mid", badMidi}, {"out.xm", "earlier"}},
         {"-o", "out", "bad"},
         kBanner + converting("bad.mid", "./out.xm") + cut,
         "",
         1,
         {{"out.xm", "=earlier"}}},
        {"a broken patch aborts",
         {{"samples/piano.pat", "not a patch"}, {"out.xm", "earlier"}},
         {"-o", "out", "song"},
         kBanner + converting("song.mid", "./out.xm") +
             "Number of tracks = 1\nReading MIDI tracks.\nScanning tracks.\nInstruments used: 1\n"
             "Initializing Patches\n    ERROR: Patch file samples/piano.pat is invalid!\n",
         "Abnormal program termination\n",
         3,
         {{"out.xm", "=earlier"}}},
        {"an output that cannot be created skips the file",
         {{"taken.xm", "<dir>"}, {"next.mid", ""}},
         {"-o", "taken", "song", "next"},
         kBanner + converting("song.mid", "./taken.xm") + converted("next.mid", "./next.xm"),
         "./taken.xm: Is a directory\n",
         1,
         {{"next.xm", "next"}}},
        // A device is written in place, never replaced.
        {"a full disk ends the run",
         {{"full.xm", "<full>"}, {"next.mid", ""}},
         {"-o", "full", "song", "next"},
         kBanner + converted("song.mid", "./full.xm"),
         "./full.xm: No space left on device\n",
         1,
         {{"full.xm", "<link>"}, {"next.xm", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        test::PatchBuilder patch;
        patch.instrument(0, "Piano").wave(test::PatchWave::pcm8({0, 40, 80, 40, 0, -40}));
        dir.write("samples/piano.pat", patch.bytes());
        dir.write("patch.cfg", std::string("0 piano.pat 0 1000\n"));
        good.writeTo(dir / "song.mid");
        for (const auto& [name, content] : c.files) {
            if (content == "<remove>")
                fs::remove(dir / name);
            else if (content == "<dir>")
                fs::create_directory(dir / name);
            else if (content == "<full>")
                fs::create_symlink("/dev/full", dir / name);
            else if (content.empty())
                good.writeTo(dir / name);
            else
                dir.write(name, content);
        }
        const auto r = test::runProcess(test::korvalinBinary(), c.args, dir.path());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.exitCode, c.status);
        for (const auto& [name, expected] : c.after)
            EXPECT_EQ(found(dir / name, expected), expected);
        for (const auto& entry : fs::directory_iterator(dir.path()))  // no temporary module left
            EXPECT_FALSE(entry.path().filename().string().starts_with(".korvalin-"))
                << entry.path();
    }
}

// Large writes pass the stream's buffer: the file keeps the order of all
// writes, and a refused one is reported by the write that made it.
TEST(FileSink, LargeWritesKeepTheirPlaceAndTheirErrors) {
    const test::TempDir dir;
    for (const std::string name : {"out.xm", "/dev/full"}) {
        const std::string path = name.starts_with("/") ? name : (dir / name).string();
        StreamBuffer buffer;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        FileSink sink(f, buffer.attachTo(f));
        std::string expected;
        for (const std::size_t size : std::vector<std::size_t>{100, 40000, 7, 70000}) {
            const std::string piece(size, static_cast<char>('a' + size % 26));
            expected += piece;
            sink.write(piece.data(), size);
        }
        std::fclose(f);
        EXPECT_EQ(sink.error(), name == "/dev/full" ? ENOSPC : 0);
        EXPECT_EQ(sink.ok() ? test::readFile(path) : expected, expected);
    }
}

}  // namespace
}  // namespace korvalin
