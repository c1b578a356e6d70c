#include "common/core/device_path.h"

#include <vector>

namespace velcorin {
namespace {

std::vector<std::uint8_t> ToAnsiBytes(std::u16string_view text, const AnsiEncoder& encode) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size());
  for (char16_t unit : text) {
    const int encoded = encode(unit);
    const auto code = static_cast<unsigned>(encoded < 0 ? '?' : encoded);  // no path has such a character
    if (code > 0xFF) bytes.push_back(static_cast<std::uint8_t>(code >> 8));
    bytes.push_back(static_cast<std::uint8_t>(code));
  }
  return bytes;
}

std::u16string Utf16LeUpToZero(const std::vector<std::uint8_t>& bytes) {
  std::u16string path;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == u'\0') break;
    path.push_back(unit);
  }
  return path;
}

}  // namespace

std::u16string WidenDevicePath(std::span<const std::uint8_t> bytes, const AnsiByteDecoder& decodeByte) {
  std::u16string widened;
  widened.reserve(bytes.size());
  for (std::uint8_t byte : bytes) widened.push_back(decodeByte(byte));
  return widened;
}

std::u16string NarrowDevicePath(std::u16string_view devPath, const AnsiEncoder& encode) {
  return Utf16LeUpToZero(ToAnsiBytes(devPath, encode));
}

}  // namespace velcorin
