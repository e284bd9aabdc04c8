// A small Standard MIDI File writer for test fixtures:
//
//   Smf smf(1, 96);
//   smf.track().tempo(0, 500000).endOfTrack(0);
//   smf.track().program(0, 0, 5).noteOn(0, 0, 60, 100).noteOff(96, 0, 60).endOfTrack(0);
//
// Malformed files are possible on purpose: raw bytes inside a track, a wrong
// header id and a wrong track count.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace korvalin::test {

using Bytes = std::vector<unsigned char>;

class SmfTrack {
  public:
    // With running status on, a channel message whose status equals the
    // previous channel status is written without its status byte.
    SmfTrack& runningStatus() {
        runningStatus_ = true;
        return *this;
    }
    SmfTrack& noteOn(std::uint32_t delta, int channel, int key, int velocity) {
        return channel3(delta, 0x90 | channel, key, velocity);
    }
    SmfTrack& noteOff(std::uint32_t delta, int channel, int key, int velocity = 0) {
        return channel3(delta, 0x80 | channel, key, velocity);
    }
    SmfTrack& controller(std::uint32_t delta, int channel, int number, int value) {
        return channel3(delta, 0xB0 | channel, number, value);
    }
    SmfTrack& program(std::uint32_t delta, int channel, int program) {
        return channel3(delta, 0xC0 | channel, program, -1);
    }
    SmfTrack& pitchBend(std::uint32_t delta, int channel, int value14) {  // 0x2000 is the centre
        return channel3(delta, 0xE0 | channel, value14 & 0x7F, value14 >> 7 & 0x7F);
    }
    SmfTrack& tempo(std::uint32_t delta, std::uint32_t us) {
        return withLength(delta, {0xFF, 0x51}, {Bytes{uchar(us >> 16), uchar(us >> 8), uchar(us)}});
    }
    SmfTrack& text(std::uint32_t delta, const std::string& text) {  // meta type 1
        return withLength(delta, {0xFF, 0x01}, Bytes(text.begin(), text.end()));
    }
    // F0, the payload length as a variable-length number, then the payload.
    SmfTrack& sysex(std::uint32_t delta, const Bytes& payload) {
        return withLength(delta, {0xF0}, payload);
    }
    SmfTrack& endOfTrack(std::uint32_t delta = 0) { return withLength(delta, {0xFF, 0x2F}, {}); }
    // Bytes appended as they are (no delta time is added).
    SmfTrack& raw(const Bytes& bytes) {
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return *this;
    }

  private:
    friend class Smf;
    static unsigned char uchar(std::uint32_t v) { return static_cast<unsigned char>(v); }
    void varLen(std::uint32_t value);
    SmfTrack& channel3(std::uint32_t delta, int status, int data1, int data2);
    // Meta and sysex events leave the remembered running status alone.
    SmfTrack& withLength(std::uint32_t delta, std::initializer_list<int> head,
                         const Bytes& payload);

    Bytes data_;
    bool runningStatus_ = false;
    int lastStatus_ = -1;
};

class Smf {
  public:
    explicit Smf(int format = 1, int division = 96) : format_(format), division_(division) {}

    // Appends a track chunk; the reference stays valid for the Smf's life.
    SmfTrack& track() { return tracks_.emplace_back(); }

    // Header overrides; the track count defaults to the tracks made.
    std::string headerId = "MThd";
    std::optional<int> trackCount;

    Bytes bytes() const;
    void writeTo(const std::filesystem::path& path) const;

  private:
    int format_, division_;
    std::deque<SmfTrack> tracks_;
};

// Writes bytes to a file (creating or replacing it).
void writeBytes(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace korvalin::test
