// One hexadecimal digit's value, for the parsers of traces, configurations and
// command lines alike.
#pragma once

namespace velcorin {

// 0 to 15, or -1 when `c` is no hex digit (either case).
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace velcorin
