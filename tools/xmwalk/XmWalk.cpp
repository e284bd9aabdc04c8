#include "XmWalk.h"

#include <cstring>
#include <vector>

namespace korvalin::xmwalk {
namespace {

using Area = Field::Area;

constexpr std::size_t kInstrumentHeaderBytes = 263;
constexpr std::size_t kSampleHeaderBytes = 40;

// Cell field bits of the packed form, in the order their bytes follow the flag.
constexpr struct {
    std::uint8_t bit;
    const char* name;
} kCellFields[] = {{0x01, "note"},
                   {0x02, "instrument"},
                   {0x04, "volume column"},
                   {0x08, "effect type"},
                   {0x10, "effect parameter"}};

class Walker {
  public:
    Walker(std::span<const std::uint8_t> bytes, Visitor* visitor)
        : bytes_(bytes), visitor_(visitor) {}

    Summary run() {
        if (header() && patterns()) instruments();
        if (live() && pos_ < bytes_.size()) {
            where_ = Field{Area::Trailing};
            take(bytes_.size() - pos_, "bytes after the last instrument");
            fail("bytes after the module's end");
        }
        return summary_;
    }

  private:
    bool live() const { return summary_.fault.empty() && !stopped_; }

    // Takes the next field of `size` bytes; returns its value (up to 4 bytes,
    // little-endian) in value_. False once the walk has stopped or failed.
    bool take(std::size_t size, const char* name) {
        if (!live()) return false;
        Field f = where_;
        f.offset = pos_;
        f.size = size;
        f.name = name;
        if (size > bytes_.size() - pos_) {
            f.size = bytes_.size() - pos_;
            if (visitor_ && f.size > 0 && !visitor_->field(f)) stopped_ = true;
            pos_ = bytes_.size();
            field_ = f;
            return fail("file ends inside " + describe(f));
        }
        value_ = 0;
        for (std::size_t i = 0; i < size && i < 4; ++i)
            value_ |= std::uint32_t{bytes_[pos_ + i]} << (8 * i);
        field_ = f;
        pos_ += size;
        if (visitor_ && !visitor_->field(f)) stopped_ = true;
        return live();
    }
    bool expect(std::size_t size, const char* name, std::uint32_t wanted) {
        if (!take(size, name)) return false;
        return value_ == wanted || fail(describe(field_) + " is " + std::to_string(value_) +
                                        ", not " + std::to_string(wanted));
    }
    // `what` stays a plain text so that a passing check costs no allocation.
    bool check(bool ok, const char* what) {
        return ok || fail(describe(field_) + " " + what + " (" + std::to_string(value_) + ")");
    }
    bool fail(const std::string& fault) {
        if (summary_.fault.empty()) {
            summary_.fault = fault;
            summary_.faultOffset = field_.offset;
        }
        return false;
    }

    bool header() {
        where_ = Field{Area::Header};
        if (!take(17, "ID text")) return false;
        if (std::memcmp(&bytes_[0], "Extended Module: ", 17) != 0)
            return fail("not an extended module");
        take(20, "module name");
        expect(1, "end-of-text mark", 0x1A);
        take(20, "tracker name");
        expect(2, "format version", 0x0104);
        expect(4, "header size", 276);
        take(2, "song length");
        const std::uint32_t songLength = value_;
        expect(2, "restart position", 0);
        take(2, "channel count");
        summary_.channels = value_;
        check(value_ >= 2 && value_ % 2 == 0, "is not an even count of at least 2");
        take(2, "pattern count");
        summary_.patterns = value_;
        check(value_ == songLength && value_ >= 1 && value_ <= 256,
              "differs from the song length or lies outside 1 to 256");
        take(2, "instrument count");
        summary_.instruments = value_;
        check(value_ <= 128, "exceeds 128");
        expect(2, "frequency flags", 1);
        take(2, "default tempo");
        check(value_ >= 1, "is 0");
        take(2, "default BPM");
        for (std::uint32_t i = 0; i < 256 && live(); ++i) expect(1, "order table entry", i);
        return live();
    }

    bool patterns() {
        for (unsigned p = 0; p < summary_.patterns && live(); ++p) {
            where_ = Field{Area::PatternHeader};
            where_.pattern = int(p);
            expect(4, "pattern header length", 9);
            expect(1, "packing type", 0);
            take(2, "row count");
            const std::uint32_t rows = value_;
            check(rows >= 1 && rows <= 256, "lies outside 1 to 256");
            take(2, "packed data size");
            const std::size_t start = pos_, end = pos_ + value_;
            where_.area = Area::Cell;
            for (std::uint32_t r = 0; r < rows && live(); ++r) {
                where_.row = int(r);
                for (unsigned c = 0; c < summary_.channels && live(); ++c) {
                    where_.channel = int(c);
                    cell();
                }
            }
            where_.row = where_.channel = -1;
            if (live() && pos_ != end)
                fail("pattern " + std::to_string(p) + " cells take " +
                     std::to_string(pos_ - start) + " bytes, its header says " +
                     std::to_string(end - start));
        }
        return live();
    }

    // The common case without a visitor: a sound cell is checked in place;
    // anything else goes the field-by-field way, which names the fault.
    bool quickCell() {
        if (visitor_ || pos_ >= bytes_.size()) return false;
        const std::uint8_t* p = &bytes_[pos_];
        const std::uint8_t flags = p[0];
        const unsigned f = flags & 0x1Fu;
        const std::size_t n = 1 + (f & 1) + (f >> 1 & 1) + (f >> 2 & 1) + (f >> 3 & 1) + (f >> 4);
        if ((flags & 0xE0) != 0x80 || n > bytes_.size() - pos_) return false;
        std::size_t k = 1;
        std::uint32_t note = 0, instrument = 1, volume = 0x10, effect = 0, param = 0x10;
        if (flags & 0x01) note = p[k++];
        if (flags & 0x02) instrument = p[k++];
        if (flags & 0x04) volume = p[k++];
        if (flags & 0x08) effect = p[k++];
        if (flags & 0x10) param = p[k++];
        const bool sound =
            (!(flags & 0x01) || (note >= 1 && note <= 96)) &&
            (!(flags & 0x02) || (instrument >= 1 && instrument <= summary_.instruments)) &&
            ((volume >= 0x10 && volume <= 0x50) || (volume >= 0xA0 && volume <= 0xBF)) &&
            (!(flags & 0x08) ? !(flags & 0x10)
             : effect == 0x14
                 ? !(flags & 0x10)
                 : (flags & 0x10) &&
                       (effect == 0x01 || effect == 0x02 || effect == 0x08 || effect == 0x0F ||
                        (effect == 0x0E && (param >> 4 == 0x1 || param >> 4 == 0x2 ||
                                            param >> 4 == 0xC || param >> 4 == 0xD))));
        if (!sound) return false;
        pos_ += n;
        ++summary_.cells;
        if (flags & 0x01) ++summary_.notes;
        return true;
    }

    void cell() {
        if (quickCell()) return;
        if (!take(1, "flag byte")) return;
        const std::uint8_t flags = std::uint8_t(value_);
        if (!check((flags & 0xE0) == 0x80, "is not a packed flag byte")) return;
        ++summary_.cells;
        std::uint32_t effect = 0;
        for (const auto& f : kCellFields) {
            if (!(flags & f.bit)) continue;
            if (!take(1, f.name)) return;
            const std::uint32_t v = value_;
            switch (f.bit) {
                case 0x01:
                    ++summary_.notes;
                    check(v >= 1 && v <= 96, "lies outside notes 1 to 96");
                    break;
                case 0x02:
                    check(v >= 1 && v <= summary_.instruments, "names no instrument");
                    break;
                case 0x04:
                    check((v >= 0x10 && v <= 0x50) || (v >= 0xA0 && v <= 0xBF),
                          "is no set-volume or vibrato byte");
                    break;
                case 0x08:
                    effect = v;
                    check(
                        v == 0x01 || v == 0x02 || v == 0x08 || v == 0x0E || v == 0x0F || v == 0x14,
                        "is not an effect the converter writes");
                    break;
                default:
                    if (effect == 0x0E)
                        check(v >> 4 == 0x1 || v >> 4 == 0x2 || v >> 4 == 0xC || v >> 4 == 0xD,
                              "is not a fine slide, cut or delay");
            }
        }
        const bool hasEffect = flags & 0x08, hasParam = flags & 0x10;
        if (hasEffect && effect == 0x14)
            check(!hasParam, "key off carries a parameter");
        else
            check(hasEffect == hasParam, "effect and parameter do not come together");
    }

    void instruments() {
        for (unsigned i = 1; i <= summary_.instruments && live(); ++i) {
            where_ = Field{Area::Instrument};
            where_.instrument = int(i);
            expect(4, "instrument header size", kInstrumentHeaderBytes);
            take(22, "instrument name");
            expect(1, "instrument type", 0);
            take(2, "sample count");
            const std::uint32_t samples = value_;
            expect(4, "sample header size", kSampleHeaderBytes);
            const std::size_t keymap = pos_;
            if (take(96, "keymap") && samples > 0)
                for (std::size_t k = 0; k < 96; ++k)
                    if (bytes_[keymap + k] >= samples) fail(describe(field_) + " names no sample");
            take(48, "volume envelope points");
            take(48, "panning envelope points");
            take(1, "volume point count");
            const std::uint32_t points = value_;
            check(points <= 12, "exceeds 12");
            expect(1, "panning point count", 0);
            for (const char* name :
                 {"volume sustain point", "volume loop start", "volume loop end"})
                if (take(1, name) && points > 0) check(value_ < points, "names no point");
            take(3, "panning sustain and loop points");
            take(1, "volume type");
            check(value_ <= 7, "has unknown bits");
            take(4, "panning and vibrato type, vibrato sweep and depth");
            take(1, "vibrato rate");
            take(2, "volume fadeout");
            check(value_ <= 4095, "exceeds 4095");
            take(22, "reserved bytes");
            std::vector<std::uint32_t> lengths(samples);
            for (std::uint32_t s = 0; s < samples && live(); ++s) lengths[s] = sampleHeader(s);
            where_.area = Area::SampleData;
            for (std::uint32_t s = 0; s < samples && live(); ++s) {
                where_.sample = int(s);
                take(lengths[s], "data");
            }
            summary_.samples += samples;
        }
    }

    // Returns the sample's data length.
    std::uint32_t sampleHeader(std::uint32_t s) {
        where_.area = Area::SampleHeader;
        where_.sample = int(s);
        take(4, "sample length");
        const std::uint32_t length = value_;
        take(4, "loop start");
        const std::uint32_t loopStart = value_;
        take(4, "loop length");
        const std::uint32_t loopLength = value_;
        take(1, "volume");
        check(value_ <= 64, "exceeds 64");
        take(1, "finetune");
        take(1, "type");
        const std::uint32_t type = value_;
        check((type & ~0x13u) == 0 && (type & 3) != 3, "is no loop kind and width");
        take(1, "panning");
        take(1, "relative note");
        expect(1, "reserved byte", 0);
        take(22, "sample name");
        if (!live()) return 0;
        const std::uint32_t width = (type & 0x10) ? 2 : 1;
        field_.name = "sample length";  // the checks below name the header's first field
        field_.offset -= 18;
        field_.size = 4;
        check(length % width == 0 && loopStart % width == 0 && loopLength % width == 0,
              "or its loop is not a whole number of 16-bit values");
        if ((type & 3) != 0)
            check(loopLength > 0 && loopStart <= length && loopLength <= length - loopStart,
                  "does not hold its loop");
        return length;
    }

    std::span<const std::uint8_t> bytes_;
    Visitor* visitor_;
    std::size_t pos_ = 0;
    std::uint32_t value_ = 0;
    Field where_, field_;
    Summary summary_;
    bool stopped_ = false;
};

}  // namespace

Summary walk(std::span<const std::uint8_t> module, Visitor* visitor) {
    return Walker(module, visitor).run();
}

std::string describe(const Field& f) {
    const auto n = [](int v) { return std::to_string(v); };
    switch (f.area) {
        case Area::Header:
            return std::string("header ") + f.name;
        case Area::PatternHeader:
            return "pattern " + n(f.pattern) + " " + f.name;
        case Area::Cell:
            return "pattern " + n(f.pattern) + " row " + n(f.row) + " channel " + n(f.channel) +
                   " " + f.name;
        case Area::Instrument:
            return "instrument " + n(f.instrument) + " " + f.name;
        case Area::SampleHeader:
        case Area::SampleData:
            return "instrument " + n(f.instrument) + " sample " + n(f.sample) + " " + f.name;
        case Area::Trailing:
            break;
    }
    return f.name;
}

std::string describeOffset(std::span<const std::uint8_t> module, std::size_t offset) {
    struct Find final : Visitor {
        std::size_t offset;
        std::string found = "past the end";
        bool field(const Field& f) override {
            if (offset >= f.offset + f.size) return true;
            found = describe(f);
            if (f.size > 1) found += " (byte " + std::to_string(offset - f.offset) + ")";
            return false;
        }
    } find;
    find.offset = offset;
    walk(module, &find);
    return find.found;
}

}  // namespace korvalin::xmwalk
