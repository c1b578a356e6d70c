// EnumDevices: lists the attached instruments of the family, each opened with
// a private Device to read its identity, narrowed by the caller's filters.
#pragma once

#include "Velcorin_h.h"

namespace velcorin {

// Empties outList, then appends the DevInfo of every present instrument that
// opens, answers its identity query and passes the filters, in the system's
// order. False when the system refused the device list (outList is then
// empty). Instruments that cannot be opened or identified are left out. Before
// any error leaves, the instrument being examined is closed again.
bool EnumerateDevices(_Collection* outList, _Collection* filter);

}  // namespace velcorin
