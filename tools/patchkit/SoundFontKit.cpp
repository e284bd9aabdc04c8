#include "SoundFontKit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>

namespace korvalin::patchkit {

namespace {

// Generator values of a zone. Ranges keep their lo/hi byte pair, everything
// else is the signed 16-bit amount.
struct GenSet {
    std::int32_t v[kGenCount];
};

constexpr std::int32_t kFullRange = 0x7F00;  // keys or velocities 0-127

GenSet instrumentDefaults() {
    GenSet g{};
    for (int op : {21, 23, 25, 26, 27, 28, 30, 33, 34, 35, 36, 38}) g.v[op] = -12000;
    g.v[kFilterFc] = 13500;
    g.v[kScaleTuning] = 100;
    g.v[kRootKey] = g.v[kKeynum] = g.v[kVelocity] = -1;
    g.v[kKeyRange] = g.v[kVelRange] = kFullRange;
    return g;
}

GenSet presetDefaults() {
    GenSet g{};
    g.v[kKeyRange] = g.v[kVelRange] = kFullRange;
    return g;
}

// Preset-level values add to these instrument values; the others (sample
// addresses, fixed key and velocity, loop mode, root key, exclusive class)
// belong to instruments only and are ignored in presets.
bool addsAtPresetLevel(int op) {
    switch (op) {
        case kStartOffset:
        case kEndOffset:
        case kLoopStartOffset:
        case kLoopEndOffset:
        case kStartCoarse:
        case kEndCoarse:
        case kLoopStartCoarse:
        case kLoopEndCoarse:
        case kKeynum:
        case kVelocity:
        case kSampleModes:
        case kExclusiveClass:
        case kRootKey:
        case kInstrument:
        case kSampleId:
        case kKeyRange:
        case kVelRange:
            return false;
        default:
            return op < kGenCount;
    }
}

int rangeLo(std::int32_t r) {
    return r & 0xFF;
}
int rangeHi(std::int32_t r) {
    return (r >> 8) & 0xFF;
}

// The generators [from, to) overlaid on `into`; returns the amount of the
// closing `terminal` generator (instrument or sample), or -1 for a zone
// without one. Generators after the terminal one are ignored.
long readZone(const std::vector<SfGenRecord>& gens, std::size_t from, std::size_t to,
              std::uint16_t terminal, GenSet& into) {
    for (std::size_t i = from; i < to; ++i) {
        const auto& g = gens[i];
        if (g.op == terminal) return g.amount;
        if (g.op >= kGenCount) continue;
        into.v[g.op] = (g.op == kKeyRange || g.op == kVelRange)
                           ? static_cast<std::int32_t>(g.amount)
                           : static_cast<std::int16_t>(g.amount);
    }
    return -1;
}

// Zone `index` of a bag table: its generators [from, to) and modulator count.
bool zoneSpan(const std::vector<SfBag>& bags, std::size_t genCount, std::size_t index,
              std::size_t& from, std::size_t& to, long& mods) {
    if (index + 1 >= bags.size()) return false;
    from = bags[index].gen;
    to = bags[index + 1].gen;
    mods = std::max(0, bags[index + 1].mod - bags[index].mod);
    return from <= to && to <= genCount;
}

// The bags [first, last) of record `index` of a table whose records hold
// their first bag and end with a closing record.
template <class Record>
bool bagSpan(const std::vector<Record>& records, std::size_t index, std::size_t bagCount,
             std::size_t& first, std::size_t& last) {
    if (index + 1 >= records.size()) return false;
    first = records[index].bag;
    last = records[index + 1].bag;
    return first <= last && last < bagCount;
}

constexpr long kMaxZoneVisits = 1000000;
constexpr std::size_t kMaxRegions = 8192;

struct Region {
    int lo = 0, hi = 0;
    GenSet g{};
};

struct Collector {
    const SoundFont& font;
    int keyLo, keyHi;
    DropCounts& dropped;
    std::string& error;
    std::vector<Region> regions;
    long visits = 0;  // instrument zones read, against a crafted web of references

    bool instrumentZones(std::size_t instrument, const GenSet& preset);
    bool presetZones(std::size_t presetIndex);
};

bool Collector::presetZones(std::size_t presetIndex) {
    std::size_t first = 0, last = 0;
    if (!bagSpan(font.presets, presetIndex, font.presetBags.size(), first, last)) {
        error = "its zone list lies outside the preset zone table";
        return false;
    }
    GenSet global = presetDefaults();
    for (std::size_t b = first; b < last; ++b) {
        std::size_t from = 0, to = 0;
        long mods = 0;
        if (!zoneSpan(font.presetBags, font.presetGens.size(), b, from, to, mods)) {
            error = "preset zone " + std::to_string(b) + " lies outside the generator table";
            return false;
        }
        GenSet zone = global;
        const long instrument = readZone(font.presetGens, from, to, kInstrument, zone);
        if (instrument < 0) {
            if (b == first) global = zone, dropped["modulators"] += mods;
            continue;
        }
        dropped["modulators"] += mods;
        if (static_cast<std::size_t>(instrument) + 1 >= font.instruments.size()) {
            error = "a zone names instrument " + std::to_string(instrument) + " of " +
                    std::to_string(font.instruments.size() - 1);
            return false;
        }
        if (!instrumentZones(static_cast<std::size_t>(instrument), zone)) return false;
    }
    return true;
}

bool Collector::instrumentZones(std::size_t instrument, const GenSet& preset) {
    std::size_t first = 0, last = 0;
    const std::string name = "instrument '" + font.instruments[instrument].name + "'";
    if (!bagSpan(font.instruments, instrument, font.instrumentBags.size(), first, last)) {
        error = name + ": its zone list lies outside the instrument zone table";
        return false;
    }
    GenSet global = instrumentDefaults();
    for (std::size_t b = first; b < last; ++b) {
        // Real presets read a few thousand zones and keep far fewer.
        if (++visits > kMaxZoneVisits || regions.size() >= kMaxRegions) {
            error = "more zones than any preset needs (a damaged or looping zone table)";
            return false;
        }
        std::size_t from = 0, to = 0;
        long mods = 0;
        if (!zoneSpan(font.instrumentBags, font.instrumentGens.size(), b, from, to, mods)) {
            error = name + ": zone " + std::to_string(b) + " lies outside the generator table";
            return false;
        }
        Region r;
        r.g = global;
        const long sample = readZone(font.instrumentGens, from, to, kSampleId, r.g);
        if (sample < 0) {
            if (b == first) global = r.g, dropped["modulators"] += mods;
            continue;
        }
        if (static_cast<std::size_t>(sample) + 1 >= font.samples.size()) {
            error = name + ": a zone names sample " + std::to_string(sample) + " of " +
                    std::to_string(font.samples.size() - 1);
            return false;
        }
        const std::int32_t keys = r.g.v[kKeyRange], vels = r.g.v[kVelRange];
        r.lo = std::max({rangeLo(keys), rangeLo(preset.v[kKeyRange]), keyLo});
        r.hi = std::min({rangeHi(keys), rangeHi(preset.v[kKeyRange]), keyHi});
        if (r.lo > r.hi) continue;
        if (std::max(rangeLo(vels), rangeLo(preset.v[kVelRange])) > kChosenVelocity ||
            std::min(rangeHi(vels), rangeHi(preset.v[kVelRange])) < kChosenVelocity) {
            ++dropped["velocity layers not sounding at velocity 100"];
            continue;
        }
        dropped["modulators"] += mods;
        for (int op = 0; op < kGenCount; ++op)
            if (addsAtPresetLevel(op)) r.g.v[op] += preset.v[op];
        r.g.v[kSampleId] = static_cast<std::int32_t>(sample);
        regions.push_back(r);
    }
    return true;
}

// Stereo pairs keep their left half; where zones overlap, the first one in
// the bank's order keeps the key. Each region ends up with one key span.
void resolveOverlaps(const SoundFont& font, std::vector<Region>& regions, DropCounts& dropped) {
    auto type = [&](const Region& r) { return font.samples[std::size_t(r.g.v[kSampleId])].type; };
    std::vector<Region> kept;
    for (const auto& r : regions) {
        const bool pairedRight =
            (type(r) & kRight) && std::any_of(regions.begin(), regions.end(), [&](const Region& o) {
                return (type(o) & kLeft) && o.lo <= r.hi && r.lo <= o.hi;
            });
        if (pairedRight)
            ++dropped["right halves of stereo pairs (left kept)"];
        else
            kept.push_back(r);
    }
    int owner[128];
    std::fill(std::begin(owner), std::end(owner), -1);
    for (std::size_t i = 0; i < kept.size(); ++i)
        for (int k = kept[i].lo; k <= kept[i].hi; ++k)
            if (owner[k] < 0) owner[k] = static_cast<int>(i);
    regions.clear();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        int bestLo = -1, bestLen = 0;
        for (int k = kept[i].lo; k <= kept[i].hi;) {
            if (owner[k] != static_cast<int>(i)) {
                ++k;
                continue;
            }
            int end = k;
            while (end + 1 <= kept[i].hi && owner[end + 1] == static_cast<int>(i)) ++end;
            if (end - k + 1 > bestLen) bestLo = k, bestLen = end - k + 1;
            k = end + 1;
        }
        if (bestLen == 0) {
            ++dropped["layered zones hidden by another zone on the same keys"];
            continue;
        }
        kept[i].lo = bestLo;
        kept[i].hi = bestLo + bestLen - 1;
        regions.push_back(kept[i]);
    }
    std::stable_sort(regions.begin(), regions.end(),
                     [](const Region& a, const Region& b) { return a.lo < b.lo; });
}

struct Wave {
    std::string name;
    std::vector<std::int16_t> pcm;
    std::uint32_t loopStart = 0, loopEnd = 0;  // frames
    bool looped = false;
    std::uint32_t rate = 0;
    int lo = 0, hi = 0;
    std::uint32_t rootFreq = 0;  // thousandths of a hertz
    int scaleRoot = 60, scaleFactor = 1024;
    int balance = 8;
    Gf1Envelope env{};
    std::uint8_t vibrato[3] = {};  // sweep, rate, depth
};

double milliHz(double key) {
    return 440000.0 * std::pow(2.0, (key - 69.0) / 12.0);
}

// Milliseconds of a time in timecents, limited to 1 ms .. 101 s.
double timecentsMs(long tc) {
    return 1000.0 * std::pow(2.0, static_cast<double>(std::clamp(tc, -12000L, 8000L)) / 1200.0);
}

template <class T>
T clampRound(double v, T lo, T hi) {
    return static_cast<T>(std::clamp(std::lround(v), static_cast<long>(lo), static_cast<long>(hi)));
}

// Pitch: the sample sounds at its rate when played at `rootKey` with `tune`
// cents of correction; keys move it by scaleTuning cents each. GF1 scales
// keys around the scale root, so the root frequency absorbs the rest.
void setPitch(const Region& r, const SfSample& s, Wave& w) {
    const auto& g = r.g.v;
    int root = g[kRootKey] >= 0 && g[kRootKey] <= 127 ? g[kRootKey]
               : s.originalKey <= 127                 ? s.originalKey
                                                      : 60;
    long tune = std::clamp(g[kCoarseTune] * 100L + g[kFineTune] + s.correction, -12000L, 12000L);
    int scale = std::clamp(g[kScaleTuning], 0, 1200);
    if (g[kKeynum] >= 0 && g[kKeynum] <= 127) {  // a fixed key: every key sounds as that one
        tune += static_cast<long>(g[kKeynum] - root) * scale;
        scale = 0;
    }
    w.scaleRoot = scale == 100 ? 60 : std::clamp(root, r.lo, r.hi);
    w.scaleFactor = clampRound(scale * 1024.0 / 100.0, 0, 65535);
    const double cents =
        static_cast<double>((root - w.scaleRoot) * scale) - static_cast<double>(tune);
    w.rootFreq =
        clampRound(milliHz(w.scaleRoot) * std::pow(2.0, cents / 1200.0), 1000L, 2000000000L);
}

void setEnvelopeAndVibrato(const Region& r, Wave& w, DropCounts& dropped) {
    const auto& g = r.g.v;
    const long key = g[kKeynum] >= 0 && g[kKeynum] <= 127 ? g[kKeynum] : (r.lo + r.hi) / 2;
    if (timecentsMs(g[kVolDelay]) > 5.0) ++dropped["envelope delays"];
    w.env = gf1Envelope(timecentsMs(g[kVolAttack]),
                        timecentsMs(g[kVolHold] + (60 - key) * g[kKeyToHold]),
                        timecentsMs(g[kVolDecay] + (60 - key) * g[kKeyToDecay]),
                        std::clamp(g[kVolSustain], 0, 1440), timecentsMs(g[kVolRelease]));
    // One LFO can move the pitch: the deeper of the two.
    const bool vib = std::abs(g[kVibLfoToPitch]) >= std::abs(g[kModLfoToPitch]);
    const int depth = std::abs(vib ? g[kVibLfoToPitch] : g[kModLfoToPitch]);
    if (g[kVibLfoToPitch] != 0 && g[kModLfoToPitch] != 0) ++dropped["second pitch LFOs"];
    if (depth != 0) {
        const double hz =
            8.176 *
            std::pow(2.0, std::clamp(vib ? g[kVibLfoFreq] : g[kModLfoFreq], -16000, 4500) / 1200.0);
        const double delayMs = timecentsMs(vib ? g[kVibLfoDelay] : g[kModLfoDelay]);
        w.vibrato[0] = clampRound<std::uint8_t>(delayMs * 0.05, 0, 255);  // ticks at 50 per second
        w.vibrato[1] = clampRound<std::uint8_t>(hz * 20.48, 1, 255);      // 4 x 256ths per tick
        w.vibrato[2] =
            clampRound<std::uint8_t>(depth / 1.5625 * 16, 0, 255);  // 64ths of a semitone
    }
    if (g[kFilterFc] < 13500 || g[kFilterQ] > 0) ++dropped["filters"];
    if (g[kModEnvToPitch] != 0 || g[kModEnvToFilter] != 0) ++dropped["modulation envelopes"];
    if (g[kModLfoToFilter] != 0 || g[kModLfoToVolume] != 0) ++dropped["LFOs to filter or volume"];
    if (g[kChorusSend] > 0 || g[kReverbSend] > 0) ++dropped["chorus and reverb sends"];
    if (g[kExclusiveClass] != 0) ++dropped["exclusive classes"];
    if (g[kVelocity] >= 0) ++dropped["fixed velocities"];
}

// Fills `w` from region `r`: 1 done, 0 skipped (counted), -1 damaged (error).
int buildWave(const SoundFont& font, const Region& r, Wave& w, DropCounts& dropped,
              std::string& error) {
    const auto& g = r.g.v;
    const SfSample& s = font.samples[static_cast<std::size_t>(g[kSampleId])];
    if (s.type & kRom) {
        ++dropped["zones on ROM samples (no data)"];
        return 0;
    }
    const long long start = s.start + g[kStartOffset] + 32768LL * g[kStartCoarse];
    const long long end = s.end + g[kEndOffset] + 32768LL * g[kEndCoarse];
    const long long loopStart = s.loopStart + g[kLoopStartOffset] + 32768LL * g[kLoopStartCoarse];
    const long long loopEnd = s.loopEnd + g[kLoopEndOffset] + 32768LL * g[kLoopEndCoarse];
    const std::string name = "sample '" + s.name + "'";
    if (start < 0 || end <= start || end > static_cast<long long>(font.sampleFrames)) {
        error = name + " spans frames " + std::to_string(start) + "-" + std::to_string(end) +
                ", outside the " + std::to_string(font.sampleFrames) + " of the sample data";
        return -1;
    }
    if (s.rate < 400 || s.rate > 200000) {
        error = name + " has a sample rate of " + std::to_string(s.rate) + " Hz";
        return -1;
    }
    const int mode = g[kSampleModes] & 3;
    w.looped = mode == 1 || mode == 3;
    if (w.looped && !(start <= loopStart && loopStart + 1 < loopEnd && loopEnd <= end)) {
        ++dropped["loops outside their sample (played unlooped)"];
        w.looped = false;
    }
    if (w.looped && mode == 3) ++dropped["loops until release (looped to the end)"];
    // Frames after a loop are never reached by a looping wave.
    const long long last = w.looped ? loopEnd : end;
    const double gain = std::pow(10.0, -std::clamp(g[kAttenuation], 0, 1440) * 0.4 / 200.0);
    w.pcm.resize(static_cast<std::size_t>(last - start));
    const std::uint8_t* p = font.sampleData + 2 * start;
    for (auto& v : w.pcm) {
        const double scaled = static_cast<std::int16_t>(p[0] | p[1] << 8) * gain;
        v = static_cast<std::int16_t>(scaled + (scaled < 0 ? -0.5 : 0.5));  // gain <= 1: in range
        p += 2;
    }
    w.rate = s.rate;
    if (w.looped) {
        w.loopStart = static_cast<std::uint32_t>(loopStart - start);
        w.loopEnd = static_cast<std::uint32_t>(loopEnd - start);
    }
    // The patch's rate field has 16 bits: halve faster samples.
    while (w.rate > 65535) {
        for (std::size_t i = 0; i < w.pcm.size() / 2; ++i)
            w.pcm[i] = static_cast<std::int16_t>((w.pcm[2 * i] + w.pcm[2 * i + 1]) / 2);
        w.pcm.resize(w.pcm.size() / 2);
        w.rate /= 2, w.loopStart /= 2, w.loopEnd /= 2;
        if (w.loopEnd > w.pcm.size()) w.loopEnd = static_cast<std::uint32_t>(w.pcm.size());
    }
    w.name = s.name.substr(0, 7);
    w.lo = r.lo, w.hi = r.hi;
    w.balance = clampRound(8.0 + std::clamp(g[kPan], -500, 500) * 7.5 / 500.0, 0, 15);
    if (s.type & kLeft) w.balance = 8;  // the left half stands for the whole pair
    setPitch(r, s, w);
    setEnvelopeAndVibrato(r, w, dropped);
    return 1;
}

// `bytes` bytes of `v`, low first; bytes past the fourth (reserved fields) are zeros.
void put(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(i < 4 ? static_cast<std::uint8_t>(v >> (8 * i)) : std::uint8_t{0});
}

void putText(std::vector<std::uint8_t>& out, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
}

// One 96-byte wave header and the wave's 16-bit data.
void putWave(std::vector<std::uint8_t>& out, const Wave& w, bool alone) {
    putText(out, w.name, 7);
    put(out, 0, 1);                                             // fractions
    put(out, static_cast<std::uint32_t>(2 * w.pcm.size()), 4);  // bytes
    put(out, 2 * w.loopStart, 4);
    put(out, 2 * w.loopEnd, 4);
    put(out, w.rate, 2);
    // Key limits a hair inside and outside the keys' frequencies, so both
    // nearest-note lookups and range checks land on the intended keys.
    put(out, static_cast<std::uint32_t>(milliHz(w.lo) * 0.9999), 4);
    put(out, static_cast<std::uint32_t>(std::ceil(milliHz(w.hi) * 1.0001)), 4);
    put(out, w.rootFreq, 4);
    put(out, 0, 2);  // tune
    put(out, static_cast<std::uint32_t>(alone ? w.balance : 8), 1);
    for (auto r : w.env.rates) put(out, r, 1);
    for (auto o : w.env.offsets) put(out, o, 1);
    put(out, 0, 3);  // tremolo sweep, rate, depth
    for (auto v : w.vibrato) put(out, v, 1);
    // 16-bit signed data, envelope with sustain, looped if it loops.
    put(out, 0x01u | 0x20u | 0x40u | (w.looped ? 0x04u : 0u), 1);
    put(out, static_cast<std::uint32_t>(w.scaleRoot), 2);
    put(out, static_cast<std::uint32_t>(w.scaleFactor), 2);
    put(out, 0, 36);
    const std::size_t at = out.size();
    out.resize(at + 2 * w.pcm.size());
    for (std::size_t i = 0; i < w.pcm.size(); ++i) {
        const auto v = static_cast<std::uint16_t>(w.pcm[i]);
        out[at + 2 * i] = static_cast<std::uint8_t>(v);
        out[at + 2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
}

void writePatch(const std::string& name, const std::vector<Wave>& waves,
                std::vector<std::uint8_t>& out) {
    std::uint32_t waveBytes = 0;
    for (const auto& w : waves) waveBytes += static_cast<std::uint32_t>(96 + 2 * w.pcm.size());
    out.clear();
    out.reserve(239 + waveBytes);
    putText(out, std::string("GF1PATCH110\0ID#000002\0", 22), 22);
    putText(out, "from the SoundFont preset " + name, 60);
    put(out, 1, 1);   // instruments
    put(out, 14, 1);  // voices
    put(out, 0, 1);   // channels
    put(out, static_cast<std::uint32_t>(waves.size()), 2);
    put(out, 127, 2);  // master volume
    put(out, waveBytes - 96 * static_cast<std::uint32_t>(waves.size()), 4);
    put(out, 0, 36);
    put(out, 0, 2);  // instrument 0
    putText(out, name, 16);
    put(out, 63 + 47 + waveBytes, 4);
    put(out, 1, 1);  // layers
    put(out, 0, 40);
    put(out, 0, 2);  // layer duplicate, layer
    put(out, waveBytes, 4);
    put(out, static_cast<std::uint32_t>(waves.size()), 1);
    put(out, 0, 40);
    for (const auto& w : waves) putWave(out, w, waves.size() == 1);
}

}  // namespace

int findPreset(const SoundFont& font, int bank, int number) {
    for (std::size_t i = 0; i + 1 < font.presets.size(); ++i)
        if (font.presets[i].bank == bank && font.presets[i].preset == number)
            return static_cast<int>(i);
    return -1;
}

bool buildPresetPatch(const SoundFont& font, int presetIndex, int keyLo, int keyHi,
                      std::vector<std::uint8_t>& patch, DropCounts& dropped, std::string& error) {
    patch.clear();
    Collector c{font, keyLo, keyHi, dropped, error, {}};
    if (!c.presetZones(static_cast<std::size_t>(presetIndex))) return false;
    resolveOverlaps(font, c.regions, dropped);
    // A GF1 layer holds at most 255 waves; the data may not outgrow the bank.
    if (c.regions.size() > 255) {
        error = std::to_string(c.regions.size()) + " key ranges, more than a patch can hold";
        return false;
    }
    std::size_t frames = 0;
    std::vector<Wave> waves;
    for (const auto& r : c.regions) {
        Wave w;
        const int built = buildWave(font, r, w, dropped, error);
        if (built < 0) return false;
        if (built == 0) continue;
        frames += w.pcm.size();
        if (frames > font.sampleFrames) {
            error = "its waves hold more frames than the whole bank";
            return false;
        }
        waves.push_back(std::move(w));
    }
    if (!waves.empty()) writePatch(font.presets[std::size_t(presetIndex)].name, waves, patch);
    return true;
}

double gf1StageMs(std::uint8_t rate, std::uint8_t from, std::uint8_t to) {
    const int a = from * 16 + from / 16, b = to * 16 + to / 16;
    const int increment = rate & 0x3F, range = rate >> 6;
    if (increment == 0) return 0.0;
    const double step = 0.0446428582 / std::pow(8.0, range);
    return 0.001 * (std::abs(a - b) / static_cast<double>(increment)) / step;
}

double gf1Level(std::uint8_t offset) {
    const int o = offset * 16 + offset / 16;
    const int e = (o >> 8) & 15, m = o & 255;
    return (m + 256) / (std::pow(2.0, 15 - e) * 512.0);
}

std::uint8_t gf1Offset(double gain) {
    if (gain <= 0.0) return 0;
    const int e = 15 + static_cast<int>(std::floor(std::log2(std::min(gain, 1.0))));
    if (e < 0) return 0;
    const double m = std::clamp(gain * std::pow(2.0, 15 - e) * 512.0 - 256.0, 0.0, 255.0);
    return clampRound<std::uint8_t>((e * 256 + m) / 16.0625, 0, 255);
}

namespace {

// The rate byte that moves between two offsets in about `ms`: the finest
// increment (1-63) of the fastest range that still allows the time.
std::uint8_t stageRate(std::uint8_t from, std::uint8_t to, double ms) {
    if (from == to) return 0x3F;
    const double units = std::abs((from * 16 + from / 16) - (to * 16 + to / 16));
    static const double kStep[4] = {0.0446428582, 0.0446428582 / 8, 0.0446428582 / 64,
                                    0.0446428582 / 512};
    for (int range = 3; range >= 0; --range) {
        const double step = kStep[range];
        const long increment = std::lround(0.001 * units / (std::max(ms, 0.001) * step));
        if (increment <= 63 || range == 0)
            return static_cast<std::uint8_t>(range << 6 | std::clamp(increment, 1L, 63L));
    }
    return 0x3F;
}

// Units of 1/4096 between two offset bytes, and the milliseconds per unit of
// each rate byte (0 for the increment 0, which does not move).
int units(std::uint8_t a, std::uint8_t b) {
    return std::abs((a * 16 + a / 16) - (b * 16 + b / 16));
}
const std::vector<double>& msPerUnit() {
    static const std::vector<double> table = [] {
        std::vector<double> t(256, 0.0);
        for (int r = 0; r < 256; ++r)
            if (r & 0x3F)
                t[std::size_t(r)] = 0.001 / ((r & 0x3F) * 0.0446428582 / std::pow(8.0, r >> 6));
        return t;
    }();
    return table;
}

// The release in stages 3 and 4 (to a middle offset, then to silence): one
// stage's rate steps are too coarse for the fourth power a converter
// applies, two together come within a few milliseconds. Never over 511 ms.
void setRelease(Gf1Envelope& e, double total) {
    // Banks reuse a few envelopes many times: remember the answers.
    static std::map<std::pair<int, long>, std::array<std::uint8_t, 3>> known;
    const std::uint8_t from = e.offsets[2];
    e.offsets[4] = e.offsets[5] = 0;
    e.rates[5] = 0x3F;
    const auto key = std::make_pair(int(from), std::lround(total * 8));
    if (const auto found = known.find(key); found != known.end()) {
        e.offsets[3] = found->second[0], e.rates[3] = found->second[1],
        e.rates[4] = found->second[2];
        return;
    }
    const auto& k = msPerUnit();
    double bestError = 1e9;
    e.offsets[3] = 0;
    e.rates[3] = e.rates[4] = 0x3F;
    for (int m = 0; m < from; m += 4) {
        const auto mid = static_cast<std::uint8_t>(m);
        for (int r3 = 1; r3 < 256; ++r3) {
            const double t3 = units(from, mid) * k[std::size_t(r3)];
            if (k[std::size_t(r3)] == 0.0 || t3 > total + 1.0) continue;
            const auto r4 = mid ? stageRate(mid, 0, total - t3) : std::uint8_t{0x3F};
            const double t = t3 + units(mid, 0) * k[r4];
            if (t <= 511.0 && std::abs(t - total) < bestError) {
                bestError = std::abs(t - total);
                e.offsets[3] = mid;
                e.rates[3] = static_cast<std::uint8_t>(r3);
                e.rates[4] = r4;
            }
        }
    }
    known[key] = {e.offsets[3], e.rates[3], e.rates[4]};
}

}  // namespace

// The release stages' total for a bank release of `releaseMs`: a converter
// keeps 9 bits of the total and fades over 384 * (total / 384)^4 ms, so the
// total is the one whose fade takes the bank's release time (up to 1.2 s).
double releaseTotal(double releaseMs) {
    return std::min(505.0, 384.0 * std::pow(releaseMs / 384.0, 0.25));
}

Gf1Envelope gf1Envelope(double attackMs, double holdMs, double decayMs, double sustainCb,
                        double releaseMs) {
    Gf1Envelope e{};
    // A sustain at or below -54 dB ends the decay there rather than at
    // silence, which leaves the release stage a distance to cover. The decay
    // time is for a fall of 100 dB; the sustain level cuts it short.
    const double fall = std::min(sustainCb, 540.0);
    e.offsets[0] = 255;
    e.rates[0] = stageRate(0, 255, attackMs);
    e.offsets[2] = gf1Offset(std::pow(10.0, -fall / 200.0));
    if (holdMs < 20.0 && fall > 120.0) {
        // No hold to speak of: a knee at -12 dB, where the bank's decay is
        // after 12% of its time, keeps the linear stages near its curve.
        e.offsets[1] = gf1Offset(std::pow(10.0, -120.0 / 200.0));
        e.rates[1] = stageRate(e.offsets[0], e.offsets[1], decayMs * 0.12);
        e.rates[2] = stageRate(e.offsets[1], e.offsets[2], decayMs * (fall - 120.0) / 1000.0);
    } else {
        // Hold as a slight fall (a stage's time comes from the distance it
        // moves, 11.5 ms per 1/16 offset step at the slowest rate).
        const int holdSteps =
            holdMs < 1.0 ? 0 : std::clamp(static_cast<int>(holdMs / 183.0) + 1, 1, 24);
        e.offsets[1] = static_cast<std::uint8_t>(255 - holdSteps);
        e.rates[1] = stageRate(e.offsets[0], e.offsets[1], holdMs);
        e.rates[2] = stageRate(e.offsets[1], e.offsets[2], decayMs * fall / 1000.0);
    }
    setRelease(e, releaseTotal(releaseMs));
    return e;
}

}  // namespace korvalin::patchkit
