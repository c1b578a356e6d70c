// The shell every automation object of the component shares: reference
// counting, QueryInterface, IDispatch driven by the embedded type library, and
// ISupportErrorInfo.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <type_traits>
#include <utility>

#include "common/type_library_invoke.h"
#include "common/dispatch_table.h"
#include "common/module.h"

namespace velcorin {

using Microsoft::WRL::ComPtr;

// An object's reference count, which also counts the object as alive for
// DllCanUnloadNow. It starts at 0: the first owner is the ComPtr that
// MakeObject returns.
class RefCount {
 public:
  ULONG Add() { return ++refs_; }
  // Deletes the object at zero; touches nothing of it afterwards.
  template <class T>
  ULONG Drop(T* object) {
    const ULONG left = --refs_;
    if (left == 0) delete object;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{0};
  ObjectCounter counter_;
};

// QueryInterface over an object's interfaces, its main one first: IUnknown
// (and IDispatch, when the main one is a dispatch interface) hand that out.
template <class Main, class... Others, class Object>
HRESULT QueryListed(Object* self, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid == IID_IUnknown || riid == __uuidof(Main) || (std::is_base_of_v<IDispatch, Main> && riid == IID_IDispatch))
    *object = static_cast<Main*>(self);
  else
    (void)((riid == __uuidof(Others) && (*object = static_cast<Others*>(self)) != nullptr) || ...);
  if (!*object) return E_NOINTERFACE;
  static_cast<Main*>(self)->AddRef();
  return S_OK;
}

// Reference counting and QueryInterface for an object with one interface.
template <class Itf>
class ComObject : public Itf {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override { return QueryListed<Itf>(this, riid, object); }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(this); }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  friend class RefCount;

 private:
  RefCount refs_;
};

template <class Itf>
class DispatchObject : public Itf, public ISupportErrorInfo {
 public:
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    return QueryListed<Itf, ISupportErrorInfo>(this, riid, object);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(this); }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return DispatchTypeInfo(__uuidof(Itf), info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || !AllNamesPresent(names, count)) return E_POINTER;
    return Table().GetIDsOfNames(names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* badArgument) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    SetErrorInfo(0, nullptr);
    DISPPARAMS none{};
    if (!params) params = &none;
    if (!IsWellFormed(*params)) return E_INVALIDARG;
    return Table().Invoke(static_cast<Itf*>(this), id, flags, *params, result, exception, badArgument);
  }

  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == __uuidof(Itf) || riid == IID_IDispatch ? S_OK : S_FALSE;
  }

 protected:
  DispatchObject() = default;
  virtual ~DispatchObject() = default;
  friend class RefCount;

 private:
  // Built at the first late-bound call on any object of the class.
  static const DispatchTable& Table() {
    static const DispatchTable table(__uuidof(Itf));
    return table;
  }

  RefCount refs_;
};

// Creates an object owned by the returned pointer (its one reference).
// (Not ComPtr::Attach: mingw's adds a reference.)
template <class T, class... Args>
ComPtr<T> MakeObject(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace velcorin
