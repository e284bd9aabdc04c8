#include "support/PatchBuilder.h"

#include <algorithm>

namespace korvalin::test {

namespace {

void put8(PatchBytes& out, unsigned v) { out.push_back(static_cast<unsigned char>(v)); }
void put16(PatchBytes& out, unsigned v) {
    put8(out, v & 0xFF);
    put8(out, (v >> 8) & 0xFF);
}
void put32(PatchBytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) put8(out, (v >> (8 * i)) & 0xFF);
}
// The text in a field of n bytes: cut at n, zero padded.
void putText(PatchBytes& out, const std::string& text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) put8(out, i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
}
void putZeros(PatchBytes& out, std::size_t n) { out.insert(out.end(), n, 0); }

void putWave(PatchBytes& out, const PatchWave& w) {
    putText(out, w.name, 7);
    put8(out, 0);  // fractions
    put32(out, w.declaredSize.value_or(static_cast<std::uint32_t>(w.data.size())));
    put32(out, w.loopStart);
    put32(out, w.loopEnd);
    put16(out, w.sampleRate);
    put32(out, w.lowFrequency);
    put32(out, w.highFrequency);
    put32(out, w.rootFrequency);
    put16(out, 512);  // tune
    put8(out, w.balance);
    for (auto r : w.rates) put8(out, r);
    for (auto o : w.offsets) put8(out, o);
    put8(out, w.tremoloSweep);
    put8(out, w.tremoloRate);
    put8(out, w.tremoloDepth);
    put8(out, w.vibratoSweep);
    put8(out, w.vibratoRate);
    put8(out, w.vibratoDepth);
    put8(out, w.modes);
    put16(out, static_cast<std::uint16_t>(w.scaleFrequency));
    put16(out, w.scaleFactor);
    putZeros(out, 36);
    out.insert(out.end(), w.data.begin(), w.data.end());
}

}  // namespace

PatchWave PatchWave::pcm8(const std::vector<int>& values, bool unsignedData) {
    PatchWave w;
    for (int v : values) w.data.push_back(static_cast<unsigned char>(unsignedData ? v + 128 : v));
    if (unsignedData) w.modes |= kPatchUnsigned;
    return w;
}

PatchWave PatchWave::pcm16(const std::vector<int>& values, bool unsignedData) {
    PatchWave w;
    for (int v : values) {
        const auto stored = static_cast<unsigned>(unsignedData ? v + 0x8000 : v) & 0xFFFF;
        put16(w.data, stored);
    }
    w.modes |= kPatch16Bit;
    if (unsignedData) w.modes |= kPatchUnsigned;
    return w;
}

PatchWave& PatchWave::loop(std::uint32_t start, std::uint32_t end, bool bidirectional) {
    loopStart = start;
    loopEnd = end;
    modes |= kPatchLooping;
    if (bidirectional) modes |= kPatchBidirectional;
    return *this;
}

PatchInstrument& PatchBuilder::instrument(std::uint16_t number, const std::string& name) {
    instruments_.emplace_back();
    instruments_.back().number = number;
    instruments_.back().name = name;
    return instruments_.back();
}

PatchBytes PatchBuilder::bytes() const {
    PatchBytes out;
    putText(out, header_, 12);
    putText(out, id_, 10);
    putText(out, "built for tests", 60);
    put8(out, static_cast<unsigned>(instruments_.size()));
    put8(out, 14);  // voices
    put8(out, 0);   // channels
    std::size_t waveCount = 0;
    for (const auto& instrument : instruments_)
        for (const auto& layer : instrument.layers) waveCount += layer.waves.size();
    put16(out, static_cast<unsigned>(waveCount));
    put16(out, masterVolume_);
    put32(out, 0);  // data size
    putZeros(out, 36);

    for (const auto& instrument : instruments_) {
        PatchBytes body;
        for (const auto& layer : instrument.layers) {
            put8(body, 0);  // layer duplicate
            put8(body, 0);  // layer
            put32(body, 0);  // layer size
            put8(body, layer.declaredCount.value_or(static_cast<std::uint8_t>(layer.waves.size())));
            putZeros(body, 40);
            for (const auto& wave : layer.waves) putWave(body, wave);
        }
        put16(out, instrument.number);
        putText(out, instrument.name, 16);
        put32(out, instrument.declaredSize.value_or(static_cast<std::uint32_t>(63 + body.size())));
        put8(out, static_cast<unsigned>(instrument.layers.size()));
        putZeros(out, 40);
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

PatchBytes PatchBuilder::truncated(std::size_t length) const {
    PatchBytes out = bytes();
    out.resize(std::min(length, out.size()));
    return out;
}

}  // namespace korvalin::test
