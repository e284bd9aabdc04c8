#include "support/PatchBuilder.h"

#include <algorithm>

#include "base/ByteIO.h"

namespace korvalin::test {

namespace {

// The text in a field of n bytes: cut at n, zero padded.
void putText(PatchBytes& out, const std::string& text, std::size_t n) {
    const std::size_t kept = std::min(n, text.size());
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(kept));
    out.insert(out.end(), n - kept, 0);
}

void putWave(PatchBytes& out, const PatchWave& w) {
    putText(out, w.name, 7);
    putU8(out, 0);  // fractions
    putU32LE(out, static_cast<std::uint32_t>(w.data.size()));
    putU32LE(out, w.loopStart);
    putU32LE(out, w.loopEnd);
    putU16LE(out, w.sampleRate);
    putU32LE(out, w.lowFrequency);
    putU32LE(out, w.highFrequency);
    putU32LE(out, w.rootFrequency);
    putU16LE(out, 512);  // tune
    putU8(out, w.balance);
    putBytes(out, w.rates.data(), w.rates.size());
    putBytes(out, w.offsets.data(), w.offsets.size());
    for (std::uint8_t v : {w.tremoloSweep, w.tremoloRate, w.tremoloDepth, w.vibratoSweep,
                           w.vibratoRate, w.vibratoDepth, w.modes})
        putU8(out, v);
    putU16LE(out, static_cast<std::uint16_t>(w.scaleFrequency));
    putU16LE(out, w.scaleFactor);
    out.insert(out.end(), 36, 0);  // reserved
    out.insert(out.end(), w.data.begin(), w.data.end());
}

}  // namespace

PatchWave PatchWave::pcm8(const std::vector<int>& values) {
    PatchWave w;
    for (int v : values) putU8(w.data, static_cast<std::uint8_t>(v));
    return w;
}

PatchWave PatchWave::pcm16(const std::vector<int>& values) {
    PatchWave w;
    for (int v : values) putU16LE(w.data, static_cast<std::uint16_t>(v));
    w.modes |= 0x01;
    return w;
}

PatchWave& PatchWave::loop(std::uint32_t start, std::uint32_t end, bool bidirectional) {
    loopStart = start;
    loopEnd = end;
    modes |= bidirectional ? 0x0C : 0x04;
    return *this;
}

PatchInstrument& PatchBuilder::instrument(std::uint16_t number, const std::string& name) {
    instruments_.push_back({number, name, {}, {}});
    return instruments_.back();
}

PatchBytes PatchBuilder::bytes() const {
    PatchBytes out;
    putText(out, "GF1PATCH110", 12);
    putText(out, "ID#000002", 10);
    putText(out, "built for tests", 60);
    std::size_t waveCount = 0;
    for (const auto& instrument : instruments_) waveCount += instrument.waves.size();
    putU8(out, static_cast<std::uint8_t>(instruments_.size()));
    putU8(out, 14);  // voices
    putU8(out, 0);   // channels
    putU16LE(out, static_cast<std::uint16_t>(waveCount));
    putU16LE(out, 127);  // master volume
    putU32LE(out, 0);    // data size
    out.insert(out.end(), 36, 0);

    for (const auto& instrument : instruments_) {
        PatchBytes body;
        putU16LE(body, 0);  // layer duplicate, layer
        putU32LE(body, 0);  // layer size
        putU8(body, static_cast<std::uint8_t>(instrument.waves.size()));
        body.insert(body.end(), 40, 0);
        for (const auto& wave : instrument.waves) putWave(body, wave);
        putU16LE(out, instrument.number);
        putText(out, instrument.name, 16);
        putU32LE(out,
                 instrument.declaredSize.value_or(static_cast<std::uint32_t>(63 + body.size())));
        putU8(out, 1);  // layers
        out.insert(out.end(), 40, 0);
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

}  // namespace korvalin::test
