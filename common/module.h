// What the DLL knows about itself: its module handle, its live-object and lock
// counts (for DllCanUnloadNow) and the type information it serves from its own
// embedded library.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oaidl.h>

#include <string>

namespace velcorin {

void SetModuleHandle(HMODULE module);
HMODULE ModuleHandle();
std::wstring ModulePath();

// Live objects, for DllCanUnloadNow.
void ObjectCreated();
void ObjectDestroyed();
// Keeps the DLL loaded until the process ends (why: module.cpp); the first
// object it hands out does this.
void PinModule();
void LockModule(bool lock);
bool ModuleInUse();

// The type library embedded in this DLL, loaded without registering it.
HRESULT ModuleTypeLib(ITypeLib** lib);
// The description of an interface as clients see it (for a dual interface, its
// dispatch half) and the vtable half that ITypeInfo::Invoke calls through.
HRESULT DispatchTypeInfo(REFIID iid, ITypeInfo** info);
HRESULT VtableTypeInfo(REFIID iid, ITypeInfo** info);
// Drops the cached library once nothing uses the DLL any more.
void ReleaseTypeInfoCache();

// Counts one live object for as long as it exists, and pins the DLL.
class ObjectCounter {
 public:
  ObjectCounter() { Created(); }
  ObjectCounter(const ObjectCounter&) { Created(); }
  ObjectCounter& operator=(const ObjectCounter&) = default;
  ~ObjectCounter() { ObjectDestroyed(); }

 private:
  static void Created() {
    PinModule();
    ObjectCreated();
  }
};

}  // namespace velcorin
