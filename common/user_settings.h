// The settings a user switches the component's optional modes on with: an
// environment variable, or a string value under HKCU\Software\Velcorin.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace velcorin {

// Nothing when unset or empty.
std::optional<std::wstring> EnvironmentText(const wchar_t* name);
std::optional<std::wstring> UserSettingText(const wchar_t* name);
// A DWORD, or text of decimal digits (what `reg add` writes by default).
std::optional<std::uint64_t> UserSettingNumber(const wchar_t* name);

}  // namespace velcorin
