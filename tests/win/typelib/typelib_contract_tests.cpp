// Compares the published type library, as a .tlb file and as embedded in the
// DLL, with the contract in published_contract.h.
//
// Usage: typelib_contract_tests [gtest flags] [library.tlb [Velcorin.dll]]

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "msft_file.h"
#include "published_contract.h"
#include "published_order.h"
#include "typeinfo_util.h"

using namespace velcorin::tlb;
using velcorin::Bstr;
using namespace velcorin::contract;

namespace {

std::wstring g_tlbPath = VELCORIN_TLB_FILE;
std::wstring g_dllPath = VELCORIN_DLL_FILE;

// Both builds are checked from a process of their own bitness, whose vtables
// the library describes: SYS_WIN64 and 8-byte slots in the 64-bit one.
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
constexpr int kSlot = sizeof(void*);

constexpr WORD kDualFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return n && n < MAX_PATH ? full : path;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

// A type's name, marked when it lives in another library than ours.
std::wstring UserTypeName(ITypeInfo* owner, HREFTYPE href) {
  const auto ref = RefType(owner, href);
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  Check(ref->GetContainingTypeLib(&lib, &index), "GetContainingTypeLib");
  TLIBATTR* attr = nullptr;
  Check(lib->GetLibAttr(&attr), "GetLibAttr");
  const bool ours = GuidText(attr->guid) == kLibId;
  lib->ReleaseTLibAttr(attr);
  return NameOf(ref.Get()) + (ours ? L"" : L"@elsewhere");
}

std::wstring Spell(ITypeInfo* owner, const TYPEDESC& d) {
  switch (d.vt) {
    case VT_PTR: return Spell(owner, *d.lptdesc) + L"*";
    case VT_SAFEARRAY: return L"SAFEARRAY(" + Spell(owner, *d.lptdesc) + L")";
    case VT_USERDEFINED: return UserTypeName(owner, d.hreftype);
    case VT_I4: return L"long";
    case VT_BSTR: return L"BSTR";
    case VT_BOOL: return L"VARIANT_BOOL";
    case VT_VARIANT: return L"VARIANT";
    case VT_UNKNOWN: return L"IUnknown*";
    case VT_HRESULT: return L"HRESULT";
    default: return L"vt" + std::to_wstring(d.vt);
  }
}

std::wstring Wide(const std::u16string& s) { return {s.begin(), s.end()}; }

UINT IndexOf(const wchar_t* name) {
  const auto it = std::find_if(std::begin(kPublishedOrder), std::end(kPublishedOrder),
                               [&](const wchar_t* n) { return std::wstring(n) == name; });
  return static_cast<UINT>(it - std::begin(kPublishedOrder));
}

struct ModuleCloser {
  void operator()(HMODULE m) const { FreeLibrary(m); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleCloser>;

Module LoadAsData(const std::wstring& path) {
  return Module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

std::vector<std::uint8_t> ResourceBytes(HMODULE module, HRSRC resource) {
  const HGLOBAL loaded = LoadResource(module, resource);
  const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
  if (!data) throw std::runtime_error("TYPELIB resource unreadable");
  return {data, data + SizeofResource(module, resource)};
}

std::vector<std::uint8_t> EmbeddedLibrary(const std::wstring& dll) {
  const Module module = LoadAsData(dll);
  if (!module) throw std::runtime_error("cannot open the DLL");
  const HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(1), L"TYPELIB");
  if (!resource) throw std::runtime_error("no TYPELIB 1 resource");
  return ResourceBytes(module.get(), resource);
}

// What ITypeComp::Bind found for a name and invoke kind; freed when it goes.
class Binding {
 public:
  Binding(ITypeInfo* info, const wchar_t* name, WORD flags) {
    ComPtr<ITypeComp> comp;
    Check(info->GetTypeComp(&comp), "GetTypeComp");
    std::wstring text(name);
    hr_ = comp->Bind(text.data(), LHashValOfNameSys(kSysKind, 0x409, name), flags, &found_, &kind_, &ptr_);
  }
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;
  ~Binding() {
    if (FAILED(hr_)) return;
    if (kind_ == DESCKIND_FUNCDESC) found_->ReleaseFuncDesc(ptr_.lpfuncdesc);
    if (kind_ == DESCKIND_VARDESC || kind_ == DESCKIND_IMPLICITAPPOBJ) found_->ReleaseVarDesc(ptr_.lpvardesc);
    if (kind_ == DESCKIND_TYPECOMP && ptr_.lptcomp) ptr_.lptcomp->Release();
  }
  const FUNCDESC* Func() const { return SUCCEEDED(hr_) && kind_ == DESCKIND_FUNCDESC ? ptr_.lpfuncdesc : nullptr; }
  const VARDESC* Var() const { return SUCCEEDED(hr_) && kind_ == DESCKIND_VARDESC ? ptr_.lpvardesc : nullptr; }

 private:
  HRESULT hr_ = E_FAIL;
  ComPtr<ITypeInfo> found_;
  DESCKIND kind_ = DESCKIND_NONE;
  BINDPTR ptr_{};
};

enum class Source { TlbFile, Dll };

class TypeLibContract : public testing::TestWithParam<Source> {
 protected:
  void SetUp() override {
    path_ = FullPath(GetParam() == Source::TlbFile ? g_tlbPath : g_dllPath);
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(path_.c_str(), REGKIND_NONE, &lib_));
  }

  ComPtr<ITypeInfo> Type(const wchar_t* name) const {
    ComPtr<ITypeInfo> info;
    Check(lib_->GetTypeInfo(IndexOf(name), &info), "GetTypeInfo");
    return info;
  }

  ComPtr<ITypeInfo> VtableHalf(const wchar_t* name) const { return VtableHalfOf(Type(name).Get()); }

  MsftFile Stored() const {
    return MsftFile(GetParam() == Source::TlbFile ? ReadFileBytes(path_) : EmbeddedLibrary(path_));
  }

  void CheckInterface(const Interface& want) const;
  void CheckMember(ITypeInfo* body, UINT index, const Member& want, const StoredFunction& stored) const;

  std::wstring path_;
  ComPtr<ITypeLib> lib_;
};

void ExpectIDispatchBase(ITypeInfo* info) {
  const auto base = ImplType(info, 0);
  EXPECT_EQ(NameOf(base.Get()), L"IDispatch");
  EXPECT_EQ(GuidText(GetAttr(base.Get())->guid), GuidText(IID_IDispatch));
}

void ExpectIdentity(const TYPEATTR& a, const wchar_t* guid, WORD major, WORD minor) {
  EXPECT_EQ(GuidText(a.guid), guid);
  EXPECT_EQ(a.wMajorVerNum, major);
  EXPECT_EQ(a.wMinorVerNum, minor);
  EXPECT_EQ(a.lcid, 0u);  // the library's own, neutral
}

TEST_P(TypeLibContract, LibraryIdentity) {
  TLIBATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetLibAttr(&attr));
  const TLIBATTR a = *attr;
  lib_->ReleaseTLibAttr(attr);
  EXPECT_EQ(GuidText(a.guid), kLibId);
  EXPECT_EQ(a.lcid, 0u);  // registered as neutral
  EXPECT_EQ(Stored().namesLocale(), 0x409);
  EXPECT_EQ(Stored().libraryLocale(), 0);
  EXPECT_EQ(a.syskind, kSysKind);
  EXPECT_EQ(a.wMajorVerNum, 48);
  EXPECT_EQ(a.wMinorVerNum, 0);
  EXPECT_EQ(a.wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0) << "the loader may add only 'has disk image'";
  EXPECT_EQ(Stored().libraryFlags(), 0);

  Bstr name, doc, helpFile;
  DWORD helpContext = 1;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetDocumentation(-1, name.put(), doc.put(), &helpContext, helpFile.put()));
  EXPECT_EQ(std::wstring(name.view()), kLibName);
  EXPECT_EQ(std::wstring(doc.view()), kLibHelp);
  EXPECT_EQ(helpContext, 0u);
  EXPECT_EQ(helpFile.get(), nullptr);
}

TEST_P(TypeLibContract, TypesInPublishedOrder) {
  ASSERT_EQ(lib_->GetTypeInfoCount(), std::size(kPublishedOrder));
  for (UINT i = 0; i < std::size(kPublishedOrder); ++i) {
    Bstr name, doc;
    DWORD helpContext = 1;
    ASSERT_HRESULT_SUCCEEDED(lib_->GetDocumentation(i, name.put(), doc.put(), &helpContext, nullptr));
    EXPECT_EQ(std::wstring(name.view()), kPublishedOrder[i]) << "index " << i;
    EXPECT_EQ(doc.get(), nullptr) << "index " << i;
    EXPECT_EQ(helpContext, 0u);
  }
}

void TypeLibContract::CheckInterface(const Interface& want) const {
  SCOPED_TRACE(testing::Message() << want.name);
  const auto info = Type(want.name);
  ComPtr<ITypeInfo> body = info;
  if (want.dual) {
    const auto a = GetAttr(info.Get());
    EXPECT_EQ(a->typekind, TKIND_DISPATCH);
    EXPECT_EQ(a->wTypeFlags, kDualFlags);
    EXPECT_EQ(a->cbSizeVft, 7 * kSlot);
    EXPECT_EQ(a->cImplTypes, 1);
    EXPECT_EQ(a->cVars, 0);
    ExpectIdentity(*a, want.iid, 1, 0);
    ExpectIDispatchBase(info.Get());
    body = ImplType(info.Get(), static_cast<UINT>(-1));
    EXPECT_EQ(GetAttr(ImplType(body.Get(), static_cast<UINT>(-1)).Get())->typekind, TKIND_DISPATCH);
  }
  const auto b = GetAttr(body.Get());
  EXPECT_EQ(b->typekind, TKIND_INTERFACE);
  EXPECT_EQ(b->wTypeFlags,
            want.dual ? kDualFlags | TYPEFLAG_FOLEAUTOMATION : TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(b->cbSizeVft, want.slots * kSlot);
  EXPECT_EQ(Stored().vtableSize(IndexOf(want.name)), want.slots * kSlot) << "as saved";
  EXPECT_EQ(b->cImplTypes, 1);
  EXPECT_EQ(b->cVars, 0);
  ExpectIdentity(*b, want.iid, want.dual ? 1 : 0, 0);
  ExpectIDispatchBase(body.Get());

  ASSERT_EQ(b->cFuncs, want.members.size());
  const auto stored = Stored().functions(IndexOf(want.name));
  ASSERT_EQ(stored.size(), want.members.size());
  for (UINT i = 0; i < want.members.size(); ++i) CheckMember(body.Get(), i, want.members[i], stored[i]);
}

std::vector<std::wstring> NamesThroughApi(ITypeInfo* info, MEMBERID memid) {
  BSTR raw[16] = {};
  UINT count = 0;
  Check(info->GetNames(memid, raw, 16, &count), "GetNames");
  std::vector<std::wstring> names;
  for (UINT i = 0; i < count; ++i) {
    names.emplace_back(raw[i], SysStringLen(raw[i]));
    SysFreeString(raw[i]);
  }
  return names;
}

void TypeLibContract::CheckMember(ITypeInfo* body, UINT index, const Member& want, const StoredFunction& stored) const {
  SCOPED_TRACE(testing::Message() << "slot " << want.slot);
  const auto f = GetFunc(body, index);
  EXPECT_EQ(f->memid, want.id);
  EXPECT_EQ(f->invkind, want.kind);
  EXPECT_EQ(f->oVft, want.slot * kSlot);
  EXPECT_EQ(stored.vtableOffset, want.slot * kSlot) << "as saved";
  EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
  EXPECT_EQ(f->callconv, CC_STDCALL);
  EXPECT_EQ(f->wFuncFlags, 0);
  EXPECT_EQ(Spell(body, f->elemdescFunc.tdesc), L"HRESULT");
  EXPECT_EQ(NameOf(body, f->memid), want.name);
  ASSERT_EQ(f->cParams, static_cast<SHORT>(want.args.size()));
  EXPECT_EQ(f->cParamsOpt,
            std::count_if(want.args.begin(), want.args.end(), [](const Arg& a) { return a.flags & PARAMFLAG_FOPT; }));
  std::vector<std::wstring> expectedNames{want.name};
  for (SHORT p = 0; p < f->cParams; ++p) {
    const ELEMDESC& e = f->lprgelemdescParam[p];
    EXPECT_EQ(Spell(body, e.tdesc), want.args[p].type) << "parameter " << p;
    EXPECT_EQ(e.paramdesc.wParamFlags, want.args[p].flags) << "parameter " << p;
    expectedNames.push_back(want.args[p].name);
  }
  // A put's names are out of GetNames' reach (it answers for the get of the
  // same DISPID), so every member's names are also read from the file itself.
  std::vector<std::wstring> storedNames{want.name};
  for (const auto& p : stored.params) storedNames.push_back(p.name ? Wide(*p.name) : L"<unnamed>");
  EXPECT_EQ(stored.memid, want.id);
  EXPECT_EQ(stored.invkind, want.kind);
  EXPECT_EQ(storedNames, expectedNames);
  if (want.kind == INVOKE_FUNC || want.kind == INVOKE_PROPERTYGET) {
    EXPECT_EQ(NamesThroughApi(body, want.id), expectedNames);
  }
}

TEST_P(TypeLibContract, Interfaces) {
  for (const auto& want : Interfaces()) CheckInterface(want);
}

TEST_P(TypeLibContract, ClassesAreCreatableWithTheirDefaultInterface) {
  for (const auto& want : Classes()) {
    SCOPED_TRACE(testing::Message() << want.name);
    const auto info = Type(want.name);
    const auto a = GetAttr(info.Get());
    EXPECT_EQ(a->typekind, TKIND_COCLASS);
    EXPECT_EQ(a->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(a->cFuncs, 0);
    EXPECT_EQ(a->cVars, 0);
    ExpectIdentity(*a, want.clsid, 1, 0);
    ASSERT_EQ(a->cImplTypes, 1);
    INT implFlags = 0;
    ASSERT_HRESULT_SUCCEEDED(info->GetImplTypeFlags(0, &implFlags));
    EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
    const auto impl = ImplType(info.Get(), 0);
    EXPECT_EQ(NameOf(impl.Get()), want.defaultInterface);
    EXPECT_EQ(IndexInLibrary(impl.Get()), IndexOf(want.defaultInterface));
  }
}

TEST_P(TypeLibContract, EnumerationsAreLongConstantsNamedInTheirHelp) {
  for (const auto& want : Enumerations()) {
    SCOPED_TRACE(testing::Message() << want.name);
    const auto info = Type(want.name);
    const auto a = GetAttr(info.Get());
    EXPECT_EQ(a->typekind, TKIND_ENUM);
    EXPECT_EQ(a->wTypeFlags, 0);
    EXPECT_EQ(a->cFuncs, 0);
    EXPECT_EQ(a->cImplTypes, 0);
    EXPECT_EQ(a->cbSizeInstance, 4u);
    ExpectIdentity(*a, want.guid, 1, 0);
    ASSERT_EQ(a->cVars, want.constants.size());
    for (UINT i = 0; i < want.constants.size(); ++i) {
      const auto v = GetVar(info.Get(), i);
      EXPECT_EQ(v->varkind, VAR_CONST);
      EXPECT_EQ(v->elemdescVar.tdesc.vt, VT_I4);
      EXPECT_EQ(v->wVarFlags, 0);
      ASSERT_NE(v->lpvarValue, nullptr);
      EXPECT_EQ(V_VT(v->lpvarValue), VT_I4);
      EXPECT_EQ(V_I4(v->lpvarValue), want.constants[i].value);
      Bstr name, doc;
      ASSERT_HRESULT_SUCCEEDED(info->GetDocumentation(v->memid, name.put(), doc.put(), nullptr, nullptr));
      EXPECT_EQ(std::wstring(name.view()), want.constants[i].name);
      EXPECT_EQ(std::wstring(doc.view()), want.constants[i].name);
    }
  }
}

TEST_P(TypeLibContract, ConstantsResolveByNameThroughTheLibrary) {
  ComPtr<ITypeComp> comp;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetTypeComp(&comp));
  for (const auto& [name, value] : {std::pair{L"CmdSave", 12}, {L"CmdRevert", 15}, {L"TypeRead", 1}}) {
    std::wstring text(name);
    ComPtr<ITypeInfo> found;
    DESCKIND kind = DESCKIND_NONE;
    BINDPTR ptr{};
    ASSERT_HRESULT_SUCCEEDED(comp->Bind(text.data(), LHashValOfNameSys(kSysKind, 0x409, name), 0, &found, &kind, &ptr));
    ASSERT_EQ(kind, DESCKIND_VARDESC);
    EXPECT_EQ(V_I4(ptr.lpvardesc->lpvarValue), value);
    found->ReleaseVarDesc(ptr.lpvardesc);
  }
}

TEST_P(TypeLibContract, OpTypeEnumHasNoZero) {
  const auto info = Type(L"OpTypeEnum");
  for (UINT i = 0; i < GetAttr(info.Get())->cVars; ++i) EXPECT_NE(V_I4(GetVar(info.Get(), i)->lpvarValue), 0);
}

TEST_P(TypeLibContract, ReadOnlyPropertiesHaveNoPut) {
  const std::pair<const wchar_t*, const wchar_t*> readOnly[] = {{L"_Device", L"DeviceInfo"},
                                                                {L"_Device", L"IsDeviceOpen"},
                                                                {L"_Chooser", L"DevicePath"},
                                                                {L"_Chooser", L"IsDeviceSelected"}};
  for (const auto& [type, member] : readOnly) {
    for (const auto& info : {Type(type), VtableHalf(type)}) {
      EXPECT_NE(Binding(info.Get(), member, INVOKE_PROPERTYGET).Func(), nullptr) << "get " << member;
      EXPECT_EQ(Binding(info.Get(), member, INVOKE_PROPERTYPUT).Func(), nullptr) << "put " << member;
      EXPECT_EQ(Binding(info.Get(), member, INVOKE_PROPERTYPUTREF).Func(), nullptr) << "putref " << member;
    }
  }
}

TEST_P(TypeLibContract, CollectionPropertiesArePutByReferenceOnly) {
  const std::tuple<const wchar_t*, const wchar_t*, SHORT> collections[] = {{L"_Chooser", L"Filter", 9 * kSlot},
                                                                           {L"_EnumFilter", L"Tokens", 13 * kSlot}};
  for (const auto& [type, member, slotOffset] : collections) {
    const auto body = VtableHalf(type);
    EXPECT_EQ(Binding(body.Get(), member, INVOKE_PROPERTYPUT).Func(), nullptr) << member;
    EXPECT_EQ(Binding(Type(type).Get(), member, INVOKE_PROPERTYPUT).Func(), nullptr) << member;
    const Binding putRef(body.Get(), member, INVOKE_PROPERTYPUTREF);
    ASSERT_NE(putRef.Func(), nullptr) << member;
    EXPECT_EQ(putRef.Func()->oVft, slotOffset);
    EXPECT_EQ(Spell(body.Get(), putRef.Func()->lprgelemdescParam[0].tdesc), L"_Collection*");
  }
}

TEST_P(TypeLibContract, NamesMapToDispidsAndParameterPositions) {
  struct Call {
    const wchar_t* type;
    std::vector<const wchar_t*> names;
    std::vector<MEMBERID> ids;
  };
  const Call calls[] = {
      {L"_Device", {L"IsDeviceOpen"}, {0x68030000}},
      {L"_Device", {L"CloseDev"}, {0x60030002}},
      {L"_Device", {L"EnterCalMode", L"Passwd"}, {0x60030003, 0}},
      {L"_Device", {L"EnumDevices", L"outList", L"Filter"}, {0x60030004, 0, 1}},
      {L"_Device", {L"OpenDev", L"DevPath"}, {0x60030006, 0}},
      {L"_Device", {L"WriteDev", L"Pkt"}, {0x60030009, 0}},
      {L"_Chooser", {L"Filter"}, {0x40030003}},
      {L"_DevInfo", {L"ChannelNames"}, {0x68030000}},
  };
  for (const auto& call : calls) {
    for (const auto& info : {Type(call.type), VtableHalf(call.type)}) {
      std::vector<LPOLESTR> names;
      for (const wchar_t* n : call.names) names.push_back(const_cast<LPOLESTR>(n));
      std::vector<MEMBERID> ids(names.size(), 0);
      ASSERT_HRESULT_SUCCEEDED(info->GetIDsOfNames(names.data(), static_cast<UINT>(names.size()), ids.data()))
          << call.names[0];
      EXPECT_EQ(ids, call.ids) << call.names[0];
    }
  }
  for (const auto& want : Interfaces())
    for (const auto& member : want.members) {
      LPOLESTR name = const_cast<LPOLESTR>(member.name);
      MEMBERID id = 0;
      ASSERT_HRESULT_SUCCEEDED(Type(want.name)->GetIDsOfNames(&name, 1, &id));
      EXPECT_EQ(id, member.id);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, TypeLibContract, testing::Values(Source::TlbFile, Source::Dll),
                         [](const testing::TestParamInfo<Source>& info) {
                           return info.param == Source::TlbFile ? "TlbFile" : "Dll";
                         });

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

TEST(EmbeddedTypeLib, IsTheBuiltLibraryAsALanguageNeutralResource) {
  const std::wstring dll = FullPath(g_dllPath);
  ASSERT_TRUE(Exists(dll));
  const Module module = LoadAsData(dll);
  ASSERT_TRUE(module);
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module.get(), L"TYPELIB", MAKEINTRESOURCEW(1), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, std::vector<WORD>{MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)});
  EXPECT_EQ(EmbeddedLibrary(dll), ReadFileBytes(FullPath(g_tlbPath)));
}

std::wstring Widen(const char* text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc > 1) g_tlbPath = Widen(argv[1]);
  if (argc > 2) g_dllPath = Widen(argv[2]);
  if (FAILED(CoInitialize(nullptr))) return 2;
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
