// The device path string handed to clients: the system's UTF-16LE interface
// path with every byte widened to one character. Opening turns it back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/core/ansi_codec.h"

namespace velcorin {

// One character per byte, each through `decodeByte`; never stops at zero bytes.
// Enumeration passes the detail record's bytes 4 to required size.
std::u16string WidenDevicePath(std::span<const std::uint8_t> bytes, const AnsiByteDecoder& decodeByte);

// The path that a device path string names: each character to its ANSI byte(s)
// (a double-byte code contributes lead then trail byte, as a whole-string
// conversion would), the bytes read as UTF-16LE (a last odd byte dropped), cut
// at the first U+0000. A string not made by WidenDevicePath gives a name that
// is not the path it spells. Never throws a RuntimeError.
std::u16string NarrowDevicePath(std::u16string_view devPath, const AnsiEncoder& encode);

}  // namespace velcorin
