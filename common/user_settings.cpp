#include "common/user_settings.h"

#include <vector>

namespace velcorin {
namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Velcorin";

}  // namespace

std::optional<std::wstring> EnvironmentText(const wchar_t* name) {
  std::vector<wchar_t> value(MAX_PATH);
  DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  if (length >= value.size()) {
    value.resize(length);
    length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  }
  if (length == 0 || length >= value.size()) return std::nullopt;
  return std::wstring(value.data(), length);
}

std::optional<std::wstring> UserSettingText(const wchar_t* name) {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  text.resize(wcsnlen(text.c_str(), text.size()));
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::uint64_t> UserSettingNumber(const wchar_t* name) {
  DWORD number = 0, bytes = sizeof number;
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &number, &bytes) == ERROR_SUCCESS)
    return number;
  const auto text = UserSettingText(name);
  if (!text || text->size() > 12 || text->find_first_not_of(L"0123456789") != std::wstring::npos) return std::nullopt;
  return std::stoull(*text);
}

}  // namespace velcorin
