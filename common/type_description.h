// A description borrowed from a type info (TYPEATTR, FUNCDESC, VARDESC), given
// back when its holder goes.
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
  TypeDescription(ITypeInfo* owner, T* p) : owner_(owner), p_(p) {}
  TypeDescription(const TypeDescription&) = delete;
  TypeDescription& operator=(const TypeDescription&) = delete;
  TypeDescription(TypeDescription&& other) noexcept
      : owner_(std::move(other.owner_)), p_(std::exchange(other.p_, nullptr)) {}
  ~TypeDescription() {
    if (p_) DescriptionRelease<T>::Release(owner_.Get(), p_);
  }
  const T* operator->() const { return p_; }
  const T& operator*() const { return *p_; }

 private:
  Microsoft::WRL::ComPtr<ITypeInfo> owner_;
  T* p_;
};

}  // namespace velcorin
