#include "discovery/enum_devices.h"

#include "common/error_info.h"

namespace velcorin {

bool EnumerateDevices(_Collection*, _Collection*) { throw ComError{E_NOTIMPL}; }

}  // namespace velcorin
