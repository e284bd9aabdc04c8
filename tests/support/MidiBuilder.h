// A small Standard MIDI File writer for test fixtures:
//
//   Smf smf(1, 96);
//   smf.track().tempo(0, 500000).endOfTrack(0);
//   smf.track().program(0, 0, 5).noteOn(0, 0, 60, 100).noteOff(96, 0, 60).endOfTrack(0);
//
// Malformed files are possible on purpose: raw bytes inside a track, unknown
// chunks, a wrong header id or length, a wrong track count and a declared
// chunk length that does not match the data.
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
    SmfTrack& runningStatus(bool on = true) {
        runningStatus_ = on;
        return *this;
    }

    SmfTrack& noteOn(std::uint32_t delta, int channel, int key, int velocity);
    SmfTrack& noteOff(std::uint32_t delta, int channel, int key, int velocity = 0);
    SmfTrack& controller(std::uint32_t delta, int channel, int number, int value);
    SmfTrack& program(std::uint32_t delta, int channel, int program);
    SmfTrack& pitchBend(std::uint32_t delta, int channel, int value14);  // 0x2000 is the centre

    SmfTrack& meta(std::uint32_t delta, int type, const Bytes& payload);
    SmfTrack& tempo(std::uint32_t delta, std::uint32_t usPerQuarter);
    SmfTrack& text(std::uint32_t delta, const std::string& text);  // meta type 1
    // F0, the payload length as a variable-length number, then the payload.
    SmfTrack& sysex(std::uint32_t delta, const Bytes& payload);
    SmfTrack& endOfTrack(std::uint32_t delta = 0);
    // Bytes appended as they are (no delta time is added).
    SmfTrack& raw(const Bytes& bytes);
    // The chunk length written instead of the real one.
    SmfTrack& chunkLength(std::uint32_t declared) {
        declaredLength_ = declared;
        return *this;
    }

  private:
    friend class Smf;
    SmfTrack& channelMessage(std::uint32_t delta, int status, std::initializer_list<int> data);
    SmfTrack& withLength(std::uint32_t delta, std::initializer_list<int> head,
                         const Bytes& payload);

    Bytes data_;
    std::optional<std::uint32_t> declaredLength_;
    bool runningStatus_ = false;
    int lastStatus_ = -1;
};

class Smf {
  public:
    explicit Smf(int format = 1, int division = 96);

    // Appends a track chunk; the reference stays valid for the Smf's life.
    SmfTrack& track();
    // Appends a chunk with any four-character id (e.g. an unknown "XFIH" chunk).
    Smf& chunk(const std::string& fourChars, const Bytes& data);

    // Header overrides. A header length above 6 pads the header data with
    // zero bytes; below 6 cuts it.
    Smf& headerId(const std::string& fourChars) {
        headerId_ = fourChars;
        return *this;
    }
    Smf& headerLength(std::uint32_t length) {
        headerLength_ = length;
        return *this;
    }
    Smf& trackCount(int announced) {  // default: the number of track() calls
        trackCount_ = announced;
        return *this;
    }

    Bytes bytes() const;
    void writeTo(const std::filesystem::path& path) const;

  private:
    int format_;
    int division_;
    std::string headerId_ = "MThd";
    std::uint32_t headerLength_ = 6;
    std::optional<int> trackCount_;
    std::deque<SmfTrack> tracks_;
    struct Item {  // a chunk in file order: a track, or an id with its data
        std::optional<std::size_t> track;
        std::string id;
        Bytes data;
    };
    std::vector<Item> items_;
};

// Writes bytes to a file (creating or replacing it).
void writeBytes(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace korvalin::test
