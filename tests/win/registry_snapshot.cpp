#include "registry_snapshot.h"

#include <algorithm>
#include <cwctype>
#include <iterator>

namespace {

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
  return text;
}

class Walker {
 public:
  explicit Walker(const std::vector<std::wstring>& skip) {
    for (const std::wstring& s : skip) skip_.push_back(Lower(s) + L"\\");
  }

  void Walk(HKEY key, const std::wstring& path, Snapshot& out) const {
    if (Skipped(path)) return;
    out[path] = L"";
    DWORD longestName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName, &longestData,
                         nullptr, nullptr) != ERROR_SUCCESS)
      return;
    std::wstring name(longestName + 1, L'\0');
    std::wstring data(longestData / sizeof(wchar_t) + 1, L'\0');
    for (DWORD i = 0;; ++i) {
      DWORD nameLength = static_cast<DWORD>(name.size());
      DWORD dataLength = static_cast<DWORD>(data.size() * sizeof(wchar_t)), type = 0;
      if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                        &dataLength) != ERROR_SUCCESS)
        break;
      // The last byte of data of odd length, without what an earlier value left beside it.
      if (dataLength % 2) data[dataLength / 2] &= 0xFF;
      out[path + L"|" + name.substr(0, nameLength)] =
          std::to_wstring(type) + L":" + data.substr(0, (dataLength + 1) / sizeof(wchar_t));
    }
    for (DWORD i = 0;; ++i) {
      wchar_t child[256];
      DWORD childLength = static_cast<DWORD>(std::size(child));
      if (RegEnumKeyExW(key, i, child, &childLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      HKEY opened;
      if (RegOpenKeyExW(key, child, 0, KEY_READ, &opened) != ERROR_SUCCESS) continue;
      Walk(opened, path + L"\\" + child, out);
      RegCloseKey(opened);
    }
  }

 private:
  bool Skipped(const std::wstring& path) const {
    if (skip_.empty()) return false;
    const std::wstring lower = Lower(path) + L"\\";
    return std::any_of(skip_.begin(), skip_.end(),
                       [&](const std::wstring& s) { return lower.find(s) != std::wstring::npos; });
  }

  std::vector<std::wstring> skip_;
};

Snapshot TakeFrom(const wchar_t* under, const std::vector<std::wstring>& skip) {
  Snapshot all;
  const Walker walker(skip);
  for (auto [root, name] : {std::pair{HKEY_LOCAL_MACHINE, L"HKLM"}, std::pair{HKEY_CURRENT_USER, L"HKCU"}}) {
    HKEY key;
    if (RegOpenKeyExW(root, under, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    walker.Walk(key, name, all);
    RegCloseKey(key);
  }
  return all;
}

}  // namespace

Snapshot TakeSnapshot() { return TakeFrom(L"Software\\Classes", {}); }

Snapshot TakeWholeSnapshot(const std::vector<std::wstring>& skip) { return TakeFrom(L"", skip); }

std::wstring Differences(const Snapshot& before, const Snapshot& after) {
  std::wstring text;
  for (auto& [k, v] : before)
    if (auto f = after.find(k); f == after.end() || f->second != v) text += L"changed/removed: " + k + L"\n";
  for (auto& [k, v] : after)
    if (!before.count(k)) text += L"added: " + k + L"\n";
  return text;
}
