// The checked-in demo song: it must be what the generator writes, and it must
// carry the material the demo is meant to show (parsed here independently of
// the converter's reader).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "../tools/demosong/DemoSong.h"
#include "support/Process.h"

namespace korvalin::test {
namespace {

struct SongFacts {
    int format = -1;
    int trackCount = 0;
    int division = 0;
    std::map<int, int> noteOnsPerChannel;  // channel (0-15) -> note-ons with velocity > 0
    std::map<int, std::set<int>> controllersPerChannel;
    std::set<int> bendChannels;
    std::set<int> programChanges;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> tempos;  // tick, us per quarter
    std::uint32_t lastTick = 0;
    int unmatchedNotes = 0;  // note-ons never released, or releases of silent notes
    bool parsed = false;
};

std::uint32_t be(const std::vector<unsigned char>& b, std::size_t pos, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | b.at(pos + static_cast<std::size_t>(i));
    return v;
}

std::uint32_t varLen(const std::vector<unsigned char>& b, std::size_t& pos) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = b.at(pos++);
        v = (v << 7) | (c & 0x7F);
        if (!(c & 0x80)) break;
    }
    return v;
}

// A plain reader for well-formed files; it throws (std::out_of_range) on a
// file cut short, which the test reports as a parse failure.
SongFacts readFacts(const std::vector<unsigned char>& b) {
    SongFacts f;
    if (b.size() < 14 || std::string(b.begin(), b.begin() + 4) != "MThd") return f;
    f.format = static_cast<int>(be(b, 8, 2));
    f.trackCount = static_cast<int>(be(b, 10, 2));
    f.division = static_cast<int>(be(b, 12, 2));
    std::size_t pos = 8 + be(b, 4, 4);
    for (int t = 0; t < f.trackCount; ++t) {
        if (std::string(b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos) + 4) !=
            "MTrk")
            return f;
        const std::size_t end = pos + 8 + be(b, pos + 4, 4);
        pos += 8;
        std::uint32_t tick = 0;
        int status = 0;
        std::map<int, int> sounding;  // channel * 128 + key -> open note-ons
        while (pos < end) {
            tick += varLen(b, pos);
            int s = b.at(pos);
            if (s & 0x80) {
                ++pos;
            } else {
                s = status;  // running status
            }
            if (s == 0xFF) {
                const int type = b.at(pos++);
                const std::uint32_t len = varLen(b, pos);
                if (type == 0x51) f.tempos.push_back({tick, be(b, pos, 3)});
                pos += len;
                if (type == 0x2F) break;
                continue;
            }
            if (s == 0xF0 || s == 0xF7) {
                pos += varLen(b, pos);
                continue;
            }
            status = s;
            const int ch = s & 0x0F, kind = s & 0xF0;
            const int d1 = b.at(pos++);
            const int d2 = (kind == 0xC0 || kind == 0xD0) ? 0 : b.at(pos++);
            if (kind == 0x90 && d2 > 0) {
                ++f.noteOnsPerChannel[ch];
                ++sounding[ch * 128 + d1];
            } else if (kind == 0x80 || kind == 0x90) {
                if (sounding[ch * 128 + d1]-- <= 0) ++f.unmatchedNotes;
            } else if (kind == 0xB0) {
                f.controllersPerChannel[ch].insert(d1);
            } else if (kind == 0xE0) {
                f.bendChannels.insert(ch);
            } else if (kind == 0xC0) {
                f.programChanges.insert(ch * 128 + d1);
            }
            f.lastTick = std::max(f.lastTick, tick);
        }
        for (const auto& [note, open] : sounding) f.unmatchedNotes += std::abs(open);
        pos = end;
    }
    f.parsed = true;
    return f;
}

// Seconds from tick 0 to `tick` through the tempo map (120 BPM before the first tempo).
double secondsAt(const SongFacts& f, std::uint32_t tick) {
    double seconds = 0;
    std::uint32_t at = 0, usPerQuarter = 500000;
    for (const auto& [t, us] : f.tempos) {
        if (t >= tick) break;
        seconds += double(t - at) * usPerQuarter / 1e6 / f.division;
        at = t;
        usPerQuarter = us;
    }
    return seconds + double(tick - at) * usPerQuarter / 1e6 / f.division;
}

TEST(DemoSong, CheckedInFileIsTheGeneratorsOutput) {
    const auto onDisk = readBytes(sourceDir() / "demo" / "demo.mid");
    const auto built = demo::buildDemoSong();
    ASSERT_EQ(onDisk.size(), built.size()) << "regenerate demo/demo.mid with korvalin-demosong";
    for (std::size_t i = 0; i < built.size(); ++i)
        ASSERT_EQ(onDisk[i], built[i]) << "first difference at offset " << i;
}

TEST(DemoSong, CarriesWhatTheDemoShows) {
    SongFacts f;
    ASSERT_NO_THROW(f = readFacts(demo::buildDemoSong()));
    ASSERT_TRUE(f.parsed);
    std::set<std::uint32_t> tempoValues;
    for (const auto& t : f.tempos) tempoValues.insert(t.second);
    const double seconds = secondsAt(f, f.lastTick);
    const auto has = [&](int ch, int cc) { return f.controllersPerChannel[ch].count(cc) > 0; };

    const struct {
        const char* what;
        bool holds;
    } rows[] = {
        {"format 1", f.format == 1},
        {"several tracks", f.trackCount >= 4},
        {"division 192", f.division == 192},
        {"drums on MIDI channel 10", f.noteOnsPerChannel[9] > 100},
        {"bass, chords and lead play", f.noteOnsPerChannel[0] > 50 &&
                                           f.noteOnsPerChannel[1] > 50 &&
                                           f.noteOnsPerChannel[2] > 30},
        {"lead bends", f.bendChannels.count(demo::kLeadChannel) == 1},
        {"lead modulation", has(demo::kLeadChannel, 1)},
        {"volume and pan on every melodic part", has(0, 7) && has(0, 10) && has(1, 7) &&
                                                     has(1, 10) && has(2, 7) && has(2, 10)},
        {"a program change mid-song", f.programChanges.count(1 * 128 + demo::kStrings) == 1},
        {"at least one tempo change", tempoValues.size() >= 2},
        {"60 to 120 seconds", seconds >= 60 && seconds <= 120},
        {"every note released once", f.unmatchedNotes == 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(row.holds);
    }
    RecordProperty("seconds", std::to_string(seconds));
}

}  // namespace
}  // namespace korvalin::test
