// A whole file's bytes, read while other programs may still write it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "common/owners.h"

namespace velcorin {

// Nothing when the file does not open; `error` then holds the system's reason.
inline std::optional<std::string> ReadWholeFile(const wchar_t* path, DWORD* error = nullptr) {
  const UniqueKernelHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (error) *error = GetLastError();
    return std::nullopt;
  }
  std::string text;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  return text;
}

}  // namespace velcorin
