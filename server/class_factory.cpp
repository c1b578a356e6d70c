#include "server/class_factory.h"

#include "common/com_object.h"
#include "common/error_info.h"

namespace velcorin {

namespace {

class ClassFactory final : public ComObject<IClassFactory> {
 public:
  explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
      return entry_.create()->QueryInterface(riid, object);
    } catch (...) {
      return CaughtException();
    }
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    LockModule(lock != FALSE);
    return S_OK;
  }

 private:
  const ClassEntry& entry_;
};

}  // namespace

HRESULT GetClassFactory(REFCLSID clsid, REFIID riid, void** factory) {
  if (!factory) return E_POINTER;
  *factory = nullptr;
  const ClassEntry* entry = FindClass(clsid);
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return MakeObject<ClassFactory>(*entry)->QueryInterface(riid, factory);
  } catch (...) {
    return CaughtException();
  }
}

}  // namespace velcorin
