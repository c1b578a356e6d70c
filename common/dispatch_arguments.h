// Late binding through the type library's Invoke, with the checks on a call's
// arguments that it needs first.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oaidl.h>

namespace velcorin {

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

// Refuses (DISP_E_TYPEMISMATCH, the argument's index in *badArgument) an object
// argument that lacks the interface its parameter takes. Wine's ITypeInfo::Invoke
// refuses it too, but keeps a reference to it when it came by reference or as
// IUnknown, so the caller's object would never be freed.
HRESULT CheckObjectArguments(ITypeInfo* vtable, DISPID id, WORD flags, const DISPPARAMS& params, UINT* badArgument);

// The type library's Invoke on `object` (the interface `vtable` describes), after
// those checks; params is well formed.
HRESULT TypeLibInvoke(ITypeInfo* vtable, void* object, DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result,
                      EXCEPINFO* exception, UINT* badArgument);

}  // namespace velcorin
