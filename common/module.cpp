#include "common/module.h"

#include <wrl/client.h>

#include <atomic>
#include <map>
#include <mutex>

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

// The interface half of a dual interface: what ITypeInfo::Invoke needs to reach our vtable.
HRESULT InterfaceHalf(ITypeInfo* info, ITypeInfo** result) {
  TYPEATTR* attr = nullptr;
  HRESULT hr = info->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  const bool dispatchOfDual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
  info->ReleaseTypeAttr(attr);
  if (!dispatchOfDual) {
    *result = info;
    info->AddRef();
    return S_OK;
  }
  HREFTYPE ref = 0;
  hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
  return SUCCEEDED(hr) ? info->GetRefTypeInfo(ref, result) : hr;
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
    hr = InterfaceHalf(info.Get(), &half);
    info = half;
  }
  if (FAILED(hr)) return hr;
  map[iid] = info;
  *out = info.Detach();
  return S_OK;
}

// The object an argument holds, through one level of reference.
IUnknown* ObjectOf(const VARIANT& arg) {
  const VARIANT* value = &arg;
  if (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value)) value = V_VARIANTREF(value);
  switch (V_VT(value)) {
    case VT_DISPATCH:
    case VT_UNKNOWN: return V_UNKNOWN(value);
    case VT_BYREF | VT_DISPATCH:
    case VT_BYREF | VT_UNKNOWN: return V_UNKNOWNREF(value) ? *V_UNKNOWNREF(value) : nullptr;
    default: return nullptr;
  }
}

bool HoldsAnyObject(const DISPPARAMS& params) {
  for (UINT i = 0; i < params.cArgs; ++i)
    if (ObjectOf(params.rgvarg[i])) return true;
  return false;
}

// The interface a parameter takes, if it takes an object.
bool InterfaceOf(ITypeInfo* info, const TYPEDESC& type, GUID& iid) {
  const TYPEDESC* pointee = type.vt == VT_PTR ? type.lptdesc : &type;
  if (pointee->vt != VT_USERDEFINED) return false;
  ComPtr<ITypeInfo> ref;
  if (FAILED(info->GetRefTypeInfo(pointee->hreftype, &ref))) return false;
  TYPEATTR* attr = nullptr;
  if (FAILED(ref->GetTypeAttr(&attr))) return false;
  const bool object = attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH;
  iid = attr->guid;
  ref->ReleaseTypeAttr(attr);
  return object;
}

// Where in rgvarg the argument of parameter `index` is, or -1 when it was left out.
int ArgumentIndex(const DISPPARAMS& params, UINT index, UINT valueIndex) {
  for (UINT n = 0; n < params.cNamedArgs; ++n) {
    const DISPID name = params.rgdispidNamedArgs[n];
    if (name == static_cast<DISPID>(index) || (name == DISPID_PROPERTYPUT && index == valueIndex))
      return static_cast<int>(n);
  }
  const UINT positional = params.cArgs - params.cNamedArgs;
  return index < positional ? static_cast<int>(params.cArgs - 1 - index) : -1;
}

HRESULT CheckMember(ITypeInfo* info, const FUNCDESC& func, const DISPPARAMS& params, UINT* badArgument) {
  UINT count = static_cast<UINT>(func.cParams);
  if (count && (func.lprgelemdescParam[count - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) --count;
  for (UINT p = 0; p < count; ++p) {
    GUID iid{};
    if (!InterfaceOf(info, func.lprgelemdescParam[p].tdesc, iid)) continue;
    const int at = ArgumentIndex(params, p, count - 1);
    IUnknown* object = at < 0 ? nullptr : ObjectOf(params.rgvarg[at]);
    if (!object) continue;
    ComPtr<IUnknown> asked;
    if (FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(asked.GetAddressOf())))) {
      if (badArgument) *badArgument = static_cast<UINT>(at);
      return DISP_E_TYPEMISMATCH;
    }
  }
  return S_OK;
}

}  // namespace

HRESULT CheckObjectArguments(ITypeInfo* vtable, DISPID id, WORD flags, const DISPPARAMS& params, UINT* badArgument) {
  if (!HoldsAnyObject(params)) return S_OK;
  ComPtr<ITypeInfo2> info;
  if (FAILED(vtable->QueryInterface(IID_PPV_ARGS(&info)))) return S_OK;
  for (INVOKEKIND kind : {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF}) {
    UINT index = 0;
    if (!(flags & kind) || FAILED(info->GetFuncIndexOfMemId(id, kind, &index))) continue;
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(index, &func))) continue;
    const HRESULT hr = CheckMember(info.Get(), *func, params, badArgument);
    info->ReleaseFuncDesc(func);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void SetModuleHandle(HMODULE module) { g_module = module; }
HMODULE ModuleHandle() { return g_module; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }
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
