#include "MidiBuilder.h"

#include <fstream>
#include <stdexcept>

namespace korvalin::test {

// A variable-length quantity: seven bits per byte, most significant first.
void SmfTrack::varLen(std::uint32_t value) {
    Bytes groups{uchar(value & 0x7F)};
    while ((value >>= 7) != 0) groups.insert(groups.begin(), uchar((value & 0x7F) | 0x80));
    data_.insert(data_.end(), groups.begin(), groups.end());
}

SmfTrack& SmfTrack::channel3(std::uint32_t delta, int status, int data1, int data2) {
    varLen(delta);
    if (!(runningStatus_ && status == lastStatus_)) data_.push_back(uchar(std::uint32_t(status)));
    lastStatus_ = status;
    data_.push_back(uchar(std::uint32_t(data1)));
    if (data2 >= 0) data_.push_back(uchar(std::uint32_t(data2)));
    return *this;
}

SmfTrack& SmfTrack::withLength(std::uint32_t delta, std::initializer_list<int> head,
                               const Bytes& payload) {
    varLen(delta);
    for (int h : head) data_.push_back(uchar(std::uint32_t(h)));
    varLen(static_cast<std::uint32_t>(payload.size()));
    return raw(payload);
}

Bytes Smf::bytes() const {
    Bytes out;
    const auto chunk = [&out](const std::string& id, std::uint32_t length, const Bytes& data) {
        out.insert(out.end(), id.begin(), id.end());
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(SmfTrack::uchar(length >> shift));
        out.insert(out.end(), data.begin(), data.end());
    };
    Bytes header;
    for (int field : {format_, trackCount.value_or(int(tracks_.size())), division_}) {
        header.push_back(SmfTrack::uchar(std::uint32_t(field) >> 8));
        header.push_back(SmfTrack::uchar(std::uint32_t(field)));
    }
    chunk(headerId, 6, header);
    for (const SmfTrack& t : tracks_) chunk("MTrk", std::uint32_t(t.data_.size()), t.data_);
    return out;
}

void Smf::writeTo(const std::filesystem::path& path) const {
    writeBytes(path, bytes());
}

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace korvalin::test
