// The Windows handles the simulator and its test client hold, and how they are named.
#pragma once

#include <windows.h>

#include <string>

#include "common/unique_handle.h"

namespace velcorin::sim {

using UniqueHandle = UniqueKernelHandle;
using UniqueRegKey = velcorin::UniqueHandle<NullIsEmpty<HKEY, &RegCloseKey>>;

// Names and paths here are ASCII.
inline std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace velcorin::sim
