// Calling a member of a COM interface by its vtable slot, with arguments that
// each fit a machine word (integers, truth values, strings, interface and out
// pointers; never floating point or structures).
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oaidl.h>

#include <cstdint>

namespace velcorin {

constexpr unsigned kMaxSlotArguments = 4;

// Calls slot `slot` of `object` (an interface pointer) with `count` words,
// count <= kMaxSlotArguments. i686 passes each word on the stack (stdcall);
// x86_64 has one convention, and a 32-bit argument in a word's register or
// slot reads the same as in its own.
HRESULT CallSlot(void* object, unsigned slot, const std::uintptr_t* args, unsigned count);

// Whether CallSlot calls a member of this convention correctly.
constexpr bool CallSlotServes(CALLCONV convention) {
#if defined(_WIN64)
  static_cast<void>(convention);  // one convention, whatever the type library records
  return true;
#else
  return convention == CC_STDCALL;
#endif
}

}  // namespace velcorin
