#include "invoke_sweep.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <set>
#include <sstream>
#include <tuple>

#include "common/type_info.h"
#include "common/type_library_invoke.h"

namespace sweep {

std::string Hex(HRESULT hr) {
  std::ostringstream text;
  text << "0x" << std::hex << static_cast<unsigned long>(hr);
  return text.str();
}

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

bool Dumping() { return std::getenv("VELCORIN_SWEEP_DUMP") != nullptr; }

ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

VARIANT Typed(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = vt;
  return v;
}

BSTR Text(const std::wstring& text) { return SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); }

SAFEARRAY* Strings(std::vector<std::wstring> items, LONG lower) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, lower, static_cast<ULONG>(items.size()));
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    LONG index = lower + i;
    BSTR item = Text(items[static_cast<size_t>(i)]);
    SafeArrayPutElement(array, &index, item);
    SysFreeString(item);
  }
  return array;
}

SAFEARRAY* StringMatrix() {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 1}};
  SAFEARRAY* array = SafeArrayCreate(VT_BSTR, 2, bounds);
  for (LONG r = 1; r <= 2; ++r)
    for (LONG c = 1; c <= 3; ++c) {
      LONG index[2] = {r, c};
      BSTR item = Text(L"cell");
      SafeArrayPutElement(array, index, item);
      SysFreeString(item);
    }
  return array;
}

SAFEARRAY* Longs() {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 1, 3);
  for (LONG i = 1; i <= 3; ++i) SafeArrayPutElement(array, &i, &i);
  return array;
}

SAFEARRAY* VariantsOfText() {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  for (LONG i = 1; i <= 2; ++i) {
    VARIANT item = Str(L"channel");
    SafeArrayPutElement(array, &i, &item);
    VariantClear(&item);
  }
  return array;
}

Objects::Objects() {
  collection = NewCollection();
  ComPtr<_Collection> items;
  collection.As(&items);
  items->_NewEnum(&plainUnknown);
}

ComPtr<IDispatch> Objects::NewCollection() {
  auto owner = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ComPtr<_Collection> list;
  owner->get_Filter(&list);
  ComPtr<IDispatch> dispatch;
  list.As(&dispatch);
  return dispatch;
}

std::vector<IUnknown*> Objects::All() const {
  return {packet.Get(), devInfo.Get(), enumFilter.Get(), chooser.Get(), collection.Get(), plainUnknown.Get()};
}

VARIANT Unknown(IUnknown* object) {
  VARIANT v = Typed(VT_UNKNOWN);
  V_UNKNOWN(&v) = object;
  if (object) object->AddRef();
  return v;
}

VARIANT Array(VARTYPE element, SAFEARRAY* array) {
  VARIANT v = Typed(VT_ARRAY | element);
  V_ARRAY(&v) = array;
  return v;
}

std::vector<Sample> Samples(const Objects& o) {
  const std::wstring million(1000000, L'x');
  const std::wstring embedded(L"ab\0cd\0\0", 7);
  DECIMAL big{};
  VarDecFromR8(7.9e27, &big);
  CY money{};
  money.int64 = std::numeric_limits<LONGLONG>::min();
  return {
      {"Empty", [] { return Typed(VT_EMPTY); }},
      {"Null", [] { return Typed(VT_NULL); }},
      Scalar("I1", VT_I1, static_cast<CHAR>(-128), [](VARIANT& v, CHAR x) { V_I1(&v) = x; }),
      Scalar("UI1", VT_UI1, static_cast<BYTE>(255), [](VARIANT& v, BYTE x) { V_UI1(&v) = x; }),
      Scalar("I2", VT_I2, static_cast<SHORT>(-32768), [](VARIANT& v, SHORT x) { V_I2(&v) = x; }),
      Scalar("UI2", VT_UI2, static_cast<USHORT>(65535), [](VARIANT& v, USHORT x) { V_UI2(&v) = x; }),
      Scalar("I4 min", VT_I4, std::numeric_limits<LONG>::min(), [](VARIANT& v, LONG x) { V_I4(&v) = x; }),
      Scalar("I4 max", VT_I4, std::numeric_limits<LONG>::max(), [](VARIANT& v, LONG x) { V_I4(&v) = x; }),
      Scalar("UI4 max", VT_UI4, std::numeric_limits<ULONG>::max(), [](VARIANT& v, ULONG x) { V_UI4(&v) = x; }),
      Scalar("I8", VT_I8, LONGLONG{1} << 40, [](VARIANT& v, LONGLONG x) { V_I8(&v) = x; }),
      Scalar("UI8", VT_UI8, std::numeric_limits<ULONGLONG>::max(), [](VARIANT& v, ULONGLONG x) { V_UI8(&v) = x; }),
      Scalar("INT", VT_INT, -7, [](VARIANT& v, INT x) { V_INT(&v) = x; }),
      Scalar("UINT", VT_UINT, 7u, [](VARIANT& v, UINT x) { V_UINT(&v) = x; }),
      Scalar("R4", VT_R4, 3.4e38f, [](VARIANT& v, FLOAT x) { V_R4(&v) = x; }),
      Scalar("R8 huge", VT_R8, 1e300, [](VARIANT& v, DOUBLE x) { V_R8(&v) = x; }),
      Scalar("R8 NaN", VT_R8, std::nan(""), [](VARIANT& v, DOUBLE x) { V_R8(&v) = x; }),
      Scalar("R8 2.5", VT_R8, 2.5, [](VARIANT& v, DOUBLE x) { V_R8(&v) = x; }),
      Scalar("CY", VT_CY, money, [](VARIANT& v, CY x) { V_CY(&v) = x; }),
      Scalar("DATE", VT_DATE, 2958465.99, [](VARIANT& v, DATE x) { V_DATE(&v) = x; }),
      Scalar("BOOL", VT_BOOL, VARIANT_TRUE, [](VARIANT& v, VARIANT_BOOL x) { V_BOOL(&v) = x; }),
      Scalar("DECIMAL", VT_DECIMAL, big,
             [](VARIANT& v, DECIMAL x) {
               V_DECIMAL(&v) = x;
               V_VT(&v) = VT_DECIMAL;  // the decimal overlays the type field
             }),
      Scalar("ERROR missing", VT_ERROR, DISP_E_PARAMNOTFOUND, [](VARIANT& v, SCODE x) { V_ERROR(&v) = x; }),
      Scalar("ERROR fail", VT_ERROR, E_FAIL, [](VARIANT& v, SCODE x) { V_ERROR(&v) = x; }),
      {"BSTR null", [] { return Typed(VT_BSTR); }},
      {"BSTR empty", [] { return Str(L""); }},
      {"BSTR number", [] { return Str(L" 12 "); }},
      {"BSTR text", [] { return Str(L"abc"); }},
      {"BSTR million",
       [million] {
         VARIANT v = Typed(VT_BSTR);
         V_BSTR(&v) = Text(million);
         return v;
       }},
      {"BSTR embedded nul",
       [embedded] {
         VARIANT v = Typed(VT_BSTR);
         V_BSTR(&v) = Text(embedded);
         return v;
       }},
      {"DISPATCH null", [] { return Obj(nullptr); }},
      {"DISPATCH Packet", [&o] { return Obj(o.packet.Get()); }},
      {"DISPATCH DevInfo", [&o] { return Obj(o.devInfo.Get()); }},
      {"DISPATCH EnumFilter", [&o] { return Obj(o.enumFilter.Get()); }},
      {"DISPATCH Chooser", [&o] { return Obj(o.chooser.Get()); }},
      {"DISPATCH Collection", [&o] { return Obj(o.collection.Get()); }},
      {"UNKNOWN null", [] { return Unknown(nullptr); }},
      {"UNKNOWN Packet", [&o] { return Unknown(o.packet.Get()); }},
      {"UNKNOWN not dispatch", [&o] { return Unknown(o.plainUnknown.Get()); }},
      {"ARRAY BSTR",
       [] {
         return Array(VT_BSTR, Strings({L"one", L"two"}));
       }},
      {"ARRAY BSTR from 0", [] { return Array(VT_BSTR, Strings({L"zero"}, 0)); }},
      {"ARRAY BSTR empty", [] { return Array(VT_BSTR, Strings({})); }},
      {"ARRAY BSTR null", [] { return Array(VT_BSTR, nullptr); }},
      {"ARRAY BSTR 2-D", [] { return Array(VT_BSTR, StringMatrix()); }},
      {"ARRAY I4", [] { return Array(VT_I4, Longs()); }},
      {"ARRAY VARIANT", [] { return Array(VT_VARIANT, VariantsOfText()); }},
  };
}

const char* Name(Form form) { return form == Form::Value ? "" : form == Form::Ref ? " byref" : " variant-ref"; }

Arg::Arg(VARIANT value, Form form) : value_(std::make_unique<VARIANT>(value)) {
  VariantInit(&passed_);
  switch (form) {
    case Form::Value: passed_ = *value_; break;
    case Form::Ref:
      V_VT(&passed_) = VT_BYREF | V_VT(value_.get());
      V_BYREF(&passed_) = V_VT(value_.get()) == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(value_.get()))
                                                           : static_cast<void*>(&V_UI1(value_.get()));
      break;
    case Form::VariantRef:
      V_VT(&passed_) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&passed_) = value_.get();
      break;
  }
}

// ---------------------------------------------------------------------------
// The members, as the type library describes them.

Kind InterfaceKind(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return Kind::Unknown;
  Kind kind = Kind::Unknown;
  if (attr->typekind == TKIND_ENUM) kind = Kind::Long;
  if (IsEqualGUID(attr->guid, __uuidof(_Packet))) kind = Kind::Packet;
  if (IsEqualGUID(attr->guid, __uuidof(_Collection))) kind = Kind::Collection;
  info->ReleaseTypeAttr(attr);
  return kind;
}

Kind KindOf(ITypeInfo* info, const TYPEDESC& type) {
  switch (type.vt) {
    case VT_I4:
    case VT_INT: return Kind::Long;
    case VT_BSTR: return Kind::Text;
    case VT_VARIANT: return Kind::Variant;
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> ref;
      if (FAILED(info->GetRefTypeInfo(type.hreftype, &ref))) return Kind::Unknown;
      return InterfaceKind(ref.Get());
    }
    case VT_PTR:
      if (type.lptdesc->vt == VT_SAFEARRAY) return Kind::Names;
      if (type.lptdesc->vt == VT_VARIANT) return Kind::Variant;
      if (type.lptdesc->vt == VT_USERDEFINED) return KindOf(info, *type.lptdesc);
      return Kind::Unknown;
    default: return Kind::Unknown;
  }
}

std::vector<Member> MembersOf(IDispatch* object) {
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  const WORD count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  std::vector<Member> members;
  std::set<std::pair<MEMBERID, INVOKEKIND>> seen;  // Wine repeats the last member past a vtable gap
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(i, &func))) continue;
    // IUnknown's and IDispatch's own members are restricted: not for automation callers.
    const bool inherited = (func->wFuncFlags & FUNCFLAG_FRESTRICTED) != 0;
    if (!inherited && seen.insert({func->memid, func->invkind}).second) {
      Member m;
      m.id = func->memid;
      m.invoke = func->invkind;
      BSTR name = nullptr;
      info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr);
      m.name = name ? name : L"?";
      SysFreeString(name);
      for (SHORT p = 0; p < func->cParams; ++p) {
        const ELEMDESC& param = func->lprgelemdescParam[p];
        if (param.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) continue;
        m.params.push_back(KindOf(info.Get(), param.tdesc));
        if (!(param.paramdesc.wParamFlags & PARAMFLAG_FOPT)) m.required = m.params.size();
      }
      members.push_back(m);
    }
    info->ReleaseFuncDesc(func);
  }
  return members;
}

// ---------------------------------------------------------------------------
// One Invoke and what came of it.

ComPtr<ITypeInfo> VtableHalf(IDispatch* object) {
  ComPtr<ITypeInfo> info, half;
  object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
  velcorin::VtableHalf(info.Get(), &half);
  return half;
}

Invoker TypeLibraryWay(IDispatch* object) {
  ComPtr<ITypeInfo> info = VtableHalf(object);
  ComPtr<IUnknown> itf;
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  object->QueryInterface(attr->guid, reinterpret_cast<void**>(itf.GetAddressOf()));
  info->ReleaseTypeAttr(attr);
  return [info, itf](DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* e, UINT* arg) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    SetErrorInfo(0, nullptr);
    DISPPARAMS none{};
    if (!params) params = &none;
    if (!velcorin::IsWellFormed(*params)) return E_INVALIDARG;
    return velcorin::TypeLibInvoke(info.Get(), itf.Get(), id, flags, *params, result, e, arg);
  };
}

void Perform(IDispatch* object, const Request& r, Outcome& out, const Invoker& invoke) {
  std::vector<VARIANT> reversed(r.args.rbegin(), r.args.rend());
  std::vector<DISPID> named(r.named.rbegin(), r.named.rend());
  if (named.empty() && (r.flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && !reversed.empty())
    named.push_back(DISPID_PROPERTYPUT);
  DISPPARAMS params{reversed.data(), named.data(), static_cast<UINT>(reversed.size()), static_cast<UINT>(named.size())};
  if (r.badNamedCount) params.cNamedArgs = params.cArgs + 2;
  if (r.nullArgs) params.rgvarg = nullptr;
  if (r.nullNamed) params.rgdispidNamedArgs = nullptr;
  EXCEPINFO exception{};
  DISPPARAMS* given = r.noParams ? nullptr : &params;
  VARIANT* result = r.noResult ? nullptr : &out.result;
  EXCEPINFO* e = r.noException ? nullptr : &exception;
  UINT* argErr = r.noArgErr ? nullptr : &out.argErr;
  out.hr = invoke ? invoke(r.id, r.riid, r.flags, given, result, e, argErr)
                  : object->Invoke(r.id, r.riid, LOCALE_USER_DEFAULT, r.flags, given, result, e, argErr);
  if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
  out.scode = exception.scode ? exception.scode : exception.wCode ? kErr(exception.wCode) : S_OK;
  if (exception.bstrSource) out.source = exception.bstrSource;
  if (exception.bstrDescription) out.description = exception.bstrDescription;
  // Without EXCEPINFO the error info stays with the thread, where the caller finds it.
  if (r.noException && out.hr == DISP_E_EXCEPTION) {
    std::tie(out.source, out.description) = TakeErrorInfo();
    out.scode = out.description.empty() ? S_OK : kErr(0);
  }
  out.left = TakeErrorInfo();
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
}

std::string Describe(const VARIANT& v) {
  std::string text = std::to_string(V_VT(&v)) + ":";
  if (V_VT(&v) == VT_BSTR)
    return text + std::to_string(SysStringLen(V_BSTR(&v))) + ":" + Narrow(V_BSTR(&v) ? V_BSTR(&v) : L"");
  if (V_VT(&v) == VT_DISPATCH || V_VT(&v) == VT_UNKNOWN) return text + (V_UNKNOWN(&v) ? "object" : "null");
  if (V_VT(&v) == (VT_ARRAY | VT_BSTR)) {
    SAFEARRAY* array = V_ARRAY(&v);
    LONG low = 0, high = -1;
    if (array) SafeArrayGetLBound(array, 1, &low), SafeArrayGetUBound(array, 1, &high);
    for (LONG i = low; i <= high; ++i) {
      BSTR item = nullptr;
      SafeArrayGetElement(array, &i, &item);
      text += "[" + Narrow(item ? item : L"") + "]";
      SysFreeString(item);
    }
    return text + std::to_string(low);
  }
  VARIANT copy;
  VariantInit(&copy);
  if (SUCCEEDED(VariantChangeType(&copy, const_cast<VARIANT*>(&v), 0, VT_BSTR))) text += Narrow(V_BSTR(&copy));
  VariantClear(&copy);
  return text;
}

std::string Summary(const Outcome& o) {
  return Hex(o.hr) + " " + Hex(o.scode) + " [" + Narrow(o.source) + "] [" + Narrow(o.description) + "] left [" +
         Narrow(o.left.first) + "|" + Narrow(o.left.second) + "] arg " + std::to_string(o.argErr) + " result " +
         Describe(o.result);
}

bool IsOurs(HRESULT hr) { return (static_cast<unsigned long>(hr) & 0xFFFF0000u) == 0x800A0000u; }

::testing::AssertionResult Defined(const Outcome& o) {
  static const std::set<HRESULT> refusals = {DISP_E_MEMBERNOTFOUND,   DISP_E_PARAMNOTFOUND, DISP_E_TYPEMISMATCH,
                                             DISP_E_UNKNOWNNAME,      DISP_E_NONAMEDARGS,   DISP_E_BADVARTYPE,
                                             DISP_E_OVERFLOW,         DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL,
                                             DISP_E_UNKNOWNINTERFACE, DISP_E_BADCALLEE,     DISP_E_NOTACOLLECTION,
                                             E_NOINTERFACE,           E_INVALIDARG,         E_POINTER};
  if (o.hr == S_OK || refusals.count(o.hr)) return ::testing::AssertionSuccess();
  if (o.hr != DISP_E_EXCEPTION) return ::testing::AssertionFailure() << "unexpected HRESULT " << Hex(o.hr);
  if (!FAILED(o.scode)) return ::testing::AssertionFailure() << "exception without a failing code";
  if (IsOurs(o.scode) && (o.description.empty() || o.source.empty()))
    return ::testing::AssertionFailure() << "our error " << Hex(o.scode) << " without its description or source";
  if (!IsOurs(o.scode) && !refusals.count(o.scode))
    return ::testing::AssertionFailure() << "exception with unexpected code " << Hex(o.scode);
  return ::testing::AssertionSuccess();
}

// The refcounts of every object the samples hand out, to show that no call kept or dropped a reference.
std::vector<ULONG> Counts(const Objects& o) {
  std::vector<ULONG> counts;
  for (IUnknown* object : o.All()) counts.push_back(RefCount(object));
  return counts;
}

// ---------------------------------------------------------------------------
// The sweep of one object.

namespace {

// Good arguments of each kind: what a careful caller passes.
Sample GoodSample(Kind kind, const Objects& o) {
  switch (kind) {
    case Kind::Long: return {"good", [] { return I4(1); }};
    case Kind::Text: return {"good", [] { return Str(L"x"); }};
    case Kind::Packet: return {"good", [&o] { return Obj(o.packet.Get()); }};
    case Kind::Collection: return {"good", [] { return Obj(Objects::NewCollection().Get()); }};
    case Kind::Names: return {"good", [] { return Array(VT_BSTR, Strings({L"a", L"b"})); }};
    default: return {"good", [] { return I4(1); }};
  }
}
Form GoodForm(Kind kind) { return kind == Kind::Names ? Form::Ref : Form::Value; }

class Sweeper {
 public:
  Sweeper(Target& target, const Objects& objects) : target_(target), objects_(objects), samples_(Samples(objects)) {}

  void Run() {
    const std::vector<Member> members = MembersOf(target_.object.Get());
    ASSERT_FALSE(members.empty());
    for (const Member& m : members)
      if (m.invoke == INVOKE_PROPERTYGET && m.params.empty()) readable_.push_back(m.id);
    for (const Member& m : members) {
      for (Kind k : m.params) ASSERT_NE(k, Kind::Unknown) << target_.name << "." << m.Label() << ": new parameter type";
      if (ShowsDialog(m)) {
        ExtraArguments(m);
        continue;
      }
      FlagCombinations(m);
      WrongTypes(m);
      MissingAndExtraArguments(m);
      NamedArguments(m);
      NullPointers(m);
      WrongInterface(m);
    }
    UnknownMembers();
  }
  int calls() const { return calls_; }

 private:
  static bool ShowsDialog(const Member& m) { return m.name == L"ShowDialog"; }

  std::vector<Arg> GoodArgs(const Member& m, size_t count) const {
    std::vector<Arg> args;
    for (size_t i = 0; i < count; ++i) {
      Kind kind = i < m.params.size() ? m.params[i] : Kind::Long;
      args.emplace_back(GoodSample(kind, objects_), i < m.params.size() ? GoodForm(kind) : Form::Value);
    }
    return args;
  }

  void Call(const Member& m, Request r, const std::vector<Arg>& args, const std::string& what) {
    r.id = m.id;
    for (const Arg& a : args) r.args.push_back(a.passed());
    target_.prepare(m);
    const std::string context = target_.name + "." + m.Label() + " " + what;
    if (Dumping()) std::cout << context << std::flush;
    Outcome o;
    const std::vector<ULONG> before = Counts(objects_);
    Perform(target_.object.Get(), r, o);
    ++calls_;
    EXPECT_TRUE(Defined(o)) << context;
    // A refused call keeps no reference to anything it was given (a put that succeeds stores one).
    if (FAILED(o.hr)) {
      EXPECT_EQ(Counts(objects_), before) << context << ": a reference kept or dropped";
    }
    if (target_.twin) {
      Outcome slow;
      Perform(target_.twin.Get(), r, slow, typeLibraryWay_);
      if (SystemRefusesArrayByValue(r, o, slow)) {  // the next by-reference put evens the twins out
        target_.restore();
        return;
      }
      EXPECT_EQ(Summary(o), Summary(slow)) << context << ": the type library's way ends otherwise";
      EXPECT_EQ(State(target_.object.Get()), State(target_.twin.Get())) << context << ": the twins differ";
    }
    if (Dumping()) std::cout << " -> " << Hex(o.hr) << (o.hr == DISP_E_EXCEPTION ? " " + Hex(o.scode) : "") << "\n";
    target_.restore();
  }

  // Wine's 64-bit type-library Invoke refuses an array passed by value for an
  // in/out array parameter (E_INVALIDARG), which its 32-bit one and ours take.
  static bool SystemRefusesArrayByValue(const Request& r, const Outcome& ours, const Outcome& system) {
    const bool arrayByValue = std::any_of(
        r.args.begin(), r.args.end(), [](const VARIANT& v) { return (V_VT(&v) & (VT_ARRAY | VT_BYREF)) == VT_ARRAY; });
    return sizeof(void*) == 8 && arrayByValue && system.hr == E_INVALIDARG && ours.hr == S_OK;
  }

  void FlagCombinations(const Member& m) {
    for (WORD flags : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0x10, 0xFFFF}) {
      Request r;
      r.flags = flags;
      Call(m, r, GoodArgs(m, m.params.size()), "flags " + std::to_string(flags));
    }
  }

  void WrongTypes(const Member& m) {
    for (size_t position = 0; position < m.params.size(); ++position)
      for (const Sample& sample : samples_)
        for (Form form : kForms) {
          std::vector<Arg> args = GoodArgs(m, m.params.size());
          args[position] = Arg(sample, form);
          Request r;
          r.flags = m.Flags();
          Call(m, r, args, "arg " + std::to_string(position + 1) + " = " + sample.name + Name(form));
        }
  }

  void MissingAndExtraArguments(const Member& m) {
    for (size_t count = 0; count < m.required; ++count) {
      Request r;
      r.flags = m.Flags();
      Call(m, r, GoodArgs(m, count), std::to_string(count) + " arguments");
    }
    ExtraArguments(m);
  }

  void ExtraArguments(const Member& m) {
    for (size_t extra : {1u, 4u}) {
      Request r;
      r.flags = m.Flags();
      Call(m, r, GoodArgs(m, m.params.size() + extra), std::to_string(extra) + " extra arguments");
    }
  }

  void NamedArguments(const Member& m) {
    const size_t n = m.params.size();
    struct Case {
      const char* what;
      std::vector<DISPID> named;
      size_t args;
    };
    std::vector<Case> cases = {
        {"named 12345", {12345}, n ? n : 1},
        {"named -1", {DISPID_UNKNOWN}, n ? n : 1},
        {"named propput", {DISPID_PROPERTYPUT}, n ? n : 1},
        {"named twice 0", {0, 0}, n > 1 ? n : 2},
    };
    for (const Case& c : cases) {
      Request r;
      r.flags = m.Flags();
      r.named = c.named;
      Call(m, r, GoodArgs(m, c.args), c.what);
    }
    Request tooMany;
    tooMany.flags = m.Flags();
    tooMany.badNamedCount = true;
    tooMany.named = {0};
    Call(m, tooMany, GoodArgs(m, n), "more named than arguments");
  }

  void NullPointers(const Member& m) {
    const size_t n = m.params.size();
    struct Case {
      const char* what;
      void (*set)(Request&);
    } cases[] = {
        {"no DISPPARAMS", [](Request& r) { r.noParams = true; }},
        {"no result", [](Request& r) { r.noResult = true; }},
        {"no EXCEPINFO", [](Request& r) { r.noException = true; }},
        {"no argument error", [](Request& r) { r.noArgErr = true; }},
        {"nothing at all", [](Request& r) { r.noParams = r.noResult = r.noException = r.noArgErr = true; }},
        {"null argument array", [](Request& r) { r.nullArgs = true; }},
        {"null name array",
         [](Request& r) {
           r.nullNamed = true;
           r.named = {0};
         }},
    };
    for (const Case& c : cases) {
      Request r;
      r.flags = m.Flags();
      c.set(r);
      Call(m, r, GoodArgs(m, n ? n : (r.nullArgs ? 1 : 0)), c.what);
    }
    // A type mismatch with nowhere to say which argument.
    if (n) {
      std::vector<Arg> args = GoodArgs(m, n);
      args[0] = Arg(Array(VT_I4, Longs()), Form::Value);
      Request r;
      r.flags = m.Flags();
      r.noArgErr = r.noException = true;
      Call(m, r, args, "mismatch, no argument error");
    }
  }

  void WrongInterface(const Member& m) {
    for (const IID& riid : {IID_IDispatch, IID_IUnknown, __uuidof(_Device)}) {
      Request r;
      r.flags = m.Flags();
      r.riid = riid;
      target_.prepare(m);
      Outcome o;
      r.id = m.id;
      std::vector<Arg> args = GoodArgs(m, m.params.size());
      for (const Arg& a : args) r.args.push_back(a.passed());
      Perform(target_.object.Get(), r, o);
      ++calls_;
      EXPECT_EQ(o.hr, DISP_E_UNKNOWNINTERFACE) << target_.name << "." << m.Label();
      target_.restore();
    }
  }

  void UnknownMembers() {
    for (DISPID id : {DISPID_UNKNOWN, DISPID_VALUE, DISPID_NEWENUM, 0x7FFFFFFF, 0x60030099, 0x40039999}) {
      if (target_.name == "Collection" && (id == DISPID_VALUE || id == DISPID_NEWENUM)) continue;
      for (WORD flags : {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT}) {
        Request r;
        r.id = id;
        r.flags = flags;
        VARIANT one = I4(1);
        if (flags == DISPATCH_PROPERTYPUT) r.args.push_back(one);
        Outcome o;
        Perform(target_.object.Get(), r, o);
        ++calls_;
        EXPECT_EQ(o.hr, DISP_E_MEMBERNOTFOUND) << target_.name << " DISPID " << Hex(id) << " flags " << flags;
      }
    }
  }

  // What every property read without arguments returns.
  std::string State(IDispatch* object) const {
    const Invoker read = TypeLibraryWay(object);
    std::string state;
    for (DISPID id : readable_) {
      Request r;
      r.id = id;
      r.flags = DISPATCH_PROPERTYGET;
      Outcome o;
      Perform(object, r, o, read);
      state += Describe(o.result) + ";";
    }
    return state;
  }

  Target& target_;
  const Objects& objects_;
  std::vector<Sample> samples_;
  Invoker typeLibraryWay_ = target_.twin ? TypeLibraryWay(target_.twin.Get()) : nullptr;
  std::vector<DISPID> readable_;
  int calls_ = 0;
};

}  // namespace

int Sweep(Target& target, const Objects& objects) {
  Sweeper sweeper(target, objects);
  sweeper.Run();
  return sweeper.calls();
}

}  // namespace sweep
