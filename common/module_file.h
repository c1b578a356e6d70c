// The file a loaded module came from, however long its path.
#pragma once

#include <windows.h>

#include <string>

namespace velcorin {

// `module` null: the program's own file. Empty when the system cannot tell.
inline std::wstring ModuleFileName(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);  // cut short: GetModuleFileNameW filled it all
  }
}

}  // namespace velcorin
