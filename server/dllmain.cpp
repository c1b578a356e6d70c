// The four exports of the in-process server. Nothing happens at load; the
// trace settings are read when the first class factory is asked for.
#include <windows.h>

#include "common/module.h"
#include "server/class_factory.h"
#include "server/proxy_stub.h"
#include "server/registration.h"
#include "simulation/simulation.h"
#include "trace/trace.h"

#if defined(__MINGW32__)
namespace __gnu_cxx {
void __freeres() noexcept;  // NOLINT(bugprone-reserved-identifier): libstdc++'s own, frees its emergency exception pool
}
#endif

namespace {

// The statically linked C++ runtime keeps some things until the process ends;
// a host that unloads and reloads the DLL would lose them at every unload.
void ReleaseRuntimeLeftovers() {
#if defined(__MINGW32__)
  // Its emergency exception pool; no exception is thrown after this point.
  __gnu_cxx::__freeres();
#endif
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    velcorin::SetModuleHandle(instance);
    DisableThreadLibraryCalls(instance);
  }
  // Only when unloaded from a process that goes on; at process exit nothing needs giving back.
  if (reason == DLL_PROCESS_DETACH && !reserved) ReleaseRuntimeLeftovers();
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* factory) {
  // Every object comes through here, so no device I/O precedes the settings;
  // simulation first, so that a simulated session's trace says so from its first line.
  velcorin::simulation::StartOnce();
  velcorin::trace::StartOnce();
  if (IsEqualCLSID(clsid, CLSID_PSFactoryBuffer)) return PrxDllGetClassObject(clsid, riid, factory);
  return velcorin::GetClassFactory(clsid, riid, factory);
}

STDAPI DllCanUnloadNow() {
  if (velcorin::ModuleInUse() || PrxDllCanUnloadNow() != S_OK) return S_FALSE;
  velcorin::ReleaseTypeInfoCache();
  return S_OK;
}

STDAPI DllRegisterServer() { return velcorin::RegisterServer(); }

STDAPI DllUnregisterServer() { return velcorin::UnregisterServer(); }

}  // extern "C"
