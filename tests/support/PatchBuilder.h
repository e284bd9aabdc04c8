// A small GF1 patch writer for tests; an instrument may declare a size that
// does not match its data:
//   PatchBuilder patch;
//   patch.instrument(0, "Piano").wave(PatchWave::pcm8({0, 10, 20}).keys(0, 500000));
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvalin::test {

using PatchBytes = std::vector<unsigned char>;

struct PatchWave {
    std::string name = "wave";
    PatchBytes data;  // stored as given
    std::uint32_t loopStart = 0, loopEnd = 0;
    std::uint16_t sampleRate = 44100;
    std::uint32_t lowFrequency = 0, highFrequency = 0xFFFFFFFF, rootFrequency = 261626;
    std::uint8_t balance = 7;
    std::array<std::uint8_t, 6> rates{0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F};
    std::array<std::uint8_t, 6> offsets{0xF0, 0xF0, 0xF0, 0x08, 0x08, 0x08};
    std::uint8_t tremoloSweep = 0, tremoloRate = 0, tremoloDepth = 0;
    std::uint8_t vibratoSweep = 0, vibratoRate = 0, vibratoDepth = 0;
    std::uint8_t modes = 0;  // 0x01 16-bit, 0x02 unsigned, 0x04 looping, 0x08 bidirectional
    std::int16_t scaleFrequency = 60;
    std::uint16_t scaleFactor = 1024;

    static PatchWave pcm8(const std::vector<int>& values);   // signed 8-bit values
    static PatchWave pcm16(const std::vector<int>& values);  // signed, low byte first

    PatchWave& named(const std::string& n) {
        name = n;
        return *this;
    }
    PatchWave& keys(std::uint32_t low, std::uint32_t high) {
        lowFrequency = low;
        highFrequency = high;
        return *this;
    }
    PatchWave& pitch(std::uint16_t rate, std::uint32_t root) {
        sampleRate = rate;
        rootFrequency = root;
        return *this;
    }
    PatchWave& loop(std::uint32_t start, std::uint32_t end, bool bidirectional = false);
    PatchWave& vibrato(std::uint8_t sweep, std::uint8_t rate, std::uint8_t depth) {
        vibratoSweep = sweep;
        vibratoRate = rate;
        vibratoDepth = depth;
        return *this;
    }
};

// An instrument of one layer holding its waves.
struct PatchInstrument {
    std::uint16_t number = 0;
    std::string name;  // at most 16 bytes are stored
    std::vector<PatchWave> waves;
    std::optional<std::uint32_t> declaredSize;  // instrument size field; actual size when unset

    PatchInstrument& wave(const PatchWave& w) {
        waves.push_back(w);
        return *this;
    }
};

class PatchBuilder {
  public:
    PatchInstrument& instrument(std::uint16_t number, const std::string& name = "instrument");

    PatchBytes bytes() const;

  private:
    std::vector<PatchInstrument> instruments_;
};

}  // namespace korvalin::test
