#include "common/dispatch_table.h"

#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

#include "common/error_info.h"
#include "common/module.h"
#include "common/owners.h"
#include "common/slot_call.h"
#include "common/type_info.h"
#include "common/type_library_invoke.h"

namespace velcorin {

using Microsoft::WRL::ComPtr;

namespace {

// A call that fails while the table is built leaves the table empty (see the constructor).
TypeDescription<TYPEATTR> AttrOf(ITypeInfo* info) {
  TypeDescription<TYPEATTR> attr;
  ThrowIfFailed(DescribeType(info, attr));
  return attr;
}

TypeDescription<TYPEATTR> AttrOfReferenced(ITypeInfo* info, HREFTYPE ref) {
  ComPtr<ITypeInfo> type;
  ThrowIfFailed(info->GetRefTypeInfo(ref, &type));
  return AttrOf(type.Get());
}

std::u16string_view View(BSTR text) { return {reinterpret_cast<const char16_t*>(text), SysStringLen(text)}; }

// The variant type the type library's Invoke hands a member for a value of
// type `type`, for the types served here: integers, truth values, strings,
// enumerations and interfaces of the library. False for any other.
bool ValueType(ITypeInfo* info, const TYPEDESC& type, DispatchTable::Param& param) {
  switch (type.vt) {
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_BOOL:
    case VT_BSTR: param.vt = type.vt; return true;
    case VT_USERDEFINED: {
      const auto attr = AttrOfReferenced(info, type.hreftype);
      if (attr->typekind != TKIND_ENUM) return false;
      param.vt = VT_I4;
      return true;
    }
    case VT_PTR: {
      if (type.lptdesc->vt != VT_USERDEFINED) return false;
      const auto attr = AttrOfReferenced(info, type.lptdesc->hreftype);
      if (attr->typekind == TKIND_DISPATCH)
        param.vt = VT_DISPATCH;
      else if (attr->typekind == TKIND_INTERFACE)
        param.vt = (attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE) ? VT_DISPATCH : VT_UNKNOWN;
      else
        return false;
      param.iid = attr->guid;
      return true;
    }
    default: return false;
  }
}

// A retval's type: a pointer to a value of the types above, or to an array of strings.
bool ResultType(ITypeInfo* info, const TYPEDESC& type, VARTYPE& vt) {
  if (type.vt != VT_PTR) return false;
  const TYPEDESC& pointee = *type.lptdesc;
  if (pointee.vt == VT_SAFEARRAY && pointee.lptdesc->vt == VT_BSTR) {
    vt = VT_ARRAY | VT_BSTR;
    return true;
  }
  DispatchTable::Param value;
  if (!ValueType(info, pointee, value)) return false;
  vt = value.vt;
  return true;
}

// Parameters in only, none optional or defaulted, an HRESULT back, at most a
// retval last; a put takes exactly its value.
bool Describe(ITypeInfo* info, const FUNCDESC& func, DispatchTable::Member& member) {
  if (func.funckind != FUNC_PUREVIRTUAL && func.funckind != FUNC_VIRTUAL) return false;
  if (!CallSlotServes(func.callconv)) return false;
  if (func.elemdescFunc.tdesc.vt != VT_HRESULT || func.cParamsOpt != 0) return false;
  const auto count = static_cast<unsigned>(func.cParams);
  for (unsigned p = 0; p < count; ++p) {
    const ELEMDESC& param = func.lprgelemdescParam[p];
    const USHORT flags = param.paramdesc.wParamFlags;
    if (flags & PARAMFLAG_FRETVAL) {
      if (p != count - 1 || !ResultType(info, param.tdesc, member.result)) return false;
      continue;
    }
    if (flags & (PARAMFLAG_FOUT | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT | PARAMFLAG_FLCID)) return false;
    DispatchTable::Param value;
    if (!ValueType(info, param.tdesc, value)) return false;
    member.params.push_back(value);
  }
  const bool put = func.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
  return (!put || member.params.size() == 1) && member.params.size() + 1 <= kMaxSlotArguments;
}

// The argument that goes with parameter `index` of a call the table serves.
const VARIANT& ArgumentFor(const DISPPARAMS& params, size_t index) { return params.rgvarg[params.cArgs - 1 - index]; }

bool HoldsObject(VARTYPE vt) {
  vt &= static_cast<VARTYPE>(~VT_BYREF);
  return vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_RECORD || vt == VT_VARIANT;
}

// One argument made ready for the call, or false when the call is left to the
// type library. Conversion is VariantChangeType's, as there; an object is
// never asked for its default value, which would run its code twice.
class Argument {
 public:
  Argument() { V_VT(&converted_) = VT_EMPTY; }
  Argument(const Argument&) = delete;
  Argument& operator=(const Argument&) = delete;
  // Most calls convert nothing: no call into the system for them.
  ~Argument() {
    if (V_VT(&converted_) != VT_EMPTY) VariantClear(&converted_);
  }

  bool Prepare(const VARIANT& given, const DispatchTable::Param& param, std::uintptr_t& word) {
    // One level of reference at most, counting a reference to a VARIANT.
    const VARIANT* value = &given;
    if (V_VT(&given) == (VT_BYREF | VT_VARIANT)) {
      value = V_VARIANTREF(&given);
      if (!value || V_ISBYREF(value)) return false;
    } else if (V_ISBYREF(&given) && !V_BYREF(&given)) {
      return false;
    }
    if (V_ISARRAY(value)) return false;
    const bool object = param.vt == VT_DISPATCH || param.vt == VT_UNKNOWN;
    if (!object && HoldsObject(V_VT(value))) return false;
    const VARIANT* ready = &given;
    if (V_VT(&given) != param.vt) {
      if (FAILED(VariantChangeType(&converted_, AsInput(given), 0, param.vt))) return false;
      ready = &converted_;
    }
    if (!object) {
      word = Word(*ready, param.vt);
      return true;
    }
    IUnknown* unknown = V_UNKNOWN(ready);
    if (unknown && FAILED(unknown->QueryInterface(param.iid, reinterpret_cast<void**>(asked_.GetAddressOf()))))
      return false;
    word = reinterpret_cast<std::uintptr_t>(asked_.Get());
    return true;
  }

 private:
  static std::uintptr_t Word(const VARIANT& v, VARTYPE vt) {
    switch (vt) {
      case VT_I2: return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(V_I2(&v)));
      case VT_UI1: return V_UI1(&v);
      case VT_BOOL: return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(V_BOOL(&v)));
      case VT_BSTR: return reinterpret_cast<std::uintptr_t>(V_BSTR(&v));
      default: return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(V_I4(&v)));
    }
  }

  VARIANT converted_;
  ComPtr<IUnknown> asked_;
};

// What the type library's Invoke reports of a member that failed.
void DescribeFailure(HRESULT hr, EXCEPINFO& exception) {
  exception.scode = hr;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK || !info) return;
  info->GetDescription(&exception.bstrDescription);
  info->GetHelpFile(&exception.bstrHelpFile);
  info->GetSource(&exception.bstrSource);
  info->GetHelpContext(&exception.dwHelpContext);
}

bool IsPut(WORD invokeKind) { return invokeKind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF); }

}  // namespace

DispatchTable::DispatchTable(REFIID iid) noexcept : iid_(iid) {
  try {
    Build();
  } catch (...) {
    // Half a table could answer differently from the type library: serve nothing.
    members_.clear();
    names_ = NameTable();
    named_.clear();
  }
}

void DispatchTable::Build() {
  ComPtr<ITypeInfo> vtable, dispatch;
  ThrowIfFailed(VtableTypeInfo(iid_, &vtable));
  ThrowIfFailed(DispatchTypeInfo(iid_, &dispatch));
  const WORD count = AttrOf(vtable.Get())->cFuncs;
  for (UINT i = 0; i < count; ++i) {
    TypeDescription<FUNCDESC> func;
    ThrowIfFailed(DescribeFunction(vtable.Get(), i, func));
    // The type library's Invoke never calls a restricted member.
    if (func->wFuncFlags & FUNCFLAG_FRESTRICTED) continue;
    Member member;
    member.id = func->memid;
    member.invokeKind = static_cast<WORD>(func->invkind);
    member.slot = static_cast<unsigned>(func->oVft / static_cast<SHORT>(sizeof(void*)));
    member.direct = Describe(vtable.Get(), *func, member);
    if (!member.direct) member.params.clear();
    members_.push_back(std::move(member));
  }
  AddNames(dispatch.Get(), dispatch.Get());
}

// Every name the interface and those it derives from declare, with the DISPID
// and parameter positions the platform gives for it.
void DispatchTable::AddNames(ITypeInfo* dispatch, ITypeInfo* declaring) {
  const auto attr = AttrOf(declaring);
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    TypeDescription<FUNCDESC> func;
    if (FAILED(DescribeFunction(declaring, i, func))) continue;  // Wine past a vtable gap
    std::array<BSTR, 16> names{};
    UINT got = 0;
    if (FAILED(declaring->GetNames(func->memid, names.data(), static_cast<UINT>(names.size()), &got))) continue;
    std::array<Bstr, 16> owned;
    for (UINT n = 0; n < got; ++n) *owned[n].put() = names[n];
    LPOLESTR name = owned[0].get();
    DISPID id = DISPID_UNKNOWN;
    if (!name || names_.Find(reinterpret_cast<const char16_t*>(name)) ||
        DispGetIDsOfNames(dispatch, &name, 1, &id) != S_OK)
      continue;
    NamedMember member;
    member.id = id;
    for (UINT n = 1; n < got; ++n) {
      std::array<LPOLESTR, 2> pair{name, owned[n].get()};
      std::array<DISPID, 2> ids{};
      if (pair[1] && DispGetIDsOfNames(dispatch, pair.data(), 2, ids.data()) == S_OK && ids[0] == id)
        member.params.Add(View(pair[1]), ids[1]);
    }
    if (names_.Add(View(name), static_cast<std::int32_t>(named_.size()))) named_.push_back(std::move(member));
  }
  for (UINT i = 0; i < attr->cImplTypes; ++i) {
    ComPtr<ITypeInfo> base;
    ThrowIfFailed(ImplementedType(declaring, i, &base));
    AddNames(dispatch, base.Get());
  }
}

HRESULT DispatchTable::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const noexcept {
  constexpr UINT kMaxNames = 8;
  const auto member = count ? names_.Find(reinterpret_cast<const char16_t*>(names[0])) : std::nullopt;
  if (!member || count > kMaxNames) return SlowGetIDsOfNames(names, count, ids);
  const NamedMember& named = named_[static_cast<size_t>(*member)];
  std::array<DISPID, kMaxNames> found{named.id};
  for (UINT n = 1; n < count; ++n) {
    const auto position = named.params.Find(reinterpret_cast<const char16_t*>(names[n]));
    if (!position) return SlowGetIDsOfNames(names, count, ids);
    found[n] = *position;
  }
  std::copy_n(found.begin(), count, ids);
  return S_OK;
}

HRESULT DispatchTable::SlowGetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const {
  ComPtr<ITypeInfo> info;
  const HRESULT hr = DispatchTypeInfo(iid_, &info);
  return SUCCEEDED(hr) ? DispGetIDsOfNames(info.Get(), names, count, ids) : hr;
}

// The member the type library's Invoke would call: the first whose kind the flags
// ask for, and for a read of a method, the method.
const DispatchTable::Member* DispatchTable::Find(DISPID id, WORD flags) const {
  for (const Member& m : members_)
    if (m.id == id && (m.invokeKind & flags)) return &m;
  return flags == DISPATCH_PROPERTYGET ? Find(id, DISPATCH_METHOD) : nullptr;
}

HRESULT DispatchTable::Invoke(void* object, DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result,
                              EXCEPINFO* exception, UINT* badArgument) const noexcept {
  constexpr WORD kServed[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                              DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF};
  const Member* member =
      std::find(std::begin(kServed), std::end(kServed), flags) != std::end(kServed) ? Find(id, flags) : nullptr;
  if (member && member->direct && params.cArgs == member->params.size()) {
    const bool put = IsPut(member->invokeKind);
    const bool namedAsCalled =
        put ? params.cNamedArgs == 1 && params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT : params.cNamedArgs == 0;
    if (namedAsCalled) {
      const HRESULT hr = CallDirect(*member, object, params, result, exception);
      if (hr != S_FALSE) return hr;
    }
  }
  ComPtr<ITypeInfo> info;
  const HRESULT hr = VtableTypeInfo(iid_, &info);
  return SUCCEEDED(hr) ? TypeLibInvoke(info.Get(), object, id, flags, params, result, exception, badArgument) : hr;
}

// S_FALSE: declined before anything happened.
HRESULT DispatchTable::CallDirect(const Member& member, void* object, const DISPPARAMS& params, VARIANT* result,
                                  EXCEPINFO* exception) const {
  std::array<Argument, kMaxSlotArguments> arguments;
  std::array<std::uintptr_t, kMaxSlotArguments> words{};
  const size_t count = member.params.size();
  for (size_t p = 0; p < count; ++p)
    if (!arguments[p].Prepare(ArgumentFor(params, p), member.params[p], words[p])) return S_FALSE;
  VARIANT retval{};
  const bool hasResult = member.result != VT_EMPTY;
  if (hasResult) words[count] = reinterpret_cast<std::uintptr_t>(&V_I4(&retval));
  const HRESULT hr = CallSlot(object, member.slot, words.data(), static_cast<unsigned>(count + hasResult));
  if (hasResult) {
    V_VT(&retval) = member.result;
    if (result) {
      *result = retval;  // the type library's Invoke overwrites without clearing, and so do we
    } else {
      VariantClear(&retval);
    }
  }
  if (SUCCEEDED(hr)) return S_OK;
  if (exception) DescribeFailure(hr, *exception);
  return DISP_E_EXCEPTION;
}

}  // namespace velcorin
