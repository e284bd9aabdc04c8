#include "SoundFont.h"

#include <cstring>

namespace korvalin::patchkit {

namespace {

std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) |
           static_cast<std::uint32_t>(p[3]) << 24;
}

// A fixed-width name field, up to its first zero, printable bytes only.
std::string fieldName(const std::uint8_t* p, std::size_t width) {
    std::string name;
    for (std::size_t i = 0; i < width && p[i] != 0; ++i)
        name += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '?';
    return name;
}

struct Chunk {
    char id[5] = {};
    const std::uint8_t* body = nullptr;
    std::size_t size = 0;
};

// Splits [data, data + size) into chunks; fails when one runs past the end.
bool splitChunks(const std::uint8_t* data, std::size_t size, const char* where,
                 std::vector<Chunk>& chunks, std::string& error) {
    std::size_t pos = 0;
    while (pos + 8 <= size) {
        Chunk c;
        std::memcpy(c.id, data + pos, 4);
        for (int i = 0; i < 4; ++i)
            if (c.id[i] < 0x20 || c.id[i] > 0x7E) c.id[i] = '?';
        c.size = u32(data + pos + 4);
        if (c.size > size - pos - 8) {
            error = std::string("chunk '") + c.id + "' in " + where + " claims " +
                    std::to_string(c.size) + " bytes but only " + std::to_string(size - pos - 8) +
                    " remain (truncated or bad RIFF size)";
            return false;
        }
        c.body = data + pos + 8;
        chunks.push_back(c);
        pos += 8 + c.size + (c.size & 1);
    }
    return true;
}

const Chunk* findChunk(const std::vector<Chunk>& chunks, const char* id) {
    for (const auto& c : chunks)
        if (std::memcmp(c.id, id, 4) == 0) return &c;
    return nullptr;
}

// The records of one pdta table: present, a whole number of records, and at
// least the closing record.
bool table(const std::vector<Chunk>& pdta, const char* id, std::size_t recordSize,
           const Chunk*& chunk, std::size_t& count, std::string& error) {
    chunk = findChunk(pdta, id);
    if (!chunk) {
        error = std::string("the '") + id + "' table is missing";
        return false;
    }
    if (chunk->size % recordSize != 0 || chunk->size < recordSize) {
        error = std::string("the '") + id + "' table has " + std::to_string(chunk->size) +
                " bytes, not a whole number of " + std::to_string(recordSize) + "-byte records";
        return false;
    }
    count = chunk->size / recordSize;
    return true;
}

void readBags(const Chunk& c, std::size_t n, std::vector<SfBag>& bags) {
    for (std::size_t i = 0; i < n; ++i)
        bags.push_back({u16(c.body + 4 * i), u16(c.body + 4 * i + 2)});
}

void readGens(const Chunk& c, std::size_t n, std::vector<SfGenRecord>& gens) {
    for (std::size_t i = 0; i < n; ++i)
        gens.push_back({u16(c.body + 4 * i), u16(c.body + 4 * i + 2)});
}

bool readPdta(const std::vector<Chunk>& pdta, SoundFont& font, std::string& error) {
    const Chunk *phdr, *pbag, *pmod, *pgen, *inst, *ibag, *imod, *igen, *shdr;
    std::size_t nPhdr, nPbag, nPgen, nInst, nIbag, nIgen, nShdr;
    if (!table(pdta, "phdr", 38, phdr, nPhdr, error) ||
        !table(pdta, "pbag", 4, pbag, nPbag, error) ||
        !table(pdta, "pmod", 10, pmod, font.presetMods, error) ||
        !table(pdta, "pgen", 4, pgen, nPgen, error) ||
        !table(pdta, "inst", 22, inst, nInst, error) ||
        !table(pdta, "ibag", 4, ibag, nIbag, error) ||
        !table(pdta, "imod", 10, imod, font.instrumentMods, error) ||
        !table(pdta, "igen", 4, igen, nIgen, error) || !table(pdta, "shdr", 46, shdr, nShdr, error))
        return false;
    --font.presetMods;  // without the closing records
    --font.instrumentMods;
    for (std::size_t i = 0; i < nPhdr; ++i) {
        const std::uint8_t* p = phdr->body + 38 * i;
        font.presets.push_back({fieldName(p, 20), u16(p + 20), u16(p + 22), u16(p + 24)});
    }
    for (std::size_t i = 0; i < nInst; ++i) {
        const std::uint8_t* p = inst->body + 22 * i;
        font.instruments.push_back({fieldName(p, 20), u16(p + 20)});
    }
    readBags(*pbag, nPbag, font.presetBags);
    readBags(*ibag, nIbag, font.instrumentBags);
    readGens(*pgen, nPgen, font.presetGens);
    readGens(*igen, nIgen, font.instrumentGens);
    for (std::size_t i = 0; i < nShdr; ++i) {
        const std::uint8_t* p = shdr->body + 46 * i;
        font.samples.push_back({fieldName(p, 20), u32(p + 20), u32(p + 24), u32(p + 28),
                                u32(p + 32), u32(p + 36), p[40], static_cast<std::int8_t>(p[41]),
                                u16(p + 42), u16(p + 44)});
    }
    return true;
}

}  // namespace

bool parseSoundFont(const std::uint8_t* data, std::size_t size, SoundFont& font,
                    std::string& error) {
    font = SoundFont{};
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "sfbk", 4) != 0) {
        error = "not a SoundFont (no RIFF 'sfbk' header)";
        return false;
    }
    const std::size_t riffSize = u32(data + 4);
    if (riffSize < 4 || riffSize > size - 8) {
        error = "RIFF size " + std::to_string(riffSize) + " does not match the file's " +
                std::to_string(size) + " bytes (truncated?)";
        return false;
    }
    std::vector<Chunk> top, info, sdta, pdta;
    if (!splitChunks(data + 12, riffSize - 4, "the bank", top, error)) return false;
    for (const auto& c : top) {
        if (std::memcmp(c.id, "LIST", 4) != 0 || c.size < 4) continue;
        auto& into = std::memcmp(c.body, "INFO", 4) == 0   ? info
                     : std::memcmp(c.body, "sdta", 4) == 0 ? sdta
                     : std::memcmp(c.body, "pdta", 4) == 0 ? pdta
                                                           : top;
        if (&into == &top) continue;
        const std::string where = std::string("LIST '") + fieldName(c.body, 4) + "'";
        if (!splitChunks(c.body + 4, c.size - 4, where.c_str(), into, error)) return false;
    }
    if (const Chunk* ifil = findChunk(info, "ifil"); ifil && ifil->size >= 4) {
        font.major = u16(ifil->body);
        font.minor = u16(ifil->body + 2);
    }
    if (const Chunk* inam = findChunk(info, "INAM")) font.name = fieldName(inam->body, inam->size);
    if (font.major >= 3) {
        error = "an SF3 bank (Ogg Vorbis compressed samples, version " +
                std::to_string(font.major) + "." + std::to_string(font.minor) +
                "), which the kit does not read; use the SF2 edition of the bank";
        return false;
    }
    const Chunk* smpl = findChunk(sdta, "smpl");
    if (!smpl) {
        error = "no sample data (the 'smpl' chunk is missing)";
        return false;
    }
    font.sampleData = smpl->body;
    font.sampleFrames = smpl->size / 2;
    font.has24Bit = findChunk(sdta, "sm24") != nullptr;
    if (!readPdta(pdta, font, error)) return false;
    for (const auto& s : font.samples)
        if (s.type & kCompressed) {
            error =
                "sample '" + s.name + "' is compressed (an SF3 bank), which the kit does not read";
            return false;
        }
    return true;
}

}  // namespace korvalin::patchkit
