// Late binding through the type library's Invoke, with the checks on a call's
// arguments that it needs first.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oaidl.h>
#include <wrl/client.h>

#include <vector>

namespace velcorin {

using Microsoft::WRL::ComPtr;

// An argument list the type library's Invoke can walk without reading through
// a null pointer or past the end of an array.
inline bool IsWellFormed(const DISPPARAMS& params) {
  return (params.cArgs == 0 || params.rgvarg) && (params.cNamedArgs == 0 || params.rgdispidNamedArgs) &&
         params.cNamedArgs <= params.cArgs;
}

// A null name is a caller's mistake like a null array of names.
inline bool AllNamesPresent(LPOLESTR* names, UINT count) {
  for (UINT i = 0; i < count; ++i)
    if (!names[i]) return false;
  return true;
}

// The arguments the type library's Invoke gets: the caller's, except that a
// collection answering IDispatch but not _Collection (one from another
// apartment, or a script's own) is passed as a stand-in that answers it.
class ObjectArguments {
 public:
  // Refuses (DISP_E_TYPEMISMATCH, the argument's index in *badArgument) an
  // object argument that lacks the interface its parameter takes. Wine's
  // ITypeInfo::Invoke refuses it too, but keeps a reference to it when it came
  // by reference or as IUnknown, so the caller's object would never be freed.
  HRESULT Check(ITypeInfo* vtable, DISPID id, WORD flags, DISPPARAMS& params, UINT* badArgument);
  // The caller's list, or a copy with the stand-ins in place.
  DISPPARAMS* Params() { return params_; }

  void Replace(UINT index, IDispatch* standIn);

 private:
  DISPPARAMS* params_ = nullptr;
  DISPPARAMS copy_{};
  std::vector<VARIANT> args_;  // the caller's, not owned, apart from the stand-ins
  std::vector<ComPtr<IDispatch>> standIns_;
};

// The type library's Invoke on `object` (the interface `vtable` describes), after
// those checks; params is well formed.
HRESULT TypeLibInvoke(ITypeInfo* vtable, void* object, DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result,
                      EXCEPINFO* exception, UINT* badArgument);

}  // namespace velcorin
