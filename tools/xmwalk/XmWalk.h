// A reader of the modules the converter writes: walks every field of the file
// in order, checks each against what the converter can emit, and names the
// field that lies at any offset. Used by the korvalin-xmwalk command, the
// golden-module test's difference report and the pipeline fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace korvalin::xmwalk {

// Where a field lies; the indices that do not apply to its area are -1.
struct Field {
    enum class Area { Header, PatternHeader, Cell, Instrument, SampleHeader, SampleData, Trailing };
    Area area = Area::Header;
    std::size_t offset = 0, size = 0;
    const char* name = "";
    int pattern = -1, row = -1, channel = -1, instrument = -1, sample = -1;
};

// Called for every field in file order; returning false stops the walk.
class Visitor {
  public:
    virtual ~Visitor() = default;
    virtual bool field(const Field& f) = 0;
};

struct Summary {
    std::string fault;  // the first violation, empty when the module walks cleanly
    std::size_t faultOffset = 0;
    unsigned channels = 0, patterns = 0, instruments = 0, samples = 0, cells = 0, notes = 0;
};

// Walks a whole module. The visitor may be null.
Summary walk(std::span<const std::uint8_t> module, Visitor* visitor = nullptr);

// "pattern 2 row 14 channel 3 volume column", "instrument 1 sample 0 loop start", ...
std::string describe(const Field& f);

// The description of the field that holds byte `offset`, or "past the end".
std::string describeOffset(std::span<const std::uint8_t> module, std::size_t offset);

}  // namespace korvalin::xmwalk
