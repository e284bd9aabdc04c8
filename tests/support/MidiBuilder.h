// A small Standard MIDI File writer for tests. Builds readable fixtures:
//
//   Smf smf(1, 96);
//   smf.track().tempo(0, 500000).endOfTrack(0);
//   smf.track().program(0, 0, 5).noteOn(0, 0, 60, 100).noteOff(96, 0, 60).endOfTrack(0);
//   std::vector<unsigned char> bytes = smf.bytes();
//
// Malformed files are possible on purpose: raw bytes inside a track, unknown
// chunks, a wrong header id or length, a wrong track count, a declared chunk
// length that does not match the data, and bytes after the last chunk.
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

// The variable-length quantity of a delta time or length (at most 5 bytes).
Bytes varLen(std::uint32_t value);

class SmfTrack {
public:
    // With running status on, a channel message whose status equals the
    // previous channel status is written without its status byte. Meta and
    // sysex events leave the remembered status alone.
    SmfTrack& runningStatus(bool on = true);

    SmfTrack& noteOn(std::uint32_t delta, int channel, int key, int velocity);
    SmfTrack& noteOff(std::uint32_t delta, int channel, int key, int velocity = 0);
    SmfTrack& polyPressure(std::uint32_t delta, int channel, int key, int value);
    SmfTrack& controller(std::uint32_t delta, int channel, int number, int value);
    SmfTrack& program(std::uint32_t delta, int channel, int program);
    SmfTrack& channelPressure(std::uint32_t delta, int channel, int value);
    // value14 is 0..0x3FFF, 0x2000 is the centre.
    SmfTrack& pitchBend(std::uint32_t delta, int channel, int value14);
    // Any status byte followed by the given data bytes (running status applies
    // to statuses 0x80..0xEF).
    SmfTrack& message(std::uint32_t delta, int status, std::initializer_list<int> data);

    SmfTrack& meta(std::uint32_t delta, int type, const Bytes& payload);
    SmfTrack& tempo(std::uint32_t delta, std::uint32_t usPerQuarter);
    SmfTrack& text(std::uint32_t delta, const std::string& text);  // meta type 1
    // F0, the length of payload as a variable-length number, then payload
    // (which normally ends with 0xF7).
    SmfTrack& sysex(std::uint32_t delta, const Bytes& payload);
    SmfTrack& endOfTrack(std::uint32_t delta = 0);
    // Bytes appended as they are (no delta time is added).
    SmfTrack& raw(const Bytes& bytes);

    // Overrides for malformed chunks.
    SmfTrack& chunkId(const std::string& fourChars);
    SmfTrack& chunkLength(std::uint32_t declared);

    const Bytes& data() const { return data_; }
    // Chunk id, length and data.
    Bytes chunk() const;

private:
    SmfTrack& channelMessage(std::uint32_t delta, int status, std::initializer_list<int> data);
    void putDelta(std::uint32_t delta);

    Bytes data_;
    std::string id_ = "MTrk";
    std::optional<std::uint32_t> declaredLength_;
    bool runningStatus_ = false;
    int lastStatus_ = -1;
};

class Smf {
public:
    explicit Smf(int format = 1, int division = 96);

    // Appends a new track chunk; the reference stays valid for the Smf's life.
    SmfTrack& track();
    // Appends a chunk with any four-character id (e.g. an unknown "XFIH" chunk).
    Smf& chunk(const std::string& fourChars, const Bytes& data);
    // Bytes appended after all chunks (e.g. a truncated chunk header).
    Smf& trailing(const Bytes& bytes);

    // Header overrides. A header length above 6 pads the header data with
    // zero bytes; below 6 cuts it.
    Smf& headerId(const std::string& fourChars);
    Smf& headerLength(std::uint32_t length);
    Smf& trackCount(int announced);  // default: the number of track() calls

    Bytes bytes() const;
    void writeTo(const std::filesystem::path& path) const;

private:
    struct Item {
        bool isTrack = false;
        std::size_t track = 0;
        std::string id;
        Bytes data;
    };
    int format_;
    int division_;
    std::string headerId_ = "MThd";
    std::uint32_t headerLength_ = 6;
    std::optional<int> trackCount_;
    std::deque<SmfTrack> tracks_;
    std::vector<Item> items_;
    Bytes trailing_;
};

// Writes bytes to a file (creating or replacing it).
void writeBytes(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace korvalin::test
