// Instruments made from an I/O trace: each one the trace saw appears at its
// path and answers with the replies the trace recorded. Portable: no <windows.h>.
#pragma once

#include <string_view>
#include <vector>

#include "simulation/core/config.h"

namespace velcorin::sim {

// Throws ConfigError when the trace names no instrument that can appear.
std::vector<InstrumentConfig> ReplayConfigs(std::string_view traceText);

}  // namespace velcorin::sim
