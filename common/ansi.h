// The process's ANSI code page, as the report and path conversions need it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velcorin {

// One UTF-16 unit to its ANSI code: one byte as 0..255, two bytes as lead << 8 | trail,
// -1 for a longer form (a UTF-8 code page's three bytes) or none.
int AnsiCodeOf(char16_t unit);
// Bytes to text, every byte converted, zero bytes included.
std::u16string AnsiDecode(std::span<const std::uint8_t> bytes);
char16_t AnsiDecodeByte(std::uint8_t byte);
// Text to the ANSI bytes a CreateFileA name needs.
std::string AnsiEncode(std::u16string_view text);

}  // namespace velcorin
