// Feeds arbitrary bytes to the MIDI reader, and what it reads to the track
// scan, which combines the summaries the reader made of the tracks. Every
// input must end in a result without reading out of bounds, looping or asking
// for more memory than the input could describe.
#include <cstddef>
#include <cstdint>

#include "base/ByteIO.h"
#include "midi/MidiReader.h"
#include "score/Score.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalin;
    ByteReader in({data, size});
    RunState run;
    FileState file;
    NullConsole out;
    if (readMidiFile(run, in, file, out, makeTrackSummarizer) == Status::Ok)
        scanTracks(run, file, out);
    return 0;
}
