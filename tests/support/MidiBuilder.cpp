#include "MidiBuilder.h"

#include <fstream>
#include <stdexcept>

namespace korvalin::test {
namespace {

unsigned char byte(int v) { return static_cast<unsigned char>(v & 0xFF); }

void putU32BE(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(byte(static_cast<int>(v >> shift)));
}

void putU16BE(Bytes& out, int v) {
    out.push_back(byte(v >> 8));
    out.push_back(byte(v));
}

void putId(Bytes& out, const std::string& id) {
    if (id.size() != 4) throw std::invalid_argument("chunk id must have four characters");
    out.insert(out.end(), id.begin(), id.end());
}

}  // namespace

Bytes varLen(std::uint32_t value) {
    Bytes groups{byte(static_cast<int>(value & 0x7F))};
    while ((value >>= 7) != 0) groups.insert(groups.begin(), byte(static_cast<int>((value & 0x7F) | 0x80)));
    return groups;
}

SmfTrack& SmfTrack::runningStatus(bool on) {
    runningStatus_ = on;
    return *this;
}

void SmfTrack::putDelta(std::uint32_t delta) {
    const Bytes v = varLen(delta);
    data_.insert(data_.end(), v.begin(), v.end());
}

SmfTrack& SmfTrack::channelMessage(std::uint32_t delta, int status, std::initializer_list<int> data) {
    putDelta(delta);
    const bool isChannel = status >= 0x80 && status <= 0xEF;
    if (!(runningStatus_ && isChannel && status == lastStatus_)) data_.push_back(byte(status));
    if (isChannel) lastStatus_ = status;
    for (int d : data) data_.push_back(byte(d));
    return *this;
}

SmfTrack& SmfTrack::noteOn(std::uint32_t delta, int channel, int key, int velocity) {
    return channelMessage(delta, 0x90 | (channel & 0x0F), {key, velocity});
}
SmfTrack& SmfTrack::noteOff(std::uint32_t delta, int channel, int key, int velocity) {
    return channelMessage(delta, 0x80 | (channel & 0x0F), {key, velocity});
}
SmfTrack& SmfTrack::polyPressure(std::uint32_t delta, int channel, int key, int value) {
    return channelMessage(delta, 0xA0 | (channel & 0x0F), {key, value});
}
SmfTrack& SmfTrack::controller(std::uint32_t delta, int channel, int number, int value) {
    return channelMessage(delta, 0xB0 | (channel & 0x0F), {number, value});
}
SmfTrack& SmfTrack::program(std::uint32_t delta, int channel, int program) {
    return channelMessage(delta, 0xC0 | (channel & 0x0F), {program});
}
SmfTrack& SmfTrack::channelPressure(std::uint32_t delta, int channel, int value) {
    return channelMessage(delta, 0xD0 | (channel & 0x0F), {value});
}
SmfTrack& SmfTrack::pitchBend(std::uint32_t delta, int channel, int value14) {
    return channelMessage(delta, 0xE0 | (channel & 0x0F), {value14 & 0x7F, (value14 >> 7) & 0x7F});
}
SmfTrack& SmfTrack::message(std::uint32_t delta, int status, std::initializer_list<int> data) {
    return channelMessage(delta, status, data);
}

SmfTrack& SmfTrack::meta(std::uint32_t delta, int type, const Bytes& payload) {
    putDelta(delta);
    data_.push_back(0xFF);
    data_.push_back(byte(type));
    const Bytes len = varLen(static_cast<std::uint32_t>(payload.size()));
    data_.insert(data_.end(), len.begin(), len.end());
    data_.insert(data_.end(), payload.begin(), payload.end());
    return *this;
}

SmfTrack& SmfTrack::tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
    return meta(delta, 0x51,
                {byte(static_cast<int>(usPerQuarter >> 16)), byte(static_cast<int>(usPerQuarter >> 8)),
                 byte(static_cast<int>(usPerQuarter))});
}

SmfTrack& SmfTrack::text(std::uint32_t delta, const std::string& text) {
    return meta(delta, 0x01, Bytes(text.begin(), text.end()));
}

SmfTrack& SmfTrack::sysex(std::uint32_t delta, const Bytes& payload) {
    putDelta(delta);
    data_.push_back(0xF0);
    const Bytes len = varLen(static_cast<std::uint32_t>(payload.size()));
    data_.insert(data_.end(), len.begin(), len.end());
    data_.insert(data_.end(), payload.begin(), payload.end());
    return *this;
}

SmfTrack& SmfTrack::endOfTrack(std::uint32_t delta) { return meta(delta, 0x2F, {}); }

SmfTrack& SmfTrack::raw(const Bytes& bytes) {
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
}

SmfTrack& SmfTrack::chunkId(const std::string& fourChars) {
    id_ = fourChars;
    return *this;
}

SmfTrack& SmfTrack::chunkLength(std::uint32_t declared) {
    declaredLength_ = declared;
    return *this;
}

Bytes SmfTrack::chunk() const {
    Bytes out;
    putId(out, id_);
    putU32BE(out, declaredLength_.value_or(static_cast<std::uint32_t>(data_.size())));
    out.insert(out.end(), data_.begin(), data_.end());
    return out;
}

Smf::Smf(int format, int division) : format_(format), division_(division) {}

SmfTrack& Smf::track() {
    tracks_.emplace_back();
    items_.push_back({true, tracks_.size() - 1, {}, {}});
    return tracks_.back();
}

Smf& Smf::chunk(const std::string& fourChars, const Bytes& data) {
    items_.push_back({false, 0, fourChars, data});
    return *this;
}

Smf& Smf::trailing(const Bytes& bytes) {
    trailing_.insert(trailing_.end(), bytes.begin(), bytes.end());
    return *this;
}

Smf& Smf::headerId(const std::string& fourChars) {
    headerId_ = fourChars;
    return *this;
}

Smf& Smf::headerLength(std::uint32_t length) {
    headerLength_ = length;
    return *this;
}

Smf& Smf::trackCount(int announced) {
    trackCount_ = announced;
    return *this;
}

Bytes Smf::bytes() const {
    Bytes out;
    putId(out, headerId_);
    putU32BE(out, headerLength_);
    Bytes header;
    putU16BE(header, format_);
    putU16BE(header, trackCount_.value_or(static_cast<int>(tracks_.size())));
    putU16BE(header, division_);
    header.resize(headerLength_, 0);
    out.insert(out.end(), header.begin(), header.end());
    for (const Item& item : items_) {
        if (item.isTrack) {
            const Bytes c = tracks_[item.track].chunk();
            out.insert(out.end(), c.begin(), c.end());
        } else {
            putId(out, item.id);
            putU32BE(out, static_cast<std::uint32_t>(item.data.size()));
            out.insert(out.end(), item.data.begin(), item.data.end());
        }
    }
    out.insert(out.end(), trailing_.begin(), trailing_.end());
    return out;
}

void Smf::writeTo(const std::filesystem::path& path) const { writeBytes(path, bytes()); }

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + path.string());
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace korvalin::test
