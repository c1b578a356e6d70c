// How the simulator names things; the owners of its handles are in common/unique_handle.h.
#pragma once

#include <windows.h>

#include <string>

#include "common/unique_handle.h"

namespace velcorin::sim {

// Names and paths here are ASCII.
inline std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace velcorin::sim
