// Code-page conversion handed to portable code as functions, so that it stays
// free of the system; the Windows build passes the process's ANSI code page.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace velcorin {

// ANSI code of one UTF-16 code unit. 0..255 is a single byte; a larger value
// is a double-byte character, lead byte in bits 8..15, trail byte in 0..7; a
// negative value means a longer form or none.
using AnsiEncoder = std::function<int(char16_t)>;
// ANSI byte string of exact length to UTF-16; must not stop at zero bytes.
using AnsiDecoder = std::function<std::u16string(std::span<const std::uint8_t>)>;
// One ANSI byte to one UTF-16 code unit.
using AnsiByteDecoder = std::function<char16_t(std::uint8_t)>;

}  // namespace velcorin
