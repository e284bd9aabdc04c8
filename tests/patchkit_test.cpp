// korvalin-patchkit on small TiMidity sets and SoundFont banks built here or
// installed (TimGM6mb): the patches and maps it writes, how it refuses bad
// input, how modules made from a bank sound.
// Fidelity thresholds, from the demo song with TimGM6mb (22050 Hz, 50 ms
// frames) against (a) TiMidity playing the same patches, (b) FluidSynth
// playing the bank: loudness-envelope correlation 0.82 and 0.81, onsets 0.47
// and 0.48, sounding length ratio 0.99 and 1.00, whole rendering 0.97 and
// 0.98 (longer synthesiser tails). An unrelated piece (every General MIDI
// program in turn) correlates at 0.05 and 0.06 (onsets -0.02, -0.01). So 0.6
// and 0.3 fail when sections go missing, land at the wrong time or lose their
// dynamics, and leave room for the players' different envelopes and mixing.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/Process.h"

namespace korvalin::test {
namespace {

namespace fs = std::filesystem;

// Tools are built beside the converter: <build>/tools/NAME/.
const fs::path kTools = fs::path(korvalinBinary()).parent_path().parent_path() / "tools";
const std::string kPatchkit = (kTools / "patchkit" / "korvalin-patchkit").string();
const std::string kFidelity = (kTools / "fidelity" / "korvalin-fidelity").string();
const std::string kTimGM = "/usr/share/sounds/sf2/TimGM6mb.sf2";

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
    const std::string text = readFile(dir / "patch.cfg");
    EXPECT_EQ(text, readFile(sourceDir() / "frontend/common/default_patch.cfg"));
    // An existing map is only replaced with --force.
    dir.write("patch.cfg", "0 mine.pat 0 1000\n");
    r = runProcess(kPatchkit, {"--default-map", "patch.cfg"}, dir.path());
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir / "patch.cfg"), "0 mine.pat 0 1000\n");
    r = runProcess(kPatchkit, {"--default-map", "patch.cfg", "--force"}, dir.path());
    EXPECT_EQ(readFile(dir / "patch.cfg"), text);
}

TEST(PatchKit, SampleFolderLinksEveryNameToThePresentOrNearestPatch) {
    SmallSet set;
    const auto r = set.run({"--samples", "samples"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(set / "samples"), {}), 189);
    const struct {
        const char *name, *patch, *why;
    } rows[] = {
        // clang-format off
        {"acpiano.pat", "p000", "present"}, {"britepno.pat", "p000", "program 1: nearest in the piano family"},
        {"honky.pat", "p005", "program 3: 5 is nearer than 0"},
        {"celeste.pat", "p005", "program 8: empty family, nearest program overall"},
        {"viola.pat", "p040", "program 41: same family"}, {"pistol.pat", "p040", "program 127: nearest overall"},
        {"kick1.pat", "d036", "key 35: same kind"}, {"hihatpd.pat", "d042", "key 44: the hat beats the nearer tom 45"},
        {"tomlo1.pat", "d045", "key 43: the tom beats the nearer hat 42"},
        {"snare1.pat", "d036", "key 38: no snare in the set, nearest key"},
        {"congalo.pat", "d060", "key 64: hand drums"}, {"highq.pat", "d036", "key 27: no effect sound, nearest key"},
        // clang-format on
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
        std::string name;
        unsigned index = 0, instrument = 0, release = 0, count = 0;
        for (; lines >> index >> name >> instrument >> release; ++count) {
            EXPECT_TRUE(fs::is_regular_file(sampleDir + name)) << name;
            EXPECT_EQ(instrument, name.ends_with("p040.pat") ? 7u : 0u) << name;
            EXPECT_EQ(release, 1000u);
        }
        EXPECT_EQ(count, 189u);
    };
    ASSERT_EQ(set.run({"--map", "abs.cfg"}).exitCode, 0);
    expectResolves(readFile(set / "abs.cfg"), "/");
    ASSERT_EQ(set.run({"--map", "rel.cfg", "--base", (set / "pats").string()}).exitCode, 0);
    const std::string rel = readFile(set / "rel.cfg");
    EXPECT_EQ(rel.substr(0, 14), "0   p000.pat 0") << rel.substr(0, 40);
    expectResolves(rel, (set / "pats").string() + "/");
}

// Little-endian bytes, a RIFF chunk, a 20-byte name field.
// clang-format off
std::string le(std::uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}
std::string chunk(const std::string& id, const std::string& b) { return id + le(std::uint32_t(b.size()), 4) + b + (b.size() % 2 ? "\0" : ""); }
std::string name20(const std::string& n) { return n + std::string(20 - n.size(), '\0'); }
// clang-format on

// A SoundFont 2 bank assembled in memory. A zone is its generators in order,
// (operator, amount), ending with the instrument or sample one; a preset's
// name is "bank:number:name".
using Zones = std::vector<std::vector<std::pair<int, int>>>;
struct Sample {
    std::string name;
    int frames, loopStart = 0, loopEnd = 0, rate = 22050, key = 60, type = 1, link = 0;
};
// clang-format off
struct Bank {
    std::vector<Sample> samples;
    std::vector<std::pair<std::string, Zones>> instruments, presets;

    std::string bytes() const {
        std::string smpl, shdr, phdr, pbag, pgen, inst, ibag, igen;
        for (const auto& s : samples) {
            const auto at = std::uint32_t(smpl.size() / 2);
            for (int i = 0; i < s.frames; ++i) smpl += le(std::uint16_t(8000 * std::sin(i * 0.2)), 2);
            smpl += std::string(92, '\0');  // the guard frames after each sample
            shdr += name20(s.name);
            for (int v : {0, s.frames, s.loopStart, s.loopEnd}) shdr += le(at + std::uint32_t(v), 4);
            for (auto [v, n] : {std::pair{s.rate, 4}, {s.key, 2}, {s.link, 2}, {s.type, 2}}) shdr += le(std::uint32_t(v), n);
        }
        auto zones = [](const Zones& zs, std::string& bags, std::string& gens) {
            for (const auto& z : zs) {
                bags += le(std::uint32_t(gens.size() / 4), 4);
                for (auto [op, v] : z) gens += le(std::uint32_t(op), 2) + le(std::uint32_t(v), 2);
            }
        };
        for (const auto& [name, zs] : instruments) inst += name20(name) + le(std::uint32_t(ibag.size() / 4), 2), zones(zs, ibag, igen);
        for (const auto& [label, zs] : presets) {
            phdr += name20(label.substr(label.find(':', 4) + 1)) + le(std::stoul(label.substr(4)), 2) +
                    le(std::stoul(label), 2) + le(std::uint32_t(pbag.size() / 4), 2) + std::string(12, '\0');
            zones(zs, pbag, pgen);
        }
        phdr += name20("EOP") + le(0, 4) + le(std::uint32_t(pbag.size() / 4), 2) + std::string(12, '\0');
        inst += name20("EOI") + le(std::uint32_t(ibag.size() / 4), 2);
        pbag += le(std::uint32_t(pgen.size() / 4), 4), ibag += le(std::uint32_t(igen.size() / 4), 4);
        const std::string mod(10, '\0'), end(4, '\0'), ids = "phdrpbagpmodpgeninstibagimodigenshdr";
        const std::string tables[] = {phdr, pbag, mod, pgen + end, inst, ibag, mod, igen + end,
                                      shdr + name20("EOS") + std::string(26, '\0')};
        std::string pdta = "pdta";
        for (std::size_t i = 0; i < 9; ++i) pdta += chunk(ids.substr(4 * i, 4), tables[i]);
        return chunk("RIFF", "sfbk" + chunk("LIST", "INFO" + chunk("ifil", le(2, 2) + le(1, 2))) +
                             chunk("LIST", "sdta" + chunk("smpl", smpl)) + chunk("LIST", pdta));
    }
};
// clang-format on

// Programs 0-3 (a split piano with velocity layers and a preset-level
// transposition, a stereo pair, two damaged presets) and a drum kit with a
// kick on key 36 recorded at 96 kHz.
// clang-format off
Bank smallBank() {
    return {{{"low", 1000, 0, 0, 22050, 48}, {"soft", 800}, {"loud", 1200, 200, 1000, 44100, 72},
             {"left", 500, 0, 0, 22050, 60, 4, 4}, {"right", 500, 0, 0, 22050, 60, 2, 3}, {"kick", 300, 0, 0, 96000, 36}},
            {{"piano", {{{37, 120}, {38, 0}},  // global: sustain -12 dB, release 1 s
                        {{43, 59 << 8}, {53, 0}},
                        {{43, 127 << 8 | 60}, {44, 90 << 8}, {53, 1}},
                        {{43, 127 << 8 | 60}, {44, 127 << 8 | 91}, {54, 1}, {53, 2}}}},
             {"stereo", {{{17, -500 & 0xFFFF}, {53, 3}}, {{17, 500}, {53, 4}}}}, {"kit", {{{43, 36 << 8 | 36}, {56, 0}, {53, 5}}}},
             {"bad index", {{{53, 99}}}}, {"bad end", {{{1, 30000}, {53, 0}}}}},
            {{"000:0:Piano", {{{51, 1}, {41, 0}}}}, {"000:1:Stereo", {{{41, 1}}}},
             {"000:2:Index", {{{41, 3}}}}, {"000:3:End", {{{41, 4}}}}, {"128:0:Drums", {{{41, 2}}}}}};
}
// clang-format on

// Field `at` (`n` bytes) of wave `wave` of a written GF1 patch.
std::uint32_t field(const std::string& patch, int wave, std::size_t at, int n) {
    auto u = [&](std::size_t pos, int bytes) {
        std::uint32_t v = 0;
        while (bytes-- > 0) v = v << 8 | std::uint8_t(patch[pos + std::size_t(bytes)]);
        return v;
    };
    std::size_t pos = 129 + 63 + 47;
    for (int w = 0; w < wave; ++w) pos += 96 + u(pos + 8, 4);
    return u(pos + at, n);
}

TEST(PatchKitSoundFont, PresetsBecomePatchesWithTheirZonesPitchLoopsAndEnvelope) {
    TempDir dir;
    dir.write("bank.sf2", smallBank().bytes());
    const auto r = runProcess(kPatchkit, {"--soundfont", "bank.sf2", "--samples", "s"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string piano = readFile(dir / "s" / "acpiano.pat");
    // Fields: bytes, loop start, loop end, rate, balance, modes, scale factor,
    // then the keys of the root, low and high frequencies.
    const std::pair<std::size_t, int> at[] = {{8, 4},  {12, 4}, {16, 4}, {20, 2}, {36, 1},
                                              {55, 1}, {58, 2}, {30, 4}, {22, 4}, {26, 4}};
    const struct {
        const char *what, *patch;
        int wave;
        double values[10];
    } rows[] = {
        // clang-format off
        // Roots a semitone down: the preset's +1 semitone adds to the zone's.
        {"split", "acpiano.pat", 0, {2000, 0, 0, 22050, 8, 0x61, 1024, 47, 0, 59}},
        {"loop, cut at its end", "acpiano.pat", 1, {2000, 400, 2000, 44100, 8, 0x65, 1024, 71, 60, 127}},
        {"stereo: left, centred", "britepno.pat", 0, {1000, 0, 0, 22050, 8, 0x61, 1024, 60, 0, 127}},
        {"96 kHz kick halved", "kick2.pat", 0, {300, 0, 0, 48000, 8, 0x61, 0, 36, 36, 36}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string patch = readFile(dir / "s" / row.patch);
        for (int i = 0; i < 10; ++i) {
            const double v = field(patch, row.wave, at[i].first, at[i].second);
            EXPECT_NEAR(i < 7 ? v : 69 + 12 * std::log2(v / 440000), row.values[i], 0.01) << i;
        }
    }
    // Sustain at -12 dB (offset 223, 0xE0F); a converter reads the release
    // stages' total s as a fade of 384 * (s / 384)^4 ms: the bank's 1 s.
    EXPECT_NEAR(field(piano, 0, 45, 1), 223, 1);
    double s = 0;
    for (std::size_t i = 3; i < 6; ++i) {
        const auto o = [&](std::size_t at) { return int(field(piano, 0, at, 1) * 16.0625); };
        s += 0.001 * std::abs(o(42 + i) - o(43 + i)) / (field(piano, 0, 37 + i, 1) & 0x3F) /
             (0.0446428582 / std::pow(8.0, field(piano, 0, 37 + i, 1) >> 6));
    }
    EXPECT_NEAR(384 * std::pow(s / 384, 4), 1000, 20);
    for (const char* text :
         {"skipped (damaged): preset 0:2 'Index': instrument 'bad index': a zone names sample 99",
          "skipped (damaged): preset 0:3 'End'", "outside the", "1 velocity layers",
          "1 right halves", "2 programs of bank 0, 1 percussion keys", "<- program 1"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

// Bad sets, banks and command lines: refused with the reason, nothing written.
TEST(PatchKit, BadInputIsRefusedByNameAndNothingIsWritten) {
    const std::string good = smallBank().bytes(), x = fakePatch("x");
    Bank absurd = smallBank(), web = smallBank();  // limits far past; 9000 x 9000 zones
    absurd.instruments[0].second[0] = {{34, 32767}, {38, 32767}, {51, 32767}, {56, 32767}};
    web.presets[0].second.assign(9000, {{41, 0}});
    web.instruments[0].second.assign(9000, {{53, 0}});
    std::string sf3 = good, noTable = good;
    sf3[sf3.find("ifil") + 8] = 3;
    noTable.replace(noTable.find("shdr"), 4, "shdx");
    const std::vector<std::string> set = {"--config", "set.cfg", "--samples", "kit"},
                                   bank = {"--soundfont", "bank.sf2", "--samples", "kit"};
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<std::string> args;
        int status;
        const char* message;  // expected in the error stream
    } rows[] = {
        // clang-format off
        {"missing config", {}, set, 1, "set.cfg"},
        {"missing patch", {{"set.cfg", "0 nothere.pat\n"}}, set, 1, "not found"},
        {"not a patch", {{"set.cfg", "0 x.pat\n"}, {"x.pat", std::string(200, 'A')}}, set, 1, "not a GF1 patch"},
        {"no instrument header", {{"set.cfg", "0 x.pat\n"}, {"x.pat", x.substr(0, 100)}}, set, 1, "cut short"},
        {"config sources itself", {{"set.cfg", "source set.cfg\n0 x.pat\n"}, {"x.pat", x}}, set, 1, "nested"},
        {"only drums", {{"set.cfg", "drumset 0\n36 x.pat\n"}, {"x.pat", x}}, set, 1, "no sound for program 0"},
        // A map line reads its name as one blank-free word: --map refuses, --samples works.
        {"blank in a map path", {{"my set/set.cfg", "0 x.pat\ndrumset 0\n36 x.pat\n"}, {"my set/x.pat", x}},
         {"--config", "my set/set.cfg", "--map", "kit"}, 1, "--samples"},
        {"blank in a linked path", {{"my set/set.cfg", "0 x.pat\ndrumset 0\n36 x.pat\n"}, {"my set/x.pat", x}},
         {"--config", "my set/set.cfg", "--samples", "kit"}, 0, ""},
        {"bank cut in half", {{"bank.sf2", good.substr(0, good.size() / 2)}}, bank, 1, "bank.sf2: RIFF size"},
        {"not a bank", {{"bank.sf2", "RIFX" + good.substr(4)}}, bank, 1, "bank.sf2: not a SoundFont"},
        {"compressed bank", {{"bank.sf2", sf3}}, bank, 1, "bank.sf2: an SF3 bank"},
        {"table missing", {{"bank.sf2", noTable}}, bank, 1, "the 'shdr' table is missing"},
        {"absurd values are limited", {{"bank.sf2", absurd.bytes()}}, bank, 0, ""},
        {"a web of zones is cut short", {{"bank.sf2", web.bytes()}}, bank, 0, ""},
        {"no arguments", {}, {}, 2, "nothing to write"},
        {"option without value", {}, {"--samples"}, 2, "needs a value"},
        {"unknown option", {}, {"--bogus"}, 2, "unknown argument"},
        {"bank without a folder", {}, {"--soundfont", "b.sf2", "--map", "kit"}, 2, "--samples"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        for (const auto& [name, bytes] : row.files) dir.write(name, bytes);
        const auto r = runProcess(kPatchkit, row.args, dir.path());
        EXPECT_EQ(r.exitCode, row.status) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(fs::exists(dir / "kit"), row.status == 0);
    }
}

TEST(PatchKitSoundFont, TimGM6mbGivesEveryInstrumentAndTheDemoFollowsBothReferences) {
    TempDir dir;
    const auto kit = runProcess(
        kPatchkit, {"--soundfont", kTimGM, "--samples", "samples", "--default-map", "patch.cfg"},
        dir.path(), 120);
    ASSERT_EQ(kit.exitCode, 0) << kit.err;
    EXPECT_NE(kit.out.find("128 programs of bank 0, 61 percussion keys"), std::string::npos)
        << kit.out;
    // The same patches as a TiMidity set: the map's lines, drums from 128 + 27.
    std::string cfg = "dir " + (dir / "samples").string() + "\nbank 0\n", name;
    std::istringstream map(readFile(dir / "patch.cfg"));
    for (int n = 0; map >> n >> name; map.ignore(1000, '\n'))
        cfg += (n == 155 ? "drumset 0\n" : "") + std::to_string(n % 128) + " " + name + "\n";
    dir.write("timidity.cfg", cfg);
    dir.write("demo.mid", readBytes(sourceDir() / "demo" / "demo.mid"));
    // The control: every General MIDI program in turn, unrelated to the demo.
    dir.write("control.mid", readBytes(midiCasesDir() / "test-all-gm-sounds.mid"));
    for (bool fluid : {false, true}) {
        SCOPED_TRACE(fluid ? "(b) FluidSynth playing the bank" : "(a) TiMidity, same patches");
        // Converts `song` and measures its module against the demo's rendering.
        auto measure = [&](const std::string& song) {
            runProcess(korvalinBinary(), {song + ".mid"}, dir.path(), 120);
            const std::vector<std::string> args = {fluid ? "--soundfont" : "--config",
                                                   fluid ? kTimGM : "timidity.cfg", "demo.mid",
                                                   song + ".xm"};
            std::istringstream in(runProcess(kFidelity, args, dir.path(), 300).out);
            std::map<std::string, double> values;
            for (double value = 0; in >> name >> value;) values[name] = value;
            return values;
        };
        auto m = measure("demo");
        EXPECT_NEAR(m["duration_ratio"], 1.0, 0.05);
        EXPECT_NEAR(m["sounding_ratio"], 1.0, 0.03);
        EXPECT_GE(m["correlation"], 0.6);
        EXPECT_GE(m["onset_correlation"], 0.3);
        EXPECT_LT(measure("control")["correlation"], 0.6);
    }
}

}  // namespace
}  // namespace korvalin::test
