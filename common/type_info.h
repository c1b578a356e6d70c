// Reading type information: descriptions borrowed from a type info (TYPEATTR,
// FUNCDESC, VARDESC), given back when their holder goes, and the vtable half
// of an interface. Each call returns the platform's HRESULT; callers that
// throw wrap them in their own checks.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oaidl.h>
#include <wrl/client.h>

#include <utility>

namespace velcorin {

template <class T>
struct DescriptionRelease;
template <>
struct DescriptionRelease<TYPEATTR> {
  static void Release(ITypeInfo* t, TYPEATTR* p) { t->ReleaseTypeAttr(p); }
};
template <>
struct DescriptionRelease<FUNCDESC> {
  static void Release(ITypeInfo* t, FUNCDESC* p) { t->ReleaseFuncDesc(p); }
};
template <>
struct DescriptionRelease<VARDESC> {
  static void Release(ITypeInfo* t, VARDESC* p) { t->ReleaseVarDesc(p); }
};

template <class T>
class TypeDescription {
 public:
  TypeDescription() = default;
  TypeDescription(ITypeInfo* owner, T* p) : owner_(owner), p_(p) {}
  TypeDescription(const TypeDescription&) = delete;
  TypeDescription& operator=(const TypeDescription&) = delete;
  TypeDescription(TypeDescription&& other) noexcept
      : owner_(std::move(other.owner_)), p_(std::exchange(other.p_, nullptr)) {}
  ~TypeDescription() { reset(); }

  const T* operator->() const { return p_; }
  const T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For the call that hands the description out.
  T** put(ITypeInfo* owner) {
    reset();
    owner_ = owner;
    return &p_;
  }

 private:
  void reset() {
    if (p_) DescriptionRelease<T>::Release(owner_.Get(), std::exchange(p_, nullptr));
  }

  Microsoft::WRL::ComPtr<ITypeInfo> owner_;
  T* p_ = nullptr;
};

inline HRESULT DescribeType(ITypeInfo* info, TypeDescription<TYPEATTR>& attr) {
  return info->GetTypeAttr(attr.put(info));
}
inline HRESULT DescribeFunction(ITypeInfo* info, UINT index, TypeDescription<FUNCDESC>& func) {
  return info->GetFuncDesc(index, func.put(info));
}
inline HRESULT DescribeVariable(ITypeInfo* info, UINT index, TypeDescription<VARDESC>& var) {
  return info->GetVarDesc(index, var.put(info));
}

// The type implemented at `index`; -1 asks a dual interface for its other half.
inline HRESULT ImplementedType(ITypeInfo* info, UINT index, ITypeInfo** type) {
  *type = nullptr;
  HREFTYPE ref = 0;
  const HRESULT hr = info->GetRefTypeOfImplType(index, &ref);
  return SUCCEEDED(hr) ? info->GetRefTypeInfo(ref, type) : hr;
}

// What ITypeInfo::Invoke calls through: a dual interface's vtable half, or
// the type itself when it has no other half.
inline HRESULT VtableHalf(ITypeInfo* info, ITypeInfo** half) {
  *half = nullptr;
  TypeDescription<TYPEATTR> attr;
  const HRESULT hr = DescribeType(info, attr);
  if (FAILED(hr)) return hr;
  if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL))
    return ImplementedType(info, static_cast<UINT>(-1), half);
  *half = info;
  info->AddRef();
  return S_OK;
}

}  // namespace velcorin
