#include "registry_snapshot.h"

#include <iterator>

namespace {

void Walk(HKEY key, const std::wstring& path, Snapshot& out) {
  out[path] = L"";
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    BYTE data[8192];
    DWORD dataLength = sizeof(data), type = 0;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
    out[path + L"|" + name] = std::to_wstring(type) + L":" +
                              std::wstring(reinterpret_cast<wchar_t*>(data), dataLength / sizeof(wchar_t));
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY child;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    Walk(child, path + L"\\" + name, out);
    RegCloseKey(child);
  }
}

}  // namespace

Snapshot TakeSnapshot() {
  Snapshot all;
  for (auto [root, name] : {std::pair{HKEY_LOCAL_MACHINE, L"HKLM"}, std::pair{HKEY_CURRENT_USER, L"HKCU"}}) {
    HKEY classes;
    if (RegOpenKeyExW(root, L"Software\\Classes", 0, KEY_READ, &classes) != ERROR_SUCCESS) continue;
    Walk(classes, name, all);
    RegCloseKey(classes);
  }
  return all;
}

std::wstring Differences(const Snapshot& before, const Snapshot& after) {
  std::wstring text;
  for (auto& [k, v] : before)
    if (auto f = after.find(k); f == after.end() || f->second != v) text += L"changed/removed: " + k + L"\n";
  for (auto& [k, v] : after)
    if (!before.count(k)) text += L"added: " + k + L"\n";
  return text;
}

