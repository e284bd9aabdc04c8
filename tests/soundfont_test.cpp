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
#include "support/Players.h"
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
    return id + le(static_cast<std::uint32_t>(body.size()), 4) + body +
           (body.size() % 2 ? "\0" : "");
}
std::string name20(const std::string& n) {
    return n + std::string(20 - n.size(), '\0');
}

// A SoundFont 2 bank assembled in memory. A zone is its generators in
// order, (operator, amount), ending with the instrument or sample one.
struct Bank {
    using Zone = std::vector<std::pair<int, int>>;
    struct Sample {
        std::string name;
        int frames, loopStart = 0, loopEnd = 0, rate = 22050, key = 60, type = 1, link = 0;
    };
    struct Preset {
        std::string name;
        int bank, number;
        std::vector<Zone> zones;
    };
    std::vector<Sample> samples;
    std::vector<std::pair<std::string, std::vector<Zone>>> instruments;
    std::vector<Preset> presets;
    int major = 2;

    // Zone tables: the bag records, generator records and headers of a level.
    static void zones(const std::vector<Zone>& zs, std::string& bags, std::string& gens) {
        for (const auto& z : zs) {
            bags += le(static_cast<std::uint32_t>(gens.size() / 4), 2) + le(0, 2);
            for (auto [op, amount] : z)
                gens += le(std::uint32_t(op), 2) + le(std::uint32_t(amount), 2);
        }
    }
    std::string bytes() const {
        std::string smpl, shdr, phdr, pbag, pgen, inst, ibag, igen;
        for (const auto& s : samples) {
            const auto start = static_cast<std::uint32_t>(smpl.size() / 2);
            for (int i = 0; i < s.frames; ++i)
                smpl += le(static_cast<std::uint16_t>(8000 * std::sin(i * 0.2)), 2);
            smpl += std::string(92, '\0');  // the guard frames after each sample
            shdr += name20(s.name) + le(start, 4) + le(start + std::uint32_t(s.frames), 4) +
                    le(start + std::uint32_t(s.loopStart), 4) +
                    le(start + std::uint32_t(s.loopEnd), 4) + le(std::uint32_t(s.rate), 4) +
                    le(std::uint32_t(s.key), 1) + le(0, 1) + le(std::uint32_t(s.link), 2) +
                    le(std::uint32_t(s.type), 2);
        }
        shdr += name20("EOS") + std::string(26, '\0');
        for (const auto& [name, zs] : instruments) {
            inst += name20(name) + le(static_cast<std::uint32_t>(ibag.size() / 4), 2);
            zones(zs, ibag, igen);
        }
        for (const auto& p : presets) {
            phdr += name20(p.name) + le(std::uint32_t(p.number), 2) + le(std::uint32_t(p.bank), 2) +
                    le(static_cast<std::uint32_t>(pbag.size() / 4), 2) + std::string(12, '\0');
            zones(p.zones, pbag, pgen);
        }
        phdr += name20("EOP") + le(0, 4) + le(static_cast<std::uint32_t>(pbag.size() / 4), 2) +
                std::string(12, '\0');
        inst += name20("EOI") + le(static_cast<std::uint32_t>(ibag.size() / 4), 2);
        pbag += le(static_cast<std::uint32_t>(pgen.size() / 4), 2) + le(0, 2);
        ibag += le(static_cast<std::uint32_t>(igen.size() / 4), 2) + le(0, 2);
        const std::string mod(10, '\0'), gen(4, '\0');
        const std::string body =
            "sfbk" + chunk("LIST", "INFO" + chunk("ifil", le(std::uint32_t(major), 2) + le(1, 2))) +
            chunk("LIST", "sdta" + chunk("smpl", smpl)) +
            chunk("LIST", "pdta" + chunk("phdr", phdr) + chunk("pbag", pbag) + chunk("pmod", mod) +
                              chunk("pgen", pgen + gen) + chunk("inst", inst) +
                              chunk("ibag", ibag) + chunk("imod", mod) + chunk("igen", igen + gen) +
                              chunk("shdr", shdr));
        return chunk("RIFF", body);
    }
};

// Programs 0-3 (a split piano with velocity layers and a preset-level
// transposition, a stereo pair, two damaged presets) and a drum kit with a
// kick on key 36 recorded at 96 kHz.
Bank smallBank() {
    Bank b;
    b.samples = {{"low", 1000, 0, 0, 22050, 48},        {"soft", 800},
                 {"loud", 1200, 200, 1000, 44100, 72},  {"left", 500, 0, 0, 22050, 60, 4, 4},
                 {"right", 500, 0, 0, 22050, 60, 2, 3}, {"kick", 300, 0, 0, 96000, 36}};
    b.instruments = {
        {"piano",
         {{{37, 120}, {38, 0}},  // global: sustain -12 dB, release 1 s
          {{43, 59 << 8}, {53, 0}},
          {{43, 127 << 8 | 60}, {44, 90 << 8}, {53, 1}},
          {{43, 127 << 8 | 60}, {44, 127 << 8 | 91}, {54, 1}, {53, 2}}}},
        {"stereo", {{{17, -500 & 0xFFFF}, {53, 3}}, {{17, 500}, {53, 4}}}},
        {"kit", {{{43, 36 << 8 | 36}, {56, 0}, {53, 5}}}},
        {"bad index", {{{53, 99}}}},
        {"bad end", {{{1, 30000}, {53, 0}}}},
    };
    b.presets = {{"Piano", 0, 0, {{{51, 1}, {41, 0}}}},
                 {"Stereo", 0, 1, {{{41, 1}}}},
                 {"Index", 0, 2, {{{41, 3}}}},
                 {"End", 0, 3, {{{41, 4}}}},
                 {"Drums", 128, 0, {{{41, 2}}}}};
    return b;
}

// Wave headers of a written GF1 patch (one instrument, one layer).
struct WaveHead {
    std::uint32_t bytes, loopStart, loopEnd, rate, low, high, root;
    int balance, modes, scaleFactor;
    std::string rates, offsets;
};
std::vector<WaveHead> waves(const std::string& patch) {
    auto u = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(patch[at + std::size_t(i)]);
        return v;
    };
    std::vector<WaveHead> out;
    for (std::size_t at = 129 + 63 + 47, n = u(85, 2); out.size() < n; at += 96 + out.back().bytes)
        out.push_back({u(at + 8, 4), u(at + 12, 4), u(at + 16, 4), u(at + 20, 2), u(at + 22, 4),
                       u(at + 26, 4), u(at + 30, 4), int(u(at + 36, 1)), int(u(at + 55, 1)),
                       int(u(at + 58, 2)), patch.substr(at + 37, 6), patch.substr(at + 43, 6)});
    return out;
}

// The level (0-1) of an envelope offset byte and the milliseconds of a stage,
// as a converter reads a GF1 envelope.
double level(char offset) {
    const int o = (offset & 0xFF) * 16 + (offset & 0xFF) / 16;
    return ((o & 255) + 256) / (std::pow(2.0, 15 - (o >> 8)) * 512.0);
}
double stageMs(char rate, char from, char to) {
    const int a = (from & 0xFF) * 16 + (from & 0xFF) / 16, b = (to & 0xFF) * 16 + (to & 0xFF) / 16;
    return 0.001 * std::abs(a - b) / (rate & 0x3F) /
           (0.0446428582 / std::pow(8.0, (rate & 0xFF) >> 6));
}

TEST(SoundFontKit, PresetsBecomePatchesWithTheirZonesPitchLoopsAndEnvelope) {
    TempDir dir;
    dir.write("bank.sf2", smallBank().bytes());
    const auto r =
        runProcess(kPatchkit, {"--soundfont", "bank.sf2", "--samples", "samples"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const auto piano = waves(readFile(dir / "samples" / "acpiano.pat"));
    ASSERT_EQ(piano.size(), 2u) << "the soft layer does not sound at velocity 100";
    const struct {
        const char* what;
        WaveHead w;
        std::uint32_t bytes, loopEnd, rate, root;
        int lowKey, highKey, looped, balance;
    } rows[] = {
        // Roots a semitone down: the preset's +1 semitone adds to the zone.
        {"low split", piano[0], 2000, 0, 22050, 123470, 0, 59, 0, 8},
        {"looped split, cut at its loop end", piano[1], 2000, 2000, 44100, 493883, 60, 127, 4, 8},
        {"stereo pair: left half, centred", waves(readFile(dir / "samples" / "britepno.pat"))[0],
         1000, 0, 22050, 261625, 0, 127, 0, 8},
        {"96 kHz kick halved to fit 16 bits", waves(readFile(dir / "samples" / "kick2.pat"))[0],
         300, 0, 48000, 65406, 36, 36, 0, 8},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.w.bytes, row.bytes);
        EXPECT_EQ(row.w.loopEnd, row.loopEnd);
        EXPECT_EQ(row.w.rate, row.rate);
        EXPECT_NEAR(row.w.root, row.root, 2.0);
        const double key = 69 + 12 * std::log2(row.w.low / 440000.0),
                     top = 69 + 12 * std::log2(row.w.high / 440000.0);
        EXPECT_NEAR(key, row.lowKey, 0.01);
        EXPECT_NEAR(top, row.highKey, 0.01);
        EXPECT_EQ(row.w.modes, 0x61 | row.looped);
        EXPECT_EQ(row.w.balance, row.balance);
    }
    EXPECT_EQ(piano[1].loopStart, 400u);
    EXPECT_EQ(waves(readFile(dir / "samples" / "kick2.pat"))[0].scaleFactor, 0);
    // Sustain at -12 dB; a converter reads the release stages' total s as a
    // fade of 384 * (s / 384)^4 ms, which is to be the bank's 1 s release.
    const auto& e = piano[0];
    EXPECT_NEAR(level(e.offsets[2]), std::pow(10.0, -12.0 / 20.0), 0.02);
    double s = 0;
    for (int i = 3; i < 6; ++i) s += stageMs(e.rates[i], e.offsets[i - 1], e.offsets[i]);
    EXPECT_NEAR(384 * std::pow(s / 384, 4), 1000, 20);
    for (const char* text :
         {"skipped (damaged): preset 0:2 'Index': instrument 'bad index': a zone names sample 99",
          "skipped (damaged): preset 0:3 'End'", "outside the", "1 velocity layers",
          "1 right halves", "2 programs of bank 0, 1 percussion keys", "<- program 1"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    // The set converts: a piano note and a kick.
    Smf smf(0, 96);
    smf.track()
        .program(0, 0, 0)
        .noteOn(0, 0, 60, 100)
        .noteOn(0, 9, 36, 100)
        .noteOff(96, 0, 60)
        .endOfTrack(0);
    dir.write("song.mid", smf.bytes());
    dir.write("patch.cfg", readFile(sourceDir() / "frontend/common/default_patch.cfg"));
    const auto c = runProcess(korvalinBinary(), {"song.mid"}, dir.path());
    EXPECT_EQ(c.exitCode, 0) << c.out;
    const auto report = checkInPlayers(readBytes(dir / "song.xm"), true);
    EXPECT_TRUE(report.mismatch.empty()) << report.mismatch;
    EXPECT_GT(report.peak, 0.05);
}

TEST(SoundFontKit, DamagedBanksAreRefusedByNameWithoutACrash) {
    const std::string good = smallBank().bytes();
    Bank sf3 = smallBank(), absurd = smallBank();
    sf3.major = 3;
    absurd.instruments[0].second[0] = {
        {34, 32767}, {38, 32767}, {48, 32767}, {51, 32767}, {56, 32767}};
    std::string unnamedTable = good;
    unnamedTable.replace(unnamedTable.find("shdr"), 4, "shdx");
    const struct {
        const char* what;
        std::string bytes;
        int status;
        const char* message;
    } rows[] = {
        {"cut in half", good.substr(0, good.size() / 2), 1, "bank.sf2: RIFF size"},
        {"not a bank", "RIFX" + good.substr(4), 1, "bank.sf2: not a SoundFont"},
        {"compressed", sf3.bytes(), 1, "bank.sf2: an SF3 bank"},
        {"table missing", unnamedTable, 1, "the 'shdr' table is missing"},
        {"absurd tuning and times are limited", absurd.bytes(), 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        dir.write("bank.sf2", row.bytes);
        const auto r =
            runProcess(kPatchkit, {"--soundfont", "bank.sf2", "--samples", "samples"}, dir.path());
        EXPECT_EQ(r.exitCode, row.status) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    }
}

// Converts `song` with the TimGM6mb set and measures the module against the
// demo song played (a) by TiMidity from the same patches, (b) by FluidSynth.
std::map<std::string, double> measure(const TempDir& dir, const std::string& song, bool fluid) {
    const auto c = runProcess(korvalinBinary(), {song}, dir.path(), 120);
    EXPECT_EQ(c.exitCode, 0) << c.out;
    std::vector<std::string> args = {"demo.mid", song.substr(0, song.size() - 4) + ".xm"};
    args.insert(args.begin(),
                {fluid ? "--soundfont" : "--config", fluid ? kTimGM : "timidity.cfg"});
    const auto r =
        runProcess((kTools / "fidelity" / "korvalin-fidelity").string(), args, dir.path(), 300);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, double> values;
    std::istringstream in(r.out);
    std::string key;
    for (double value = 0; in >> key >> value;) values[key] = value;
    return values;
}

TEST(SoundFontKit, TimGM6mbGivesEveryInstrumentAndTheDemoFollowsBothReferences) {
    ASSERT_TRUE(fs::exists(kTimGM)) << "tools/install-deps.sh installs timgm6mb-soundfont";
    TempDir dir;
    const auto kit = runProcess(
        kPatchkit, {"--soundfont", kTimGM, "--samples", "samples", "--default-map", "patch.cfg"},
        dir.path(), 120);
    ASSERT_EQ(kit.exitCode, 0) << kit.err;
    EXPECT_NE(kit.out.find("128 programs of bank 0, 61 percussion keys"), std::string::npos)
        << kit.out;
    EXPECT_NE(kit.out.find("0 filled, 0 without any sound"), std::string::npos) << kit.out;
    std::string cfg = "dir " + (dir / "samples").string() + "\nbank 0\n", name;
    std::istringstream map(readFile(dir / "patch.cfg"));
    for (int index = 0; map >> index >> name; map.ignore(1000, '\n'))
        cfg +=
            (index == 155 ? "drumset 0\n" : "") + std::to_string(index % 128) + " " + name + "\n";
    dir.write("timidity.cfg", cfg);
    dir.write("demo.mid", readBytes(sourceDir() / "demo" / "demo.mid"));
    Smf chords(0, 96);  // the control: 20 four-second piano chords
    auto& t = chords.track();
    t.tempo(0, 500000).program(0, 0, 0);
    for (int i = 0; i < 20; ++i)
        t.noteOn(i == 0 ? 0 : 4 * 96, 0, 48, 112)
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
