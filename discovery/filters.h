// Whether the caller's filters let a device into the list.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <unknwn.h>

#include <cstdint>

namespace velcorin {

// Walks the caller's Filter collection in order until a filter matches the
// device; only the filters reached are read, so a later filter's faults show
// only for devices that get that far. A Filter that is not set is error 91;
// an item that is not an EnumFilter is error 13 (91 when it is Nothing); a
// filter whose Tokens is not set is error 91.
bool PassesFilters(IUnknown* filterList, std::int32_t productId);

}  // namespace velcorin
