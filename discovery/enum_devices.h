// EnumDevices: lists the attached instruments of the family, each opened with
// a private Device to read its identity, narrowed by the caller's filters.
#pragma once

#include "Velcorin_h.h"

namespace velcorin {

// False when the system refused the device list; outList is then empty.
bool EnumerateDevices(_Collection* outList, _Collection* filter);

}  // namespace velcorin
