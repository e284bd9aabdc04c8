// Placeholder: replaced by the real stage.
#include "patches/Patches.h"

namespace korvalin {
void computePitch(SampleRecord&, std::int16_t) {}
void scaleEnvelopes(FileState&) {}
void convertEnvelope(InstrumentRecord&, const WaveEnvelope&, std::uint32_t, std::uint32_t,
                     std::uint32_t, std::size_t) {}
}  // namespace korvalin
