// Other programs run from a test: by full path, waited for with a deadline.
#pragma once

#include <windows.h>

#include <string>

std::wstring FullPath(const wchar_t* path);
// A program in a system folder: GetSystemDirectoryW for this bitness's tools,
// GetSystemWow64DirectoryW for the 32-bit ones beside a 64-bit test.
std::wstring SystemTool(UINT(WINAPI* folder)(LPWSTR, UINT), const wchar_t* name);

struct Finished {
  static constexpr DWORD kTimedOut = 0xFFFFFFFF;
  DWORD code = kTimedOut;  // the exit code, or kTimedOut when it had to be ended
  std::string output;      // standard output and error, as written
};
Finished RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs = 120000);
