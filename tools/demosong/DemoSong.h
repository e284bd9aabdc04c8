// The project's demo piece, built as a Standard MIDI File in memory.
//
// "Tide at Kessby": about 80 seconds in C major over C - Am - F - G, format 1,
// five tracks (conductor, drums on MIDI channel 10, bass, chords, lead). It
// exercises what a converter has to handle in ordinary files: tempo changes,
// a program change in the middle, volume and pan controllers, a lead line
// with pitch-bend slides and modulation swells, both note-off encodings
// (0x80 and note-on with velocity 0) and running status.
//
// Header-only so the generator program and the tests share one definition.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korvalin::demo {

inline constexpr std::uint16_t kDivision = 192;  // ticks per quarter note
inline constexpr std::uint32_t kBar = 4 * kDivision;

// General MIDI channels (counted from 0) and programs of the parts.
inline constexpr std::uint8_t kDrumChannel = 9;
inline constexpr std::uint8_t kBassChannel = 0;
inline constexpr std::uint8_t kChordChannel = 1;
inline constexpr std::uint8_t kLeadChannel = 2;
inline constexpr std::uint8_t kFingerBass = 33;
inline constexpr std::uint8_t kPiano = 0;
inline constexpr std::uint8_t kStrings = 48;
inline constexpr std::uint8_t kFlute = 73;

// Song layout in bars: intro, verse (chords and bass), theme (lead enters),
// bridge (faster, strings, bends), reprise, final chord.
inline constexpr std::uint32_t kIntroBars = 4;
inline constexpr std::uint32_t kVerseBars = 8;
inline constexpr std::uint32_t kThemeBars = 8;
inline constexpr std::uint32_t kBridgeBars = 8;
inline constexpr std::uint32_t kRepriseBars = 4;
inline constexpr std::uint32_t kFinalBars = 2;
inline constexpr std::uint32_t kTotalBars =
    kIntroBars + kVerseBars + kThemeBars + kBridgeBars + kRepriseBars + kFinalBars;

namespace detail {

// One track's events before delta encoding. `order` sorts events of the same
// tick: note-offs (0) go before controllers (1) and note-ons (2), so a
// repeated note is released before it is struck again.
struct TimedEvent {
    std::uint32_t tick;
    int order;
    std::uint32_t sequence;
    std::vector<std::uint8_t> bytes;  // status byte first, or 0xFF for meta
};

class TrackWriter {
  public:
    explicit TrackWriter(bool runningStatus) : runningStatus_(runningStatus) {}

    void meta(std::uint32_t tick, std::uint8_t type, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> b = {0xFF, type};
        putVarLen(b, static_cast<std::uint32_t>(data.size()));
        b.insert(b.end(), data.begin(), data.end());
        add(tick, 1, std::move(b));
    }
    void text(std::uint32_t tick, std::uint8_t type, const std::string& s) {
        meta(tick, type, std::vector<std::uint8_t>(s.begin(), s.end()));
    }
    void tempo(std::uint32_t tick, std::uint32_t bpm) {
        const std::uint32_t us = 60000000u / bpm;
        meta(tick, 0x51, {std::uint8_t(us >> 16), std::uint8_t(us >> 8), std::uint8_t(us)});
    }
    void controller(std::uint32_t tick, std::uint8_t ch, std::uint8_t number, std::uint8_t value) {
        add(tick, 1, {std::uint8_t(0xB0 | ch), number, value});
    }
    void program(std::uint32_t tick, std::uint8_t ch, std::uint8_t prog) {
        add(tick, 1, {std::uint8_t(0xC0 | ch), prog});
    }
    // value is the signed bend, -8192..8191.
    void bend(std::uint32_t tick, std::uint8_t ch, int value) {
        const auto v = static_cast<std::uint32_t>(std::clamp(value + 8192, 0, 16383));
        add(tick, 1, {std::uint8_t(0xE0 | ch), std::uint8_t(v & 0x7F), std::uint8_t(v >> 7)});
    }
    // A note from tick for length ticks. Off-velocity-0 note-ons are used
    // when the track is written with running status, as sequencers do.
    void note(std::uint32_t tick, std::uint32_t length, std::uint8_t ch, std::uint8_t key,
              std::uint8_t velocity) {
        add(tick, 2, {std::uint8_t(0x90 | ch), key, velocity});
        if (runningStatus_)
            add(tick + length, 0, {std::uint8_t(0x90 | ch), key, 0});
        else
            add(tick + length, 0, {std::uint8_t(0x80 | ch), key, 64});
    }

    // The MTrk chunk, events sorted by time, ending with end-of-track.
    std::vector<std::uint8_t> chunk() {
        std::stable_sort(events_.begin(), events_.end(), [](const auto& a, const auto& b) {
            if (a.tick != b.tick) return a.tick < b.tick;
            if (a.order != b.order) return a.order < b.order;
            return a.sequence < b.sequence;
        });
        std::vector<std::uint8_t> body;
        std::uint32_t now = 0;
        std::uint8_t lastStatus = 0;
        for (const auto& e : events_) {
            putVarLen(body, e.tick - now);
            now = e.tick;
            const std::uint8_t status = e.bytes[0];
            if (status >= 0xF0) {
                lastStatus = 0;  // meta events cancel running status
                body.insert(body.end(), e.bytes.begin(), e.bytes.end());
            } else if (runningStatus_ && status == lastStatus) {
                body.insert(body.end(), e.bytes.begin() + 1, e.bytes.end());
            } else {
                lastStatus = status;
                body.insert(body.end(), e.bytes.begin(), e.bytes.end());
            }
        }
        body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
        std::vector<std::uint8_t> out = {'M', 'T', 'r', 'k'};
        putU32BE(out, static_cast<std::uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

    static void putVarLen(std::vector<std::uint8_t>& out, std::uint32_t v) {
        std::uint8_t groups[5];
        int n = 0;
        do {
            groups[n++] = static_cast<std::uint8_t>(v & 0x7F);
            v >>= 7;
        } while (v != 0);
        while (n > 1) out.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
        out.push_back(groups[0]);
    }
    static void putU32BE(std::vector<std::uint8_t>& out, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
    }

  private:
    void add(std::uint32_t tick, int order, std::vector<std::uint8_t> bytes) {
        events_.push_back({tick, order, sequence_++, std::move(bytes)});
    }

    bool runningStatus_;
    std::uint32_t sequence_ = 0;
    std::vector<TimedEvent> events_;
};

// The four chords of the progression, as bass root and a close voicing
// around middle C that moves by step from chord to chord.
struct Chord {
    std::uint8_t root;
    std::uint8_t voicing[3];
};
inline constexpr Chord kC = {36, {60, 64, 67}};
inline constexpr Chord kAm = {33, {57, 60, 64}};
inline constexpr Chord kF = {29, {57, 60, 65}};
inline constexpr Chord kG = {31, {55, 59, 62}};
inline constexpr Chord kProgression[4] = {kC, kAm, kF, kG};
// The bridge starts on the relative minor for contrast.
inline constexpr Chord kBridgeProgression[4] = {kAm, kF, kC, kG};

// The chord under bar `bar` of the song.
inline const Chord& chordAt(std::uint32_t bar) {
    const std::uint32_t bridgeBar = kIntroBars + kVerseBars + kThemeBars;
    if (bar >= bridgeBar && bar < bridgeBar + kBridgeBars)
        return kBridgeProgression[(bar - bridgeBar) % 4];
    return kProgression[bar % 4];
}

// A melody note: key (0 = rest) and length in eighth notes.
struct MelodyNote {
    std::uint8_t key;
    std::uint8_t eighths;
};

// The theme: two four-bar phrases over C Am F G.
inline const std::vector<MelodyNote>& themeMelody() {
    static const std::vector<MelodyNote> notes = {
        {76, 2}, {74, 1}, {72, 1}, {76, 2}, {79, 2},  // C
        {81, 3}, {79, 1}, {76, 4},                    // Am
        {77, 2}, {76, 1}, {74, 1}, {72, 2}, {69, 2},  // F
        {71, 2}, {74, 2}, {79, 4},                    // G
        {76, 2}, {74, 1}, {72, 1}, {76, 2}, {79, 2},  // C
        {84, 3}, {83, 1}, {81, 4},                    // Am
        {77, 2}, {81, 2}, {79, 1}, {77, 1}, {76, 2},  // F
        {74, 4}, {71, 2}, {74, 2},                    // G
    };
    return notes;
}

// The bridge: long notes that the lead slides into with the pitch wheel.
inline const std::vector<MelodyNote>& bridgeMelody() {
    static const std::vector<MelodyNote> notes = {
        {81, 6}, {79, 2}, {77, 4}, {81, 4}, {79, 6}, {76, 2}, {74, 8},
        {84, 6}, {83, 2}, {81, 4}, {77, 4}, {79, 4}, {84, 4}, {83, 8},
    };
    return notes;
}

inline constexpr std::uint32_t kEighth = kDivision / 2;

// Plays a melody from `start`; notes of `slideFrom` eighths or more are
// approached with a bend up from a semitone below, and notes of
// `swellFrom` eighths or more get a modulation swell in their second half.
inline void playLead(TrackWriter& t, std::uint32_t start, const std::vector<MelodyNote>& melody,
                     std::uint8_t slideFrom, std::uint8_t swellFrom, std::uint8_t velocity) {
    std::uint32_t tick = start;
    for (const auto& n : melody) {
        const std::uint32_t length = n.eighths * kEighth;
        if (n.key != 0) {
            if (n.eighths >= slideFrom) {
                // Bend range is two semitones: -4096 is one semitone down.
                for (int step = 0; step <= 8; ++step)
                    t.bend(tick + static_cast<std::uint32_t>(step) * (kEighth / 8), kLeadChannel,
                           -4096 + step * 512);
            }
            t.note(tick, length - 8, kLeadChannel, n.key, velocity);
            if (n.eighths >= swellFrom) {
                const std::uint32_t swellStart = tick + length / 2;
                for (std::uint32_t step = 0; step < 8; ++step)
                    t.controller(swellStart + step * (length / 16), kLeadChannel, 1,
                                 static_cast<std::uint8_t>(step * 10));
                t.controller(tick + length - 4, kLeadChannel, 1, 0);
            }
        }
        tick += length;
    }
    t.bend(tick, kLeadChannel, 0);
}

// Start ticks of the song's sections.
struct Sections {
    std::uint32_t verse = kIntroBars * kBar;
    std::uint32_t theme = verse + kVerseBars * kBar;
    std::uint32_t bridge = theme + kThemeBars * kBar;
    std::uint32_t reprise = bridge + kBridgeBars * kBar;
    std::uint32_t ending = reprise + kRepriseBars * kBar;
};

// Conductor: names, metre, key and the tempo map.
inline TrackWriter conductorTrack(const Sections& at) {
    TrackWriter conductor(false);
    conductor.text(0, 0x03, "Tide at Kessby");
    conductor.text(0, 0x02, "korvalin demo song, free to use");
    conductor.meta(0, 0x58, {4, 2, 24, 8});  // 4/4
    conductor.meta(0, 0x59, {0, 0});         // C major
    conductor.tempo(0, 100);
    conductor.tempo(at.bridge, 112);
    conductor.tempo(at.reprise, 100);
    conductor.tempo(at.ending, 88);
    conductor.tempo(at.ending + kBar, 72);
    return conductor;
}

// Drums on channel 10: kick, snare, hats, crashes at section starts.
inline TrackWriter drumTrack(const Sections& at) {
    TrackWriter drums(false);
    drums.text(0, 0x03, "Drums");
    drums.controller(0, kDrumChannel, 7, 100);
    drums.controller(0, kDrumChannel, 10, 64);
    constexpr std::uint8_t kick = 36, snare = 38, closedHat = 42, openHat = 46, crash = 49;
    for (std::uint32_t bar = 0; bar < at.ending / kBar; ++bar) {
        const std::uint32_t t0 = bar * kBar;
        const bool intro = bar < kIntroBars;
        const bool sectionStart =
            t0 == at.verse || t0 == at.theme || t0 == at.bridge || t0 == at.reprise;
        if (sectionStart) drums.note(t0, kDivision * 2, kDrumChannel, crash, 110);
        for (std::uint32_t e = 0; e < 8; ++e) {
            const std::uint32_t t = t0 + e * kEighth;
            const bool lastOfPhrase = bar % 4 == 3 && e == 7;
            const std::uint8_t hat = lastOfPhrase ? openHat : closedHat;
            const std::uint8_t hatVelocity = (e % 2 == 0) ? 84 : 60;
            drums.note(t, kEighth - 12, kDrumChannel, hat, hatVelocity);
        }
        drums.note(t0, kEighth, kDrumChannel, kick, 112);
        drums.note(t0 + 4 * kEighth, kEighth, kDrumChannel, kick, 100);
        if (!intro) {
            drums.note(t0 + 3 * kEighth, kEighth, kDrumChannel, kick, 80);
            drums.note(t0 + 2 * kEighth, kEighth, kDrumChannel, snare, 104);
            drums.note(t0 + 6 * kEighth, kEighth, kDrumChannel, snare, 108);
        }
        if (bar % 4 == 3 && !intro) {  // a short fill into the next phrase
            drums.note(t0 + 7 * kEighth, kEighth / 2, kDrumChannel, snare, 70);
            drums.note(t0 + 7 * kEighth + kEighth / 2, kEighth / 2, kDrumChannel, snare, 90);
        }
    }
    drums.note(at.ending, kBar, kDrumChannel, crash, 112);
    drums.note(at.ending, kEighth, kDrumChannel, kick, 112);
    return drums;
}

// Bass: root, root, fifth, octave in a steady eighth-note figure.
inline TrackWriter bassTrack(const Sections& at) {
    TrackWriter bass(true);
    bass.text(0, 0x03, "Bass");
    bass.program(0, kBassChannel, kFingerBass);
    bass.controller(0, kBassChannel, 7, 104);
    bass.controller(0, kBassChannel, 10, 60);
    for (std::uint32_t bar = kIntroBars; bar < at.ending / kBar; ++bar) {
        const std::uint32_t t0 = bar * kBar;
        const std::uint8_t root = chordAt(bar).root;
        const std::uint8_t figure[8] = {root,
                                        0,
                                        root,
                                        static_cast<std::uint8_t>(root + 7),
                                        static_cast<std::uint8_t>(root + 12),
                                        0,
                                        static_cast<std::uint8_t>(root + 7),
                                        root};
        for (std::uint32_t e = 0; e < 8; ++e) {
            if (figure[e] == 0) continue;
            const std::uint32_t length = (e == 0 || e == 4) ? 2 * kEighth - 16 : kEighth - 10;
            bass.note(t0 + e * kEighth, length, kBassChannel, figure[e], e % 4 == 0 ? 108 : 88);
        }
    }
    bass.note(at.ending, 2 * kBar - 24, kBassChannel, kC.root, 110);
    return bass;
}

// Chords: piano in a 3+3+2 rhythm, strings held through the bridge.
inline TrackWriter chordTrack(const Sections& at) {
    TrackWriter chords(true);
    chords.text(0, 0x03, "Chords");
    chords.program(0, kChordChannel, kPiano);
    chords.controller(0, kChordChannel, 10, 40);
    // The intro fades in with the channel volume.
    for (std::uint32_t step = 0; step < 16; ++step)
        chords.controller(step * kDivision / 2, kChordChannel, 7,
                          static_cast<std::uint8_t>(30 + step * 4));
    for (std::uint32_t bar = 0; bar < at.ending / kBar; ++bar) {
        const std::uint32_t t0 = bar * kBar;
        const Chord& chord = chordAt(bar);
        const bool held = bar < kIntroBars || (t0 >= at.bridge && t0 < at.reprise);
        if (t0 == at.bridge) {
            chords.program(t0, kChordChannel, kStrings);
            chords.controller(t0, kChordChannel, 7, 84);
        }
        if (t0 == at.reprise) {
            chords.program(t0, kChordChannel, kPiano);
            chords.controller(t0, kChordChannel, 7, 92);
        }
        for (std::uint8_t key : chord.voicing) {
            if (held) {
                chords.note(t0, kBar - 12, kChordChannel, key, 76);
            } else {
                chords.note(t0, 3 * kEighth - 12, kChordChannel, key, 86);
                chords.note(t0 + 3 * kEighth, 3 * kEighth - 12, kChordChannel, key, 72);
                chords.note(t0 + 6 * kEighth, 2 * kEighth - 12, kChordChannel, key, 78);
            }
        }
    }
    for (std::uint8_t key :
         {std::uint8_t(60), std::uint8_t(64), std::uint8_t(67), std::uint8_t(72)})
        chords.note(at.ending, 2 * kBar - 24, kChordChannel, key, 90);
    return chords;
}

// Lead: flute with slides and vibrato swells, panned across in the bridge.
inline TrackWriter leadTrack(const Sections& at) {
    TrackWriter lead(false);
    lead.text(0, 0x03, "Lead");
    lead.program(0, kLeadChannel, kFlute);
    lead.controller(0, kLeadChannel, 7, 110);
    lead.controller(0, kLeadChannel, 10, 84);
    lead.controller(0, kLeadChannel, 1, 0);
    playLead(lead, at.theme, themeMelody(), 4, 4, 100);
    playLead(lead, at.bridge, bridgeMelody(), 6, 4, 104);
    for (std::uint32_t step = 0; step <= 16; ++step)
        lead.controller(at.bridge + step * (kBridgeBars * kBar / 16), kLeadChannel, 10,
                        static_cast<std::uint8_t>(84 - step * 3));
    lead.controller(at.reprise, kLeadChannel, 10, 72);
    const std::vector<MelodyNote> reprise(themeMelody().begin(), themeMelody().begin() + 13);
    playLead(lead, at.reprise, reprise, 4, 4, 96);
    {
        const std::vector<MelodyNote> last = {{71, 2}, {74, 2}, {79, 4}};
        playLead(lead, at.reprise + 3 * kBar, last, 4, 8, 96);
    }
    playLead(lead, at.ending, {{72, 16}}, 16, 8, 100);
    return lead;
}

}  // namespace detail

// The complete file.
inline std::vector<std::uint8_t> buildDemoSong() {
    using namespace detail;
    const Sections at;
    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 5};
    file.push_back(std::uint8_t(kDivision >> 8));
    file.push_back(std::uint8_t(kDivision & 0xFF));
    for (TrackWriter t :
         {conductorTrack(at), drumTrack(at), bassTrack(at), chordTrack(at), leadTrack(at)}) {
        const auto chunk = t.chunk();
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    return file;
}

}  // namespace korvalin::demo
