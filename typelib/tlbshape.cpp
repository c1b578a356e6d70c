// tlbshape <raw.tlb> <out.tlb>
//
// Rebuilds the library widl made into the published one, for the bitness the
// tool itself is built for (SYS_WIN32 or SYS_WIN64; slot offsets and vtable
// sizes in that bitness's pointer size): the types in their
// published order, dual interfaces without the put-by-value slot that only
// the C++ vtable keeps, enum constants as 32-bit integers carrying their own
// names as help strings. Two things the type-library writer cannot express
// are patched into the saved file and verified by loading it back: the
// vtable size of an interface with an undescribed slot (the writer sizes it
// one slot short) and the name of a put's value parameter.

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <exception>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "msft_file.h"
#include "published_order.h"
#include "typeinfo_util.h"

namespace velcorin::tlb {
namespace {

constexpr std::int32_t kEnumSize = sizeof(LONG);

// Every put's value parameter carries the name every retval has.
constexpr char16_t kValueParameterName[] = u"RHS";

constexpr INVOKEKIND kAnyPut = static_cast<INVOKEKIND>(INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);

// The library describes the vtables of the process it runs in; so does this tool.
constexpr SYSKIND kTargetSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

struct Fail : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class ComApartment {
 public:
  ComApartment() { Check(CoInitialize(nullptr), "CoInitialize"); }
  ~ComApartment() { CoUninitialize(); }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
};

std::wstring FullPath(const wchar_t* path) {
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH) throw Fail("bad path: " + Narrow(path));
  return full;
}

// One type as widl wrote it and as it is being rebuilt.
struct TypePair {
  std::wstring name;
  ComPtr<ITypeInfo> source;      // as loaded: a dual interface's dispatch half
  ComPtr<ITypeInfo> sourceBody;  // what to copy from: a dual's vtable half
  ComPtr<ICreateTypeInfo2> target;
  TYPEKIND kind;
};

bool IsDual(const TYPEATTR& a) { return a.typekind == TKIND_DISPATCH && (a.wTypeFlags & TYPEFLAG_FDUAL); }

class Shaper {
 public:
  Shaper(const std::wstring& sourcePath, const std::wstring& targetPath) : sourceFile_(ReadFileBytes(sourcePath)) {
    Check(LoadTypeLibEx(sourcePath.c_str(), REGKIND_NONE, &source_), "LoadTypeLibEx(source)");
    DeleteFileW(targetPath.c_str());
    Check(CreateTypeLib2(kTargetSysKind, targetPath.c_str(), &target_), "CreateTypeLib2");
  }

  // Builds and saves the library; returns the vtable size each interface must have.
  std::map<std::wstring, WORD> Run() {
    CopyLibraryAttributes();
    CreateTypes();
    for (auto& t : types_) FillType(t);
    for (auto& t : types_) Check(t.target->LayOut(), "LayOut");
    Check(target_->SaveAllChanges(), "SaveAllChanges");
    std::map<std::wstring, WORD> vtableSizes;
    for (auto& t : types_)
      if (t.kind == TKIND_INTERFACE) vtableSizes[t.name] = VtableSize(t.sourceBody.Get());
    return vtableSizes;
  }

  // The loader gives slot offsets in this process's pointer size, the unit
  // the target library uses too; the last slot ends the vtable.
  static WORD VtableSize(ITypeInfo* info) {
    const auto attr = GetAttr(info);
    SHORT last = 0;
    for (UINT i = 0; i < attr->cFuncs; ++i) last = std::max(last, GetFunc(info, i)->oVft);
    return static_cast<WORD>(last + sizeof(void*));
  }

 private:
  void CopyLibraryAttributes() {
    TLIBATTR* attr = nullptr;
    Check(source_->GetLibAttr(&attr), "GetLibAttr");
    const TLIBATTR a = *attr;
    source_->ReleaseTLibAttr(attr);
    libid_ = a.guid;
    Bstr name, doc;
    Check(source_->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), "GetDocumentation(lib)");
    Check(target_->SetName(name.get()), "SetName");
    Check(target_->SetDocString(doc.get()), "SetDocString");
    Check(target_->SetGuid(a.guid), "SetGuid");
    // Neutral: registered as locale 0. The names stay US English (the saved
    // header keeps 0x409 as their locale when the library's is 0).
    Check(target_->SetLcid(LOCALE_NEUTRAL), "SetLcid");
    Check(target_->SetVersion(a.wMajorVerNum, a.wMinorVerNum), "SetVersion");
    Check(target_->SetLibFlags(0), "SetLibFlags");
  }

  // All type infos exist before any refers to another, so the order of
  // creation alone fixes the published order.
  void CreateTypes() {
    if (source_->GetTypeInfoCount() != std::size(kPublishedOrder))
      throw Fail("source library does not hold exactly the published types");
    for (const wchar_t* name : kPublishedOrder) types_.push_back(CreateType(name));
  }

  TypePair CreateType(const wchar_t* name) {
    TypePair t{name, FindSource(name), nullptr, nullptr, TKIND_MAX};
    const auto attr = GetAttr(t.source.Get());
    t.kind = IsDual(*attr) ? TKIND_INTERFACE : attr->typekind;
    t.sourceBody = VtableHalfOf(t.source.Get());
    ComPtr<ICreateTypeInfo> created;
    Check(target_->CreateTypeInfo(const_cast<LPOLESTR>(name), t.kind, &created), "CreateTypeInfo");
    Check(created.As(&t.target), "QueryInterface(ICreateTypeInfo2)");
    return t;
  }

  ComPtr<ITypeInfo> FindSource(const wchar_t* name) const {
    for (UINT i = 0; i < source_->GetTypeInfoCount(); ++i) {
      Bstr found;
      Check(source_->GetDocumentation(static_cast<INT>(i), found.put(), nullptr, nullptr, nullptr), "GetDocumentation");
      if (found.view() == name) {
        ComPtr<ITypeInfo> info;
        Check(source_->GetTypeInfo(i, &info), "GetTypeInfo");
        return info;
      }
    }
    throw Fail("source library lacks " + Narrow(name));
  }

  void FillType(const TypePair& t) {
    const auto attr = GetAttr(t.sourceBody.Get());
    // "Dispatchable" is derived from the base interface, never set.
    const WORD flags = attr->wTypeFlags & ~TYPEFLAG_FDISPATCHABLE;
    Check(t.target->SetGuid(attr->guid), "SetGuid");
    Check(t.target->SetVersion(attr->wMajorVerNum, attr->wMinorVerNum), "SetVersion");
    Check(t.target->SetTypeFlags(flags), "SetTypeFlags");
    Check(t.target->SetAlignment(attr->cbAlignment), "SetAlignment");
    CopyDocString(t);
    if (t.kind == TKIND_INTERFACE) FillInterface(t, *attr);
    if (t.kind == TKIND_COCLASS) FillClass(t, *attr);
    if (t.kind == TKIND_ENUM) FillEnum(t, *attr);
    // Wine marks a class "dispatchable" when it adds its interface; a class
    // is only creatable. (An interface on IDispatch rightly keeps it.)
    if (t.kind == TKIND_COCLASS) Check(t.target->SetTypeFlags(flags), "SetTypeFlags");
  }

  void CopyDocString(const TypePair& t) {
    Bstr doc;
    Check(t.source->GetDocumentation(MEMBERID_NIL, nullptr, doc.put(), nullptr, nullptr), "GetDocumentation");
    if (doc.get()) Check(t.target->SetDocString(doc.get()), "SetDocString");
  }

  void FillInterface(const TypePair& t, const TYPEATTR& attr) {
    if (attr.cImplTypes != 1) throw Fail(Narrow(t.name) + ": expected one base interface");
    HREFTYPE base = MapRef(t.sourceBody.Get(), BaseRef(t.sourceBody.Get()), t.target.Get());
    Check(t.target->AddImplType(0, base), "AddImplType");
    CopyFunctions(t, attr);
  }

  static HREFTYPE BaseRef(ITypeInfo* info) {
    HREFTYPE href = 0;
    Check(info->GetRefTypeOfImplType(0, &href), "GetRefTypeOfImplType");
    return href;
  }

  void FillClass(const TypePair& t, const TYPEATTR& attr) {
    for (UINT i = 0; i < attr.cImplTypes; ++i) {
      HREFTYPE href = 0;
      INT implFlags = 0;
      Check(t.sourceBody->GetRefTypeOfImplType(i, &href), "GetRefTypeOfImplType");
      Check(t.sourceBody->GetImplTypeFlags(i, &implFlags), "GetImplTypeFlags");
      Check(t.target->AddImplType(i, MapRef(t.sourceBody.Get(), href, t.target.Get())), "AddImplType");
      Check(t.target->SetImplTypeFlags(i, implFlags), "SetImplTypeFlags");
    }
  }

  void FillEnum(const TypePair& t, const TYPEATTR& attr) {
    for (UINT i = 0; i < attr.cVars; ++i) {
      const auto source = GetVar(t.sourceBody.Get(), i);
      if (source->varkind != VAR_CONST || !source->lpvarValue) throw Fail(Narrow(t.name) + ": not a constant");
      VARIANT value;
      VariantInit(&value);
      Check(VariantChangeType(&value, source->lpvarValue, 0, VT_I4), "VariantChangeType");
      VARDESC v{};
      v.memid = source->memid;
      v.lpvarValue = &value;
      v.elemdescVar.tdesc.vt = VT_I4;  // widl writes VT_INT
      v.wVarFlags = source->wVarFlags;
      v.varkind = VAR_CONST;
      const std::wstring name = NameOf(t.sourceBody.Get(), source->memid);
      Check(t.target->AddVarDesc(i, &v), "AddVarDesc");
      Check(t.target->SetVarName(i, const_cast<LPOLESTR>(name.c_str())), "SetVarName");
      Check(t.target->SetVarDocString(i, const_cast<LPOLESTR>(name.c_str())), "SetVarDocString");
    }
  }

  // A put by value that has a put by reference beside it holds a slot only
  // the C++ vtable needs; it stays out of the library.
  static bool IsUndescribedSlot(ITypeInfo* info, const TYPEATTR& attr, const FUNCDESC& f) {
    if (f.invkind != INVOKE_PROPERTYPUT) return false;
    for (UINT i = 0; i < attr.cFuncs; ++i) {
      const auto other = GetFunc(info, i);
      if (other->memid == f.memid && other->invkind == INVOKE_PROPERTYPUTREF) return true;
    }
    return false;
  }

  void CopyFunctions(const TypePair& t, const TYPEATTR& attr) {
    const auto stored = sourceFile_.functions(IndexInLibrary(t.sourceBody.Get()));
    UINT next = 0;
    for (UINT i = 0; i < attr.cFuncs; ++i) {
      const auto f = GetFunc(t.sourceBody.Get(), i);
      if (IsUndescribedSlot(t.sourceBody.Get(), attr, *f)) continue;
      AddFunction(t, next, *f, StoredNames(t, stored, *f));
      ++next;
    }
  }

  // The member's name, then every parameter name the writer accepts: all but
  // a put's value parameter, which is named after saving.
  std::vector<std::wstring> StoredNames(const TypePair& t, const std::vector<StoredFunction>& stored,
                                        const FUNCDESC& f) const {
    for (const auto& s : stored) {
      if (s.memid != f.memid || s.invkind != f.invkind) continue;
      std::vector<std::wstring> names{NameOf(t.sourceBody.Get(), f.memid)};
      const bool isPut = (f.invkind & kAnyPut) != 0;
      for (std::size_t p = 0; p < s.params.size(); ++p) {
        if (isPut && p + 1 == s.params.size()) break;
        if (!s.params[p].name) throw Fail(Narrow(t.name) + ": unnamed parameter");
        names.emplace_back(s.params[p].name->begin(), s.params[p].name->end());
      }
      return names;
    }
    throw Fail(Narrow(t.name) + ": member missing from the source file");
  }

  void AddFunction(const TypePair& t, UINT index, const FUNCDESC& source, const std::vector<std::wstring>& names) {
    std::deque<TYPEDESC> arena;
    std::vector<ELEMDESC> params(source.lprgelemdescParam, source.lprgelemdescParam + source.cParams);
    for (auto& p : params) {
      if (p.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) throw Fail(Narrow(t.name) + ": default values unsupported");
      p.tdesc = CopyTypeDesc(t, p.tdesc, arena);
      p.paramdesc.pparamdescex = nullptr;
    }
    FUNCDESC f = source;
    f.lprgscode = nullptr;
    f.cScodes = 0;
    f.lprgelemdescParam = params.empty() ? nullptr : params.data();
    f.elemdescFunc.tdesc = CopyTypeDesc(t, source.elemdescFunc.tdesc, arena);
    f.elemdescFunc.paramdesc = {};
    Check(t.target->AddFuncDesc(index, &f), "AddFuncDesc");
    std::vector<LPOLESTR> raw;
    raw.reserve(names.size());
    for (const auto& n : names) raw.push_back(const_cast<LPOLESTR>(n.c_str()));
    Check(t.target->SetFuncAndParamNames(index, raw.data(), static_cast<UINT>(raw.size())), "SetFuncAndParamNames");
  }

  TYPEDESC CopyTypeDesc(const TypePair& t, const TYPEDESC& d, std::deque<TYPEDESC>& arena) {
    TYPEDESC out = d;
    if (d.vt == VT_PTR || d.vt == VT_SAFEARRAY) out.lptdesc = &arena.emplace_back(CopyTypeDesc(t, *d.lptdesc, arena));
    if (d.vt == VT_USERDEFINED) out.hreftype = MapRef(t.sourceBody.Get(), d.hreftype, t.target.Get());
    if (d.vt == VT_CARRAY) throw Fail(Narrow(t.name) + ": fixed arrays unsupported");
    return out;
  }

  // A reference into the source library becomes one to the rebuilt type of
  // the same name; anything imported (IDispatch) is referred to as it is.
  HREFTYPE MapRef(ITypeInfo* from, HREFTYPE href, ICreateTypeInfo2* into) {
    ComPtr<ITypeInfo> ref = RefType(from, href);
    if (IsInSource(ref.Get())) ref = TargetInfo(NameOf(ref.Get()));
    HREFTYPE mapped = 0;
    Check(into->AddRefTypeInfo(ref.Get(), &mapped), "AddRefTypeInfo");
    return mapped;
  }

  bool IsInSource(ITypeInfo* info) const {
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    Check(info->GetContainingTypeLib(&lib, &index), "GetContainingTypeLib");
    TLIBATTR* attr = nullptr;
    Check(lib->GetLibAttr(&attr), "GetLibAttr");
    const bool same = IsEqualGUID(attr->guid, libid_);
    lib->ReleaseTLibAttr(attr);
    return same;
  }

  ComPtr<ITypeInfo> TargetInfo(const std::wstring& name) const {
    for (const auto& t : types_) {
      if (t.name != name) continue;
      ComPtr<ITypeInfo> info;
      Check(t.target.As(&info), "QueryInterface(ITypeInfo)");
      return info;
    }
    throw Fail("no rebuilt type named " + Narrow(name));
  }

  MsftFile sourceFile_;
  ComPtr<ITypeLib> source_;
  ComPtr<ICreateTypeLib2> target_;
  GUID libid_{};
  std::vector<TypePair> types_;
};

std::size_t PublishedIndex(const std::wstring& name) {
  for (std::size_t i = 0; i < std::size(kPublishedOrder); ++i)
    if (name == kPublishedOrder[i]) return i;
  throw Fail("unknown type " + Narrow(name));
}

void NameValueParameters(MsftFile& file, std::size_t type) {
  const auto functions = file.functions(type);
  for (std::size_t f = 0; f < functions.size(); ++f) {
    const auto& fn = functions[f];
    if (!(fn.invkind & kAnyPut) || fn.params.empty() || fn.params.back().nameOffset != -1) continue;
    const auto name = file.findParameterName(kValueParameterName);
    if (!name) throw Fail("no parameter name to give a put's value");
    file.setParameterNameOffset(type, f, fn.params.size() - 1, *name);
  }
}

void Patch(const std::wstring& path, const std::map<std::wstring, WORD>& vtableSizes) {
  MsftFile file(ReadFileBytes(path));
  for (const auto& [name, size] : vtableSizes) {
    const std::size_t type = PublishedIndex(name);
    if (file.vtableSize(type) != size) file.setVtableSize(type, size);
    NameValueParameters(file, type);
  }
  // The writer sizes an enumeration like a pointer; its values are 32-bit on every platform.
  for (std::size_t type = 0; type < file.typeCount(); ++type)
    if (file.typeKind(type) == TKIND_ENUM && file.instanceSize(type) != kEnumSize)
      file.setInstanceSize(type, kEnumSize);
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.bytes().data()), static_cast<std::streamsize>(file.bytes().size()));
  if (!out.flush()) throw Fail("cannot write the library");
}

void Verify(const std::wstring& path, const std::map<std::wstring, WORD>& vtableSizes) {
  ComPtr<ITypeLib> lib;
  Check(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib), "LoadTypeLibEx(result)");
  if (lib->GetTypeInfoCount() != std::size(kPublishedOrder)) throw Fail("result has the wrong number of types");
  for (const auto& [name, size] : vtableSizes) {
    ComPtr<ITypeInfo> info;
    Check(lib->GetTypeInfo(static_cast<UINT>(PublishedIndex(name)), &info), "GetTypeInfo");
    if (GetAttr(VtableHalfOf(info.Get()).Get())->cbSizeVft != size) throw Fail(Narrow(name) + ": vtable size wrong");
  }
  for (UINT type = 0; type < lib->GetTypeInfoCount(); ++type) {
    ComPtr<ITypeInfo> info;
    Check(lib->GetTypeInfo(type, &info), "GetTypeInfo");
    const auto attr = GetAttr(info.Get());
    if (attr->typekind == TKIND_ENUM && attr->cbSizeInstance != kEnumSize) throw Fail("enumeration size wrong");
  }
  MsftFile file(ReadFileBytes(path));
  for (const auto& entry : vtableSizes)
    for (const auto& fn : file.functions(PublishedIndex(entry.first)))
      for (const auto& p : fn.params)
        if (!p.name) throw Fail(Narrow(entry.first) + ": a parameter is unnamed");
}

int Shape(const wchar_t* sourceArg, const wchar_t* targetArg) {
  const std::wstring source = FullPath(sourceArg), target = FullPath(targetArg);
  try {
    ComApartment com;
    std::map<std::wstring, WORD> vtableSizes;
    {
      Shaper shaper(source, target);
      vtableSizes = shaper.Run();
    }
    Patch(target, vtableSizes);
    Verify(target, vtableSizes);
    return 0;
  } catch (const std::exception& e) {
    DeleteFileW(target.c_str());  // never leave a half-made library for the build to embed
    std::fprintf(stderr, "tlbshape: %s\n", e.what());
    return 1;
  }
}

}  // namespace
}  // namespace velcorin::tlb

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tlbshape <raw.tlb> <out.tlb>\n");
    return 2;
  }
  try {
    return velcorin::tlb::Shape(argv[1], argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tlbshape: %s\n", e.what());
    return 1;
  }
}
