// The five creatable classes: what registration writes and what the class
// factories make.
#pragma once

#include <windows.h>

#include <span>

#include "common/com_object.h"

namespace velcorin {

struct ClassEntry {
  const CLSID* clsid;
  const wchar_t* progId;
  ComPtr<IDispatch> (*create)();
};

std::span<const ClassEntry> CreatableClasses();
const ClassEntry* FindClass(REFCLSID clsid);

}  // namespace velcorin
