#include "common/module.h"

#include <wrl/client.h>

#include <atomic>
#include <map>
#include <mutex>

#include "common/module_file.h"
#include "common/type_info.h"

namespace velcorin {

using Microsoft::WRL::ComPtr;

namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct TypeInfoCache {
  std::mutex mutex;
  ComPtr<ITypeLib> lib;
  std::map<GUID, ComPtr<ITypeInfo>, GuidLess> dispatch;
  std::map<GUID, ComPtr<ITypeInfo>, GuidLess> vtable;
};

TypeInfoCache& Cache() {
  static TypeInfoCache* cache = new TypeInfoCache;  // never destroyed: no COM calls at unload
  return *cache;
}

HRESULT LoadLibraryLocked(TypeInfoCache& cache) {
  if (cache.lib) return S_OK;
  const std::wstring path = ModulePath();
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, &cache.lib);
}

HRESULT Lookup(REFIID iid, bool wantVtable, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  TypeInfoCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  auto& map = wantVtable ? cache.vtable : cache.dispatch;
  if (auto found = map.find(iid); found != map.end()) {
    *out = found->second.Get();
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT hr = LoadLibraryLocked(cache);
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> info;
  hr = cache.lib->GetTypeInfoOfGuid(iid, &info);
  if (SUCCEEDED(hr) && wantVtable) {
    ComPtr<ITypeInfo> half;
    hr = VtableHalf(info.Get(), &half);
    info = half;
  }
  if (FAILED(hr)) return hr;
  map[iid] = info;
  *out = info.Detach();
  return S_OK;
}

}  // namespace

void SetModuleHandle(HMODULE module) { g_module = module; }
HMODULE ModuleHandle() { return g_module; }

std::wstring ModulePath() { return ModuleFileName(g_module); }

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }

// The statically linked thread library and libgcc's thread-local storage keep
// handles (the loading thread's record, their locks) that nothing gives back at
// unload, so every unload and reload would lose them. Once the DLL has handed out
// an object it stays loaded until the process ends; a load that only registers
// (an installer's) still unloads.
void PinModule() {
  static std::atomic<bool> pinned{false};
  if (pinned.load(std::memory_order_relaxed) || pinned.exchange(true)) return;
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(g_module), &self);
}
void LockModule(bool lock) { lock ? ++g_locks : --g_locks; }
bool ModuleInUse() { return g_objects.load() > 0 || g_locks.load() > 0; }

HRESULT ModuleTypeLib(ITypeLib** lib) {
  if (!lib) return E_POINTER;
  TypeInfoCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  HRESULT hr = LoadLibraryLocked(cache);
  *lib = SUCCEEDED(hr) ? cache.lib.Get() : nullptr;
  if (*lib) (*lib)->AddRef();
  return hr;
}

HRESULT DispatchTypeInfo(REFIID iid, ITypeInfo** info) { return Lookup(iid, false, info); }
HRESULT VtableTypeInfo(REFIID iid, ITypeInfo** info) { return Lookup(iid, true, info); }

void ReleaseTypeInfoCache() {
  TypeInfoCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  cache.dispatch.clear();
  cache.vtable.clear();
  cache.lib.Reset();
}

}  // namespace velcorin
