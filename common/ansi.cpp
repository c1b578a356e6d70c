#include "common/ansi.h"

#include <windows.h>

namespace velcorin {

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

int AnsiCodeOf(char16_t unit) {
  char bytes[4] = {};
  const int n = WideCharToMultiByte(CP_ACP, 0, Wide(&unit), 1, bytes, sizeof(bytes), nullptr, nullptr);
  const auto byte = [&](int i) { return static_cast<int>(static_cast<unsigned char>(bytes[i])); };
  if (n == 1) return byte(0);
  if (n == 2) return byte(0) << 8 | byte(1);
  return -1;
}

std::u16string AnsiDecode(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  const auto* in = reinterpret_cast<const char*>(bytes.data());
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, in, size, nullptr, 0);
  std::u16string text(static_cast<size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, in, size, reinterpret_cast<wchar_t*>(text.data()), n);
  return text;
}

char16_t AnsiDecodeByte(std::uint8_t byte) {
  const std::u16string one = AnsiDecode({&byte, 1});
  return one.empty() ? u'?' : one.front();
}

std::string AnsiEncode(std::u16string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, Wide(text.data()), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, Wide(text.data()), size, bytes.data(), n, nullptr, nullptr);
  return bytes;
}

}  // namespace velcorin
