// The family's interfaces that SetupAPI lists as present, walked once for the
// simulator and for the tests that drive it.
#pragma once

#include <string>
#include <vector>

namespace velcorin::sim {

// Their device paths in the system's order, each character one byte.
std::vector<std::string> PresentInterfacePaths();

}  // namespace velcorin::sim
