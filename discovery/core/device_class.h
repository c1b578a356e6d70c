// Device class numbers: the unit of class filters and of the chooser's groups.
#pragma once

#include <cstdint>

namespace velcorin {

// A class is bits 8 to 15 of a value, read as a 16-bit signed number, so any
// value maps to a class and nothing overflows: 0x1234 -> 0x1200 and both 61441
// and -4095 -> -4096 (0xF000).
constexpr std::int16_t ClassOfWholeNumber(std::int64_t value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(value) & 0xFF00u));
}

// The class of a device, from its ProductID.
constexpr std::int16_t ClassOf(std::int32_t productId) { return ClassOfWholeNumber(productId); }

}  // namespace velcorin
