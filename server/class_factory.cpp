#include "server/class_factory.h"

#include <atomic>
#include <new>

#include "common/module.h"

namespace velcorin {

namespace {

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
      return entry_.create()->QueryInterface(riid, object);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    LockModule(lock != FALSE);
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  ObjectCounter counter_;
  const ClassEntry& entry_;
};

}  // namespace

HRESULT GetClassFactory(REFCLSID clsid, REFIID riid, void** factory) {
  if (!factory) return E_POINTER;
  *factory = nullptr;
  const ClassEntry* entry = FindClass(clsid);
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
  auto* created = new (std::nothrow) ClassFactory(*entry);
  if (!created) return E_OUTOFMEMORY;
  const HRESULT hr = created->QueryInterface(riid, factory);
  created->Release();
  return hr;
}

}  // namespace velcorin
