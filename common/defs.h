// Small shared helpers and the component's constants. Portable: no <windows.h>.
#pragma once

#include <cstdint>

namespace velcorin {

// The smaller of two values; for equal values the first one.
template <class T>
constexpr T MinOf(T a, T b) {
  return a > b ? b : a;
}

constexpr bool IsNegative(std::int32_t value) { return value < 0; }

// USB vendor ID of the instrument family: the initial DevInfo.VendorID.
constexpr std::int32_t kFamilyVendorId = 0x6A5B;

// Device-interface class of the family, in registry form for CLSIDFromString.
constexpr const char16_t* kInterfaceClassGuid = u"{F27100C7-A139-4C98-9E18-70208A118C03}";

}  // namespace velcorin
