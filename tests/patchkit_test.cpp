// korvalin-patchkit run on small TiMidity sets in a scratch folder: which patch
// each default-map name gets, the map files it writes, how it refuses bad sets.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/Process.h"

namespace korvalin::test {
namespace {

namespace fs = std::filesystem;

// Tools are built beside the converter: <build>/tools/patchkit/.
const std::string kPatchkit = (fs::path(korvalinBinary()).parent_path().parent_path() / "tools" /
                               "patchkit" / "korvalin-patchkit")
                                  .string();

// A GF1 patch header padded to the first instrument header, whose number is
// `instrument`; `tag` tells the files apart in copies.
std::string fakePatch(const std::string& tag, int instrument = 0) {
    std::string bytes("GF1PATCH110\0ID#000002\0", 22);
    bytes.resize(129, '\0');
    return bytes + static_cast<char>(instrument & 0xFF) + static_cast<char>(instrument >> 8) + tag;
}

// A set with programs 0, 5, 40 (instrument 7) and keys 36 (kick), 42 (closed
// hat), 45 (tom), 60 (bongo); the drumset is in a sourced file, with options
// and comments on the way.
struct SmallSet {
    TempDir dir;
    SmallSet() {
        for (std::string name : {"p000", "p005", "p040", "d036", "d042", "d045", "d060"})
            dir.write("pats/" + name + ".pat", fakePatch(name, name == "p040" ? 7 : 0));
        dir.write("set.cfg", "# a small set\ndir " + (dir.path() / "pats").string() +
                                 "\nbank 0\n 0\tp000.pat amp=120 pan=center\n"
                                 " 5\tp005     # no extension: found with .pat added\n"
                                 " 40 p040.pat\nbank 1\n 3 p000.pat\nsource drums.cfg\n");
        dir.write("drums.cfg",
                  "drumset 0\n36 d036.pat\n42 d042.pat\n45 d045.pat keep=loop\n60 d060.pat\n");
    }
    fs::path operator/(const std::string& name) const { return dir / name; }
    ProcessResult run(const std::vector<std::string>& args) const {
        std::vector<std::string> all = {"--config", (dir / "set.cfg").string()};
        all.insert(all.end(), args.begin(), args.end());
        return runProcess(kPatchkit, all, dir.path(), 30);
    }
};

TEST(PatchKit, DefaultMapIsWrittenByteForByteAndKeptWithoutForce) {
    TempDir dir;
    auto r = runProcess(kPatchkit, {"--default-map", "patch.cfg"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = readFile(dir / "patch.cfg");
    EXPECT_EQ(text.size(), 5481u);
    const struct {
        int line;
        const char* text;
    } rows[] = {
        {1, "0   acpiano.pat     0  1000"},   {121, "120 fx-fret.pat     0  1000"},
        {128, "127 pistol.pat      0  1000"}, {129, "155 highq.pat       0  1000"},
        {189, "215 surdo2.pat      0  1000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(text.substr(static_cast<std::size_t>(row.line - 1) * 29, 29),
                  std::string(row.text) + "\r\n");
    }
    // An existing map is only replaced with --force.
    dir.write("patch.cfg", "0 mine.pat 0 1000\n");
    r = runProcess(kPatchkit, {"--default-map", "patch.cfg"}, dir.path());
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir / "patch.cfg"), "0 mine.pat 0 1000\n");
    r = runProcess(kPatchkit, {"--default-map", "patch.cfg", "--force"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "patch.cfg"), text);
}

TEST(PatchKit, SampleFolderLinksEveryNameToThePresentOrNearestPatch) {
    SmallSet set;
    const auto r = set.run({"--samples", "samples"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::size_t names = 0;
    for (const auto& entry : fs::directory_iterator(set / "samples"))
        names += fs::is_symlink(entry.symlink_status());
    EXPECT_EQ(names, 189u);
    const struct {
        const char* name;
        const char* patch;
        const char* why;
    } rows[] = {
        {"acpiano.pat", "p000", "present"},
        {"britepno.pat", "p000", "program 1: nearest in the piano family"},
        {"honky.pat", "p005", "program 3: 5 is nearer than 0"},
        {"celeste.pat", "p005", "program 8: empty family, nearest program overall"},
        {"viola.pat", "p040", "program 41: same family"},
        {"pistol.pat", "p040", "program 127: nearest overall"},
        {"kick1.pat", "d036", "key 35: same kind"},
        {"hihatpd.pat", "d042", "key 44: the hat beats the nearer tom 45"},
        {"tomlo1.pat", "d045", "key 43: the tom beats the nearer hat 42"},
        {"snare1.pat", "d036", "key 38: no snare in the set, nearest key"},
        {"congalo.pat", "d060", "key 64: hand drums"},
        {"highq.pat", "d036", "key 27: no effect sound, nearest key"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " (" + row.why + ")");
        EXPECT_EQ(fs::read_symlink(set / "samples" / row.name),
                  set / "pats" / (std::string(row.patch) + ".pat"));
    }
    // The printed table names each fill and its source, and notes ignored options.
    for (const char* text : {"honky.pat", "<- program 5", "same kind: hi-hats", "amp="})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    EXPECT_EQ(r.out.find("acpiano.pat"), std::string::npos) << "present entries are not fills";
    // A second run over the same folder replaces its own links.
    EXPECT_EQ(set.run({"--samples", "samples"}).exitCode, 0);

    ASSERT_EQ(set.run({"--samples", "kit", "--copy"}).exitCode, 0);
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(set / "kit" / "viola.pat")));
    EXPECT_EQ(readFile(set / "kit" / "viola.pat"), fakePatch("p040", 7));
}

TEST(PatchKit, PathMapNamesTheRealFilesForTheSampleFolderRule) {
    SmallSet set;
    // Every line must name a file under the folder given to the converter as
    // its sample folder (path = folder + name), with the patch's instrument.
    const auto expectResolves = [](const std::string& map, const std::string& sampleDir) {
        std::istringstream lines(map);
        std::string line, name;
        int count = 0;
        for (; std::getline(lines, line); ++count) {
            std::istringstream words(line);
            unsigned index = 0, instrument = 0, release = 0;
            ASSERT_TRUE(words >> index >> name >> instrument >> release) << line;
            EXPECT_TRUE(fs::is_regular_file(sampleDir + name)) << line;
            EXPECT_EQ(instrument, name.ends_with("p040.pat") ? 7u : 0u) << line;
            EXPECT_EQ(release, 1000u);
        }
        EXPECT_EQ(count, 189);
    };
    auto r = set.run({"--map", "abs.cfg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectResolves(readFile(set / "abs.cfg"), "/");
    r = set.run({"--map", "rel.cfg", "--base", (set / "pats").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string rel = readFile(set / "rel.cfg");
    EXPECT_EQ(rel.substr(0, 14), "0   p000.pat 0") << rel.substr(0, 40);
    expectResolves(rel, (set / "pats").string() + "/");
}

TEST(PatchKit, BadSetsAreRefusedAndNothingIsWritten) {
    const struct {
        const char* what;
        std::string config;   // "" = no config file at all
        std::string patch;    // content of pats/x.pat
        const char* message;  // expected in the error stream
    } rows[] = {
        {"missing config", "", "", "set.cfg"},
        {"missing patch", "0 nothere.pat\n", fakePatch("x"), "not found"},
        {"not a patch", "0 x.pat\n", std::string(200, 'A'), "not a GF1 patch"},
        {"header cut short", "0 x.pat\n", fakePatch("x").substr(0, 15), "not a GF1 patch"},
        {"no instrument header", "0 x.pat\n", fakePatch("x").substr(0, 100), "cut short"},
        {"bank without number", "bank\n0 x.pat\n", fakePatch("x"), "needs a number"},
        {"config sources itself", "source set.cfg\n0 x.pat\n", fakePatch("x"), "nested"},
        {"only drums", "drumset 0\n36 x.pat\n", fakePatch("x"), "no sound for program 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        dir.write("pats/x.pat", row.patch);
        if (!row.config.empty())
            dir.write("set.cfg", "dir " + (dir / "pats").string() + "\n" + row.config);
        const std::string config = (dir / "set.cfg").string();
        const auto r = runProcess(kPatchkit, {"--config", config, "--samples", "kit"}, dir.path());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "kit"));
    }
}

TEST(PatchKit, PathsThatAMapLineCannotCarryAreRefused) {
    // A map line reads its name as one blank-free word, so patches in a
    // folder with a blank make --map refuse (and point to --samples).
    TempDir dir;
    dir.write("my set/x.pat", fakePatch("x"));
    dir.write("my set/set.cfg", "0 x.pat\ndrumset 0\n36 x.pat\n");
    const std::string config = (dir / "my set" / "set.cfg").string();
    auto r = runProcess(kPatchkit, {"--config", config, "--map", "m.cfg"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--samples"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "m.cfg"));
    r = runProcess(kPatchkit, {"--config", config, "--samples", "kit"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "kit" / "acpiano.pat"));
}

TEST(PatchKit, UsageErrors) {
    TempDir dir;
    for (const auto& [args, status] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{}, 2}, {{"--samples"}, 2}, {{"--bogus"}, 2}, {{"--help"}, 0}}) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args[0]);
        EXPECT_EQ(runProcess(kPatchkit, args, dir.path()).exitCode, status);
    }
}

}  // namespace
}  // namespace korvalin::test
