// korvalin-patchkit --soundfont on small banks built here and on the
// installed TimGM6mb: the patches it writes, how it reports damage, and how
// the modules made with its patches sound against TiMidity and FluidSynth.
//
// Fidelity thresholds, measured on the demo song with TimGM6mb (22050 Hz,
// 50 ms frames), against (a) TiMidity playing the same patches and (b)
// FluidSynth playing the bank: loudness-envelope correlation 0.83 and 0.83,
// onset correlation 0.47 and 0.48, sounding length ratio 0.99 and 1.00,
// whole-rendering ratio 0.97 and 0.98 (the synthesisers render the last
// release tails longer). The control, 80 s of unrelated piano chords against
// the demo's rendering, gives correlations of 0.05 and 0.02, onsets 0.05 and
// 0.04. So 0.6 (loudness) and 0.3 (onsets) fail when sections go missing,
// land at the wrong time or lose their dynamics, and leave room for the
// players' different envelopes, filters and mixing.
#include <gtest/gtest.h>

#include <cmath>
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

const fs::path kTools = fs::path(korvalinBinary()).parent_path().parent_path() / "tools";
const std::string kPatchkit = (kTools / "patchkit" / "korvalin-patchkit").string();
const std::string kTimGM = "/usr/share/sounds/sf2/TimGM6mb.sf2";

std::string le(std::uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}
std::string chunk(const std::string& id, const std::string& body) {
    return id + le(std::uint32_t(body.size()), 4) + body + (body.size() % 2 ? "\0" : "");
}
std::string name20(const std::string& n) {
    return n + std::string(20 - n.size(), '\0');
}

// A SoundFont 2 bank assembled in memory. A zone is its generators in order,
// (operator, amount), ending with the instrument or sample one; a preset's
// name is "bank:number:name".
using Zones = std::vector<std::vector<std::pair<int, int>>>;
struct Sample {
    std::string name;
    int frames, loopStart = 0, loopEnd = 0, rate = 22050, key = 60, type = 1, link = 0;
};
struct Bank {
    std::vector<Sample> samples;
    std::vector<std::pair<std::string, Zones>> instruments, presets;

    std::string bytes() const {
        std::string smpl, shdr, phdr, pbag, pgen, inst, ibag, igen;
        for (const auto& s : samples) {
            const auto at = std::uint32_t(smpl.size() / 2);
            for (int i = 0; i < s.frames; ++i)
                smpl += le(std::uint16_t(8000 * std::sin(i * 0.2)), 2);
            smpl += std::string(92, '\0');  // the guard frames after each sample
            shdr += name20(s.name);
            for (int v : {0, s.frames, s.loopStart, s.loopEnd})
                shdr += le(at + std::uint32_t(v), 4);
            for (auto [v, n] : {std::pair{s.rate, 4}, {s.key, 2}, {s.link, 2}, {s.type, 2}})
                shdr += le(std::uint32_t(v), n);
        }
        auto zones = [](const Zones& zs, std::string& bags, std::string& gens) {
            for (const auto& z : zs) {
                bags += le(std::uint32_t(gens.size() / 4), 4);
                for (auto [op, v] : z) gens += le(std::uint32_t(op), 2) + le(std::uint32_t(v), 2);
            }
            bags += le(std::uint32_t(gens.size() / 4), 4);  // the closing record's start
        };
        for (const auto& [name, zs] : instruments) {
            inst += name20(name) + le(std::uint32_t(ibag.size() / 4), 2);
            zones(zs, ibag, igen);
            ibag.resize(ibag.size() - 4);
        }
        for (const auto& [label, zs] : presets) {
            phdr += name20(label.substr(label.find(':', 4) + 1)) +
                    le(std::stoul(label.substr(4)), 2) + le(std::stoul(label), 2) +
                    le(std::uint32_t(pbag.size() / 4), 2) + std::string(12, '\0');
            zones(zs, pbag, pgen);
            pbag.resize(pbag.size() - 4);
        }
        zones({}, pbag, pgen), zones({}, ibag, igen);
        phdr += name20("EOP") + le(0, 4) + le(std::uint32_t(pbag.size() / 4 - 1), 2) +
                std::string(12, '\0');
        inst += name20("EOI") + le(std::uint32_t(ibag.size() / 4 - 1), 2);
        const std::string mod(10, '\0'), end(4, '\0'), ids = "phdrpbagpmodpgeninstibagimodigenshdr";
        const std::string tables[] = {
            phdr,       pbag,       mod,
            pgen + end, inst,       ibag,
            mod,        igen + end, shdr + name20("EOS") + std::string(26, '\0')};
        std::string pdta = "pdta";
        for (std::size_t i = 0; i < 9; ++i) pdta += chunk(ids.substr(4 * i, 4), tables[i]);
        return chunk("RIFF", "sfbk" + chunk("LIST", "INFO" + chunk("ifil", le(2, 2) + le(1, 2))) +
                                 chunk("LIST", "sdta" + chunk("smpl", smpl)) + chunk("LIST", pdta));
    }
};

// Programs 0-3 (a split piano with velocity layers and a preset-level
// transposition, a stereo pair, two damaged presets) and a drum kit with a
// kick on key 36 recorded at 96 kHz.
// clang-format off
Bank smallBank() {
    return {{{"low", 1000, 0, 0, 22050, 48}, {"soft", 800}, {"loud", 1200, 200, 1000, 44100, 72},
             {"left", 500, 0, 0, 22050, 60, 4, 4}, {"right", 500, 0, 0, 22050, 60, 2, 3},
             {"kick", 300, 0, 0, 96000, 36}},
            {{"piano", {{{37, 120}, {38, 0}},  // global: sustain -12 dB, release 1 s
                        {{43, 59 << 8}, {53, 0}},
                        {{43, 127 << 8 | 60}, {44, 90 << 8}, {53, 1}},
                        {{43, 127 << 8 | 60}, {44, 127 << 8 | 91}, {54, 1}, {53, 2}}}},
             {"stereo", {{{17, -500 & 0xFFFF}, {53, 3}}, {{17, 500}, {53, 4}}}},
             {"kit", {{{43, 36 << 8 | 36}, {56, 0}, {53, 5}}}},
             {"bad index", {{{53, 99}}}}, {"bad end", {{{1, 30000}, {53, 0}}}}},
            {{"000:0:Piano", {{{51, 1}, {41, 0}}}}, {"000:1:Stereo", {{{41, 1}}}},
             {"000:2:Index", {{{41, 3}}}}, {"000:3:End", {{{41, 4}}}}, {"128:0:Drums", {{{41, 2}}}}}};
}
// clang-format on

// Field `at` (`n` bytes) of wave `wave` of a written GF1 patch.
std::uint32_t field(const std::string& patch, int wave, std::size_t at, int n) {
    auto u = [&](std::size_t pos, int bytes) {
        std::uint32_t v = 0;
        while (bytes-- > 0)
            v = v << 8 | static_cast<unsigned char>(patch[pos + std::size_t(bytes)]);
        return v;
    };
    std::size_t pos = 129 + 63 + 47;
    for (int w = 0; w < wave; ++w) pos += 96 + u(pos + 8, 4);
    return u(pos + at, n);
}

TEST(SoundFontKit, PresetsBecomePatchesWithTheirZonesPitchLoopsAndEnvelope) {
    TempDir dir;
    dir.write("bank.sf2", smallBank().bytes());
    const auto r =
        runProcess(kPatchkit, {"--soundfont", "bank.sf2", "--samples", "samples"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string piano = readFile(dir / "samples" / "acpiano.pat");
    EXPECT_EQ(piano[85], 2) << "two waves: the soft layer does not sound at velocity 100";
    // Fields: bytes, loop start, loop end, rate, balance, modes, scale factor,
    // then the keys of the root, low and high frequencies.
    const std::pair<std::size_t, int> at[] = {{8, 4},  {12, 4}, {16, 4}, {20, 2}, {36, 1},
                                              {55, 1}, {58, 2}, {30, 4}, {22, 4}, {26, 4}};
    const struct {
        const char *what, *patch;
        int wave;
        double values[10];
    } rows[] = {
        // Roots a semitone down: the preset's +1 semitone adds to the zone's.
        {"split", "acpiano.pat", 0, {2000, 0, 0, 22050, 8, 0x61, 1024, 47, 0, 59}},
        {"loop, cut at its end",
         "acpiano.pat",
         1,
         {2000, 400, 2000, 44100, 8, 101, 1024, 71, 60, 127}},
        {"stereo: left, centred",
         "britepno.pat",
         0,
         {1000, 0, 0, 22050, 8, 0x61, 1024, 60, 0, 127}},
        {"96 kHz kick halved", "kick2.pat", 0, {300, 0, 0, 48000, 8, 0x61, 0, 36, 36, 36}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string patch = readFile(dir / "samples" / row.patch);
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
        const int a = int(field(piano, 0, 42 + i, 1)), b = int(field(piano, 0, 43 + i, 1)),
                  rate = int(field(piano, 0, 37 + i, 1));
        s += 0.001 * std::abs((a * 16 + a / 16) - (b * 16 + b / 16)) / (rate & 0x3F) /
             (0.0446428582 / std::pow(8.0, rate >> 6));
    }
    EXPECT_NEAR(384 * std::pow(s / 384, 4), 1000, 20);
    for (const char* text :
         {"skipped (damaged): preset 0:2 'Index': instrument 'bad index': a zone names sample 99",
          "skipped (damaged): preset 0:3 'End'", "outside the", "1 velocity layers",
          "1 right halves", "2 programs of bank 0, 1 percussion keys", "<- program 1"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

TEST(SoundFontKit, DamagedBanksAreRefusedByNameWithoutACrash) {
    const std::string good = smallBank().bytes();
    Bank absurd = smallBank();
    absurd.instruments[0].second[0] = {
        {34, 32767}, {38, 32767}, {48, 32767}, {51, 32767}, {56, 32767}};
    std::string sf3 = good, unnamedTable = good;
    sf3[sf3.find("ifil") + 8] = 3;
    unnamedTable.replace(unnamedTable.find("shdr"), 4, "shdx");
    const struct {
        const char* what;
        std::string bytes;
        int status;
        const char* message;
    } rows[] = {
        {"cut in half", good.substr(0, good.size() / 2), 1, "bank.sf2: RIFF size"},
        {"not a bank", "RIFX" + good.substr(4), 1, "bank.sf2: not a SoundFont"},
        {"compressed", sf3, 1, "bank.sf2: an SF3 bank"},
        {"table missing", unnamedTable, 1, "the 'shdr' table is missing"},
        {"absurd tuning and times are limited", absurd.bytes(), 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        dir.write("bank.sf2", row.bytes);
        const auto r =
            runProcess(kPatchkit, {"--soundfont", "bank.sf2", "--samples", "s"}, dir.path());
        EXPECT_EQ(r.exitCode, row.status) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    }
}

// Converts `song` with the TimGM6mb set and measures the module against the
// demo song played (a) by TiMidity from the same patches, (b) by FluidSynth.
std::map<std::string, double> measure(const TempDir& dir, const std::string& song, bool fluid) {
    EXPECT_EQ(runProcess(korvalinBinary(), {song}, dir.path(), 120).exitCode, 0);
    const auto r = runProcess((kTools / "fidelity" / "korvalin-fidelity").string(),
                              {fluid ? "--soundfont" : "--config", fluid ? kTimGM : "timidity.cfg",
                               "demo.mid", song.substr(0, song.size() - 4) + ".xm"},
                              dir.path(), 300);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, double> values;
    std::istringstream in(r.out);
    std::string name;
    for (double value = 0; in >> name >> value;) values[name] = value;
    return values;
}

TEST(SoundFontKit, TimGM6mbGivesEveryInstrumentAndTheDemoFollowsBothReferences) {
    ASSERT_TRUE(fs::exists(kTimGM)) << "tools/install-deps.sh installs timgm6mb-soundfont";
    TempDir dir;
    const auto kit = runProcess(
        kPatchkit, {"--soundfont", kTimGM, "--samples", "samples", "--default-map", "patch.cfg"},
        dir.path(), 120);
    ASSERT_EQ(kit.exitCode, 0) << kit.err;
    for (const char* text :
         {"128 programs of bank 0, 61 percussion keys", "0 filled, 0 without any sound"})
        EXPECT_NE(kit.out.find(text), std::string::npos) << kit.out;
    // The same patches as a TiMidity set: the map's lines, drums from 128 + 27.
    std::string cfg = "dir " + (dir / "samples").string() + "\nbank 0\n", name;
    std::istringstream map(readFile(dir / "patch.cfg"));
    for (int index = 0; map >> index >> name; map.ignore(1000, '\n'))
        cfg +=
            (index == 155 ? "drumset 0\n" : "") + std::to_string(index % 128) + " " + name + "\n";
    dir.write("timidity.cfg", cfg);
    dir.write("demo.mid", readBytes(sourceDir() / "demo" / "demo.mid"));
    Smf chords(0, 96);  // the control: 20 four-second piano chords
    auto& t = chords.track().tempo(0, 500000).program(0, 0, 0);
    for (int i = 0; i < 20; ++i)
        t.noteOn(i ? 4 * 96 : 0, 0, 48, 112)
            .noteOn(0, 0, 55, 112)
            .noteOff(4 * 96, 0, 48)
            .noteOff(0, 0, 55);
    t.endOfTrack(0);
    dir.write("chords.mid", chords.bytes());
    for (bool fluid : {false, true}) {
        SCOPED_TRACE(fluid ? "(b) FluidSynth playing the bank"
                           : "(a) TiMidity playing the patches");
        auto m = measure(dir, "demo.mid", fluid);
        EXPECT_NEAR(m["duration_ratio"], 1.0, 0.05);
        EXPECT_NEAR(m["sounding_ratio"], 1.0, 0.03);
        EXPECT_GE(m["correlation"], 0.6);
        EXPECT_GE(m["onset_correlation"], 0.3);
        EXPECT_LT(measure(dir, "chords.mid", fluid)["correlation"], 0.6);
    }
}

}  // namespace
}  // namespace korvalin::test
