// The four exports of the in-process server. Nothing happens at load.
#include <windows.h>

#include "common/module.h"
#include "server/class_factory.h"
#include "server/registration.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    velcorin::SetModuleHandle(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* factory) {
  return velcorin::GetClassFactory(clsid, riid, factory);
}

STDAPI DllCanUnloadNow() {
  if (velcorin::ModuleInUse()) return S_FALSE;
  velcorin::ReleaseTypeInfoCache();
  return S_OK;
}

STDAPI DllRegisterServer() { return velcorin::RegisterServer(); }

STDAPI DllUnregisterServer() { return velcorin::UnregisterServer(); }

}  // extern "C"
