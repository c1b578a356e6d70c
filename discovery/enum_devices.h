// EnumDevices: lists the attached instruments of the family, each opened with
// a private Device to read its identity, narrowed by the caller's filters.
#pragma once

#include "Velcorin_h.h"
#include "common/com_object.h"

namespace velcorin {

class Device;

// Empties outList, then appends the DevInfo of every present instrument that
// opens, answers its identity query and passes the filters, in the system's
// order. False when the system refused the device list (outList is then
// empty). Instruments that cannot be opened or identified are left out. Before
// any error leaves, the instrument being examined is closed again. The private
// Device that examines them is made when the first one turns up and kept in
// `examiner` for later enumerations.
bool EnumerateDevices(_Collection* outList, _Collection* filter, ComPtr<Device>& examiner);

}  // namespace velcorin
