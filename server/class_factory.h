#pragma once

#include <windows.h>

#include "server/classes.h"

namespace velcorin {

HRESULT GetClassFactory(REFCLSID clsid, REFIID riid, void** factory);

}  // namespace velcorin
