#include "MidiBuilder.h"

#include <fstream>
#include <stdexcept>

namespace korvalin::test {
namespace {

unsigned char byte(std::uint32_t v) {
    return static_cast<unsigned char>(v & 0xFF);
}

void putU32BE(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(byte(v >> shift));
}

void putId(Bytes& out, const std::string& id) {
    if (id.size() != 4) throw std::invalid_argument("chunk id must have four characters");
    out.insert(out.end(), id.begin(), id.end());
}

// A variable-length quantity: seven bits per byte, most significant first.
void putVarLen(Bytes& out, std::uint32_t value) {
    Bytes groups{byte(value & 0x7F)};
    while ((value >>= 7) != 0) groups.insert(groups.begin(), byte((value & 0x7F) | 0x80));
    out.insert(out.end(), groups.begin(), groups.end());
}

void putChunk(Bytes& out, const std::string& id, std::uint32_t length, const Bytes& data) {
    putId(out, id);
    putU32BE(out, length);
    out.insert(out.end(), data.begin(), data.end());
}

}  // namespace

SmfTrack& SmfTrack::channelMessage(std::uint32_t delta, int status,
                                   std::initializer_list<int> data) {
    putVarLen(data_, delta);
    if (!(runningStatus_ && status == lastStatus_)) data_.push_back(byte(status));
    lastStatus_ = status;
    for (int d : data) data_.push_back(byte(d));
    return *this;
}

SmfTrack& SmfTrack::noteOn(std::uint32_t delta, int channel, int key, int velocity) {
    return channelMessage(delta, 0x90 | (channel & 0x0F), {key, velocity});
}
SmfTrack& SmfTrack::noteOff(std::uint32_t delta, int channel, int key, int velocity) {
    return channelMessage(delta, 0x80 | (channel & 0x0F), {key, velocity});
}
SmfTrack& SmfTrack::controller(std::uint32_t delta, int channel, int number, int value) {
    return channelMessage(delta, 0xB0 | (channel & 0x0F), {number, value});
}
SmfTrack& SmfTrack::program(std::uint32_t delta, int channel, int program) {
    return channelMessage(delta, 0xC0 | (channel & 0x0F), {program});
}
SmfTrack& SmfTrack::pitchBend(std::uint32_t delta, int channel, int value14) {
    return channelMessage(delta, 0xE0 | (channel & 0x0F), {value14 & 0x7F, (value14 >> 7) & 0x7F});
}

// Meta and sysex events leave the remembered running status alone.
SmfTrack& SmfTrack::withLength(std::uint32_t delta, std::initializer_list<int> head,
                               const Bytes& payload) {
    putVarLen(data_, delta);
    for (int h : head) data_.push_back(byte(static_cast<std::uint32_t>(h)));
    putVarLen(data_, static_cast<std::uint32_t>(payload.size()));
    data_.insert(data_.end(), payload.begin(), payload.end());
    return *this;
}

SmfTrack& SmfTrack::meta(std::uint32_t delta, int type, const Bytes& payload) {
    return withLength(delta, {0xFF, type}, payload);
}
SmfTrack& SmfTrack::tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
    const std::uint32_t us = usPerQuarter;
    return meta(delta, 0x51, {byte(us >> 16), byte(us >> 8), byte(us)});
}
SmfTrack& SmfTrack::text(std::uint32_t delta, const std::string& text) {
    return meta(delta, 0x01, Bytes(text.begin(), text.end()));
}
SmfTrack& SmfTrack::sysex(std::uint32_t delta, const Bytes& payload) {
    return withLength(delta, {0xF0}, payload);
}
SmfTrack& SmfTrack::endOfTrack(std::uint32_t delta) {
    return meta(delta, 0x2F, {});
}

SmfTrack& SmfTrack::raw(const Bytes& bytes) {
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
}

Smf::Smf(int format, int division) : format_(format), division_(division) {}

SmfTrack& Smf::track() {
    tracks_.emplace_back();
    items_.push_back({tracks_.size() - 1, {}, {}});
    return tracks_.back();
}

Smf& Smf::chunk(const std::string& fourChars, const Bytes& data) {
    items_.push_back({std::nullopt, fourChars, data});
    return *this;
}

Bytes Smf::bytes() const {
    const int count = trackCount_.value_or(static_cast<int>(tracks_.size()));
    Bytes header;
    for (int field : {format_, count, division_}) {
        header.push_back(byte(static_cast<std::uint32_t>(field) >> 8));
        header.push_back(byte(static_cast<std::uint32_t>(field)));
    }
    header.resize(headerLength_, 0);
    Bytes out;
    putChunk(out, headerId_, headerLength_, header);
    for (const Item& item : items_) {
        if (!item.track) {
            putChunk(out, item.id, static_cast<std::uint32_t>(item.data.size()), item.data);
            continue;
        }
        const SmfTrack& t = tracks_[*item.track];
        const auto length = static_cast<std::uint32_t>(t.data_.size());
        putChunk(out, "MTrk", t.declaredLength_.value_or(length), t.data_);
    }
    return out;
}

void Smf::writeTo(const std::filesystem::path& path) const {
    writeBytes(path, bytes());
}

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + path.string());
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace korvalin::test
