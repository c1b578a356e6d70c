// EnumDevices: lists the attached instruments of the family, each identified
// by the device layer, narrowed by the caller's filters.
#pragma once

#include <functional>
#include <string>

#include "Velcorin_h.h"
#include "common/com_object.h"

namespace velcorin {

// The identity of the instrument at a device path, read by opening it and
// closed again however that ends; null when it cannot be opened or identified.
using IdentifyInstrument = std::function<ComPtr<_DevInfo>(const std::u16string& path)>;

// Empties outList, then appends the DevInfo of every present instrument that
// opens, answers its identity query and passes the filters, in the system's
// order. False when the system refused the device list (outList is then
// empty). Instruments that cannot be opened or identified are left out.
bool EnumerateDevices(_Collection* outList, _Collection* filter, const IdentifyInstrument& identify);

}  // namespace velcorin
