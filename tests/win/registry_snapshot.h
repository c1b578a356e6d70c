// Every key and value under the classes roots, or under a whole registry root,
// for comparing before and after.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

using Snapshot = std::map<std::wstring, std::wstring>;

// HKLM and HKCU Software\Classes; from a 64-bit process that includes the
// 32-bit view (Wow6432Node).
Snapshot TakeSnapshot();
// All of HKLM and HKCU but the subtrees whose path (as "HKLM\...") ends in or
// runs through one of `skip` (compared without regard to case).
Snapshot TakeWholeSnapshot(const std::vector<std::wstring>& skip);
std::wstring Differences(const Snapshot& before, const Snapshot& after);
