// korvalin-patchkit, run as a program on small TiMidity sets built in a
// scratch folder: which patch each default-map name gets, the map files it
// writes, and how it refuses bad sets.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/Process.h"

namespace korvalin::test {
namespace {

namespace fs = std::filesystem;

std::string patchkitBinary() {
    // Tools are built beside the converter: <build>/tools/patchkit/.
    return (fs::path(korvalinBinary()).parent_path().parent_path() / "tools" / "patchkit" /
            "korvalin-patchkit")
        .string();
}

// Header of a GF1 patch, padded to the first instrument header, whose number
// is `instrument`.
std::string fakePatch(const std::string& tag, int instrument = 0) {
    std::string bytes("GF1PATCH110\0ID#000002\0", 22);
    bytes.resize(129, '\0');
    bytes += static_cast<char>(instrument & 0xFF);
    bytes += static_cast<char>(instrument >> 8);
    bytes += tag;  // tells the files apart in copies
    return bytes;
}

// A set with programs 0, 5, 40 and keys 36 (kick), 42 (closed hat),
// 45 (tom), 60 (bongo): the drumset is in a sourced file, with options and
// comments on the way.
struct SmallSet {
    TempDir dir;
    SmallSet() {
        for (const char* name : {"p000", "p005", "p040", "d036", "d042", "d045", "d060"})
            dir.write(std::string("pats/") + name + ".pat", fakePatch(name));
        dir.write("set.cfg",
                  "# a small set\n"
                  "dir " + (dir.path() / "pats").string() + "\n"
                  "bank 0\n"
                  " 0\tp000.pat amp=120 pan=center\n"
                  " 5\tp005     # no extension: found with .pat added\n"
                  " 40 p040.pat\n"
                  "bank 1\n"
                  " 3 p000.pat\n"
                  "source drums.cfg\n");
        dir.write("drums.cfg",
                  "drumset 0\n"
                  "36 d036.pat\n42 d042.pat\n45 d045.pat keep=loop\n60 d060.pat\n");
    }
    fs::path operator/(const std::string& name) const { return dir / name; }
    ProcessResult run(const std::vector<std::string>& args) const {
        std::vector<std::string> all = {"--config", (dir / "set.cfg").string()};
        all.insert(all.end(), args.begin(), args.end());
        return runProcess(patchkitBinary(), all, dir.path(), 30);
    }
};

TEST(PatchKit, DefaultMapIsWrittenByteForByte) {
    TempDir dir;
    const auto r = runProcess(patchkitBinary(), {"--default-map", "patch.cfg"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = readFile(dir / "patch.cfg");
    EXPECT_EQ(text.size(), 5481u);
    EXPECT_EQ(text.substr(0, 29), "0   acpiano.pat     0  1000\r\n");
    const struct {
        int line;
        const char* text;
    } rows[] = {
        {2, "1   britepno.pat    0  1000"},    {120, "119 revcym.pat      0  1000"},
        {121, "120 fx-fret.pat     0  1000"},  {128, "127 pistol.pat      0  1000"},
        {129, "155 highq.pat       0  1000"},  {137, "163 kick1.pat       0  1000"},
        {189, "215 surdo2.pat      0  1000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(text.substr(static_cast<std::size_t>(row.line - 1) * 29, 29),
                  std::string(row.text) + "\r\n");
    }
}

TEST(PatchKit, ExistingMapIsKeptWithoutForce) {
    TempDir dir;
    dir.write("patch.cfg", "0 mine.pat 0 1000\n");
    auto r = runProcess(patchkitBinary(), {"--default-map", "patch.cfg"}, dir.path());
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir / "patch.cfg"), "0 mine.pat 0 1000\n");
    r = runProcess(patchkitBinary(), {"--default-map", "patch.cfg", "--force"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "patch.cfg").size(), 5481u);
}

TEST(PatchKit, SampleFolderLinksEveryNameToThePresentOrNearestPatch) {
    SmallSet set;
    const auto r = set.run({"--samples", "samples"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::size_t names = 0;
    for (const auto& entry : fs::directory_iterator(set / "samples")) {
        ++names;
        EXPECT_TRUE(fs::is_symlink(entry.symlink_status())) << entry.path();
    }
    EXPECT_EQ(names, 189u);

    const struct {
        const char* name;
        const char* patch;
        const char* why;
    } rows[] = {
        {"acpiano.pat", "p000", "present"},
        {"britepno.pat", "p000", "program 1: nearest in the piano family"},
        {"honky.pat", "p005", "program 3: 5 is nearer than 0"},
        {"clavinet.pat", "p005", "program 7: same family"},
        {"celeste.pat", "p005", "program 8: empty family, nearest program overall"},
        {"viola.pat", "p040", "program 41: same family"},
        {"pistol.pat", "p040", "program 127: nearest overall"},
        {"kick1.pat", "d036", "key 35: same kind"},
        {"hihatpd.pat", "d042", "key 44: the hat beats the nearer tom 45"},
        {"tomlo1.pat", "d045", "key 43: the tom beats the nearer hat 42"},
        {"snare1.pat", "d036", "key 38: no snare in the set, nearest key"},
        {"congalo.pat", "d060", "key 64: hand drums"},
        {"surdo2.pat", "d060", "key 87: hand drums"},
        {"highq.pat", "d036", "key 27: no effect sound, nearest key"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " (" + row.why + ")");
        const fs::path link = set / "samples" / row.name;
        ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link)));
        EXPECT_EQ(fs::read_symlink(link), (set / "pats" / (std::string(row.patch) + ".pat")));
    }
    // The table of fills names the substitute.
    EXPECT_NE(r.out.find("honky.pat"), std::string::npos);
    EXPECT_NE(r.out.find("<- program 5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("same kind: hi-hats"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("acpiano.pat"), std::string::npos) << "present entries are not fills";
    EXPECT_NE(r.out.find("amp="), std::string::npos) << "ignored options are noted";

    // A second run over the same folder replaces its own links.
    EXPECT_EQ(set.run({"--samples", "samples"}).exitCode, 0);
}

TEST(PatchKit, CopiesInsteadOfLinks) {
    SmallSet set;
    const auto r = set.run({"--samples", "kit", "--copy"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const fs::path copy = set / "kit" / "viola.pat";
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(copy)));
    EXPECT_EQ(readFile(copy), fakePatch("p040"));
}

// Every line of a written map must name a file under the folder that is
// given to the converter as its sample folder (path = folder + name).
void expectMapResolves(const std::string& map, const fs::path& sampleDir) {
    std::istringstream lines(map);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        unsigned index = 0, instrument = 0, release = 0;
        std::string name;
        ASSERT_TRUE(words >> index >> name >> instrument >> release) << line;
        EXPECT_TRUE(fs::is_regular_file(sampleDir.string() + name)) << line;
        EXPECT_EQ(release, 1000u);
        ++count;
    }
    EXPECT_EQ(count, 189);
}

TEST(PatchKit, PathMapNamesTheRealFilesForTheSampleFolderRule) {
    SmallSet set;
    auto r = set.run({"--map", "abs.cfg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectMapResolves(readFile(set / "abs.cfg"), "/");

    r = set.run({"--map", "rel.cfg", "--base", (set / "pats").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string rel = readFile(set / "rel.cfg");
    EXPECT_EQ(rel.substr(0, 14), "0   p000.pat 0") << rel.substr(0, 40);
    expectMapResolves(rel, (set / "pats").string() + "/");
}

TEST(PatchKit, PathMapCarriesThePatchInstrumentNumber) {
    TempDir dir;
    dir.write("p.pat", fakePatch("x", 7));
    dir.write("set.cfg", "0 " + (dir / "p.pat").string() + "\n");
    const auto r = runProcess(
        patchkitBinary(), {"--config", (dir / "set.cfg").string(), "--map", "m.cfg"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(readFile(dir / "m.cfg").find("p.pat 7  1000"), std::string::npos);
}

TEST(PatchKit, BadSetsAreRefusedAndNothingIsWritten) {
    const struct {
        const char* what;
        std::string config;    // "" = no config file at all
        std::string patch;     // content of pats/x.pat
        const char* message;   // expected in the error stream
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
        const auto r = runProcess(patchkitBinary(),
                                  {"--config", (dir / "set.cfg").string(), "--samples", "kit"},
                                  dir.path(), 30);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "kit"));
    }
}

TEST(PatchKit, PathsThatAMapLineCannotCarryAreRefused) {
    // Patches found beside a config in a folder with a blank: a map line
    // reads its name as one blank-free word, so --map must refuse (and say
    // how to get a kit), while --samples links them fine.
    TempDir dir;
    dir.write("my set/x.pat", fakePatch("x"));
    dir.write("my set/set.cfg", "0 x.pat\ndrumset 0\n36 x.pat\n");
    const std::string config = (dir / "my set" / "set.cfg").string();
    auto r = runProcess(patchkitBinary(), {"--config", config, "--map", "m.cfg"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--samples"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "m.cfg"));
    r = runProcess(patchkitBinary(), {"--config", config, "--samples", "kit"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "kit" / "acpiano.pat"));
}

TEST(PatchKit, UsageErrors) {
    TempDir dir;
    const struct {
        std::vector<std::string> args;
        int status;
    } rows[] = {
        {{}, 2},
        {{"--samples"}, 2},
        {{"--bogus"}, 2},
        {{"--help"}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "no arguments" : row.args[0]);
        EXPECT_EQ(runProcess(patchkitBinary(), row.args, dir.path()).exitCode, row.status);
    }
}

}  // namespace
}  // namespace korvalin::test
