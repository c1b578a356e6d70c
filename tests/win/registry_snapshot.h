// Every key and value under the classes roots, for comparing before and after.
#pragma once

#include <windows.h>

#include <map>
#include <string>

using Snapshot = std::map<std::wstring, std::wstring>;

// HKLM and HKCU Software\Classes; from a 64-bit process that includes the
// 32-bit view (Wow6432Node).
Snapshot TakeSnapshot();
std::wstring Differences(const Snapshot& before, const Snapshot& after);
