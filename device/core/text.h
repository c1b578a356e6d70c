// Reading the texts that instruments send back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velcorin {

// Removes spaces (U+0020 only) at both ends; zero characters are kept.
std::u16string Trim(std::u16string_view text);

// A reply text as a 32-bit number. The text ends at its first U+0000. Accepted:
// optional spaces, an optional + or -, one or more ASCII digits, optional
// spaces. Anything else (tabs, inner spaces, hex, fractions, separators) is
// RuntimeError 13; a well-formed number outside the 32-bit range is 6.
std::int32_t ParseReplyNumber(std::u16string_view text);

}  // namespace velcorin
