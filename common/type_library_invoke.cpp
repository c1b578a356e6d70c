#include "common/type_library_invoke.h"

#include <wrl/client.h>

#include <initializer_list>

#include "common/collection_over_dispatch.h"
#include "common/type_info.h"

namespace velcorin {

using Microsoft::WRL::ComPtr;

namespace {

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
  TypeDescription<TYPEATTR> attr;
  if (FAILED(DescribeType(ref.Get(), attr))) return false;
  iid = attr->guid;
  return attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH;
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

// What stands in for an object that lacks the interface its parameter takes.
ComPtr<IDispatch> StandInFor(REFIID iid, IUnknown* object) {
  ComPtr<IDispatch> standIn;
  if (iid == __uuidof(_Collection)) {
    if (const ComPtr<_Collection> collection = AsCollection(object)) collection.As(&standIn);
  }
  return standIn;
}

HRESULT CheckMember(ITypeInfo* info, const FUNCDESC& func, ObjectArguments& arguments, UINT* badArgument) {
  const DISPPARAMS& params = *arguments.Params();
  UINT count = static_cast<UINT>(func.cParams);
  if (count && (func.lprgelemdescParam[count - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) --count;
  for (UINT p = 0; p < count; ++p) {
    GUID iid{};
    if (!InterfaceOf(info, func.lprgelemdescParam[p].tdesc, iid)) continue;
    const int at = ArgumentIndex(params, p, count - 1);
    IUnknown* object = at < 0 ? nullptr : ObjectOf(params.rgvarg[at]);
    if (!object) continue;
    ComPtr<IUnknown> asked;
    if (SUCCEEDED(object->QueryInterface(iid, reinterpret_cast<void**>(asked.GetAddressOf())))) continue;
    const ComPtr<IDispatch> standIn = StandInFor(iid, object);
    if (!standIn) {
      if (badArgument) *badArgument = static_cast<UINT>(at);
      return DISP_E_TYPEMISMATCH;
    }
    arguments.Replace(static_cast<UINT>(at), standIn.Get());
  }
  return S_OK;
}

}  // namespace

HRESULT ObjectArguments::Check(ITypeInfo* vtable, DISPID id, WORD flags, DISPPARAMS& params, UINT* badArgument) {
  params_ = &params;
  if (!HoldsAnyObject(params)) return S_OK;
  ComPtr<ITypeInfo2> info;
  if (FAILED(vtable->QueryInterface(IID_PPV_ARGS(&info)))) return S_OK;
  for (INVOKEKIND kind : {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF}) {
    UINT index = 0;
    if (!(flags & kind) || FAILED(info->GetFuncIndexOfMemId(id, kind, &index))) continue;
    TypeDescription<FUNCDESC> func;
    if (FAILED(DescribeFunction(info.Get(), index, func))) continue;
    const HRESULT hr = CheckMember(info.Get(), *func, *this, badArgument);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void ObjectArguments::Replace(UINT index, IDispatch* standIn) {
  if (params_ != &copy_) {
    args_.assign(params_->rgvarg, params_->rgvarg + params_->cArgs);
    copy_ = *params_;
    copy_.rgvarg = args_.data();
    params_ = &copy_;
  }
  standIns_.emplace_back(standIn);
  V_VT(&args_[index]) = VT_DISPATCH;
  V_DISPATCH(&args_[index]) = standIn;
}

HRESULT TypeLibInvoke(ITypeInfo* vtable, void* object, DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result,
                      EXCEPINFO* exception, UINT* badArgument) {
  ObjectArguments arguments;
  HRESULT hr = arguments.Check(vtable, id, flags, params, badArgument);
  if (FAILED(hr)) return hr;
  DISPPARAMS* ready = arguments.Params();
  hr = vtable->Invoke(object, id, flags, ready, result, exception, badArgument);
  // Wine refuses a property-style read of a method (JScript's c.Count); callers may do that.
  if (hr == DISP_E_MEMBERNOTFOUND && flags == DISPATCH_PROPERTYGET)
    hr = vtable->Invoke(object, id, DISPATCH_METHOD, ready, result, exception, badArgument);
  return hr;
}

}  // namespace velcorin
