// Where the arbitration may put an effect (the value of effectClass).
#pragma once

#include <cstdint>

namespace korvalin {

enum EffectClass : std::int32_t {
    kClassNone = 0,         // never placed by the converter
    kClassGlobal = 1,       // acts on the whole module: any channel will do
    kClassMidiChannel = 2,  // the first module channel of its MIDI channel
    kClassChannel = 3,      // the channel it is meant for
};

}  // namespace korvalin
