// Placeholder until the run sequence is written.
#include "Driver.h"

namespace korvalin {
int runConverter(const std::vector<std::string>&, StdConsole& console) {
    console.print("KORVALIN version 0.4.0 [17:19:55 Jul 24 1998]");
    return 0;
}
}  // namespace korvalin
