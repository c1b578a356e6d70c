#pragma once

#include <windows.h>

namespace velcorin {

HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace velcorin
