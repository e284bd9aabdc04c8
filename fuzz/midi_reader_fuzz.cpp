// Feeds arbitrary bytes to the MIDI reader. Every input must end in a result
// without reading out of bounds, looping or asking for more memory than the
// input could describe.
#include <cstddef>
#include <cstdint>

#include "base/ByteIO.h"
#include "midi/MidiReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalin;
    ByteReader in({data, size});
    RunState run;
    FileState file;
    NullConsole out;
    readMidiFile(run, in, file, out);
    return 0;
}
