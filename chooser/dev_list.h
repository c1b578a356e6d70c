// Reading an enumeration's DevInfo records into the plain records the tree and pane plan from.
#pragma once

#include <vector>

#include "Velcorin_h.h"
#include "chooser/core/device_record.h"

namespace velcorin {

// Every item of the list that is a DevInfo, in list order. Throws ComError when
// a record cannot be read.
std::vector<DeviceRecord> ReadDevList(_Collection* list);

}  // namespace velcorin
