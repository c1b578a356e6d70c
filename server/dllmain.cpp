// The four exports of the in-process server. Nothing happens at load.
#include <windows.h>

#include "common/module.h"
#include "server/class_factory.h"
#include "server/registration.h"

#if defined(__MINGW32__)
namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++: frees its emergency exception pool
}
extern "C" const PIMAGE_TLS_CALLBACK __xl_f;  // winpthreads' thread and process notifications
#endif

namespace {

// The statically linked C++ runtime keeps some things until the process ends;
// a host that unloads and reloads the DLL would lose them at every unload.
void ReleaseRuntimeLeftovers([[maybe_unused]] HINSTANCE instance) {
#if defined(__MINGW32__)
  __gnu_cxx::__freeres();
  // winpthreads gave the loading thread a record of itself (a thread handle and
  // an event) that only that thread's exit would free: free it as at its exit.
  __xl_f(instance, DLL_THREAD_DETACH, nullptr);
  __xl_f(instance, DLL_PROCESS_DETACH, nullptr);
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
  if (reason == DLL_PROCESS_DETACH && !reserved) ReleaseRuntimeLeftovers(instance);
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
