#include "server/registration_table.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <iterator>

#include "Velcorin_h.h"
#include "common/owners.h"
#include "common/type_info.h"
#include "server/class_list.h"
#include "server/proxy_stub_clsid.h"

namespace velcorin {

namespace {

using Microsoft::WRL::ComPtr;

constexpr MarshalledInterface kInterfaces[] = {
    {&IID__Chooser, true}, {&IID__EnumFilter, true}, {&IID__Device, false},
    {&IID__Packet, false}, {&IID__DevInfo, false},
};

constexpr CLSID kProxyStubClsid = PROXY_CLSID_IS;

// The system's marshallers: the type library's for vtable interfaces (duals
// included), the dispatch-only one for pure dispinterfaces.
constexpr wchar_t kTypeLibraryMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kDispatchMarshaller[] = L"{00020420-0000-0000-C000-000000000046}";

bool UsesOwnProxyStub(REFIID iid) {
  return std::any_of(std::begin(kInterfaces), std::end(kInterfaces),
                     [&](const MarshalledInterface& itf) { return itf.ownProxyStub && IsEqualIID(*itf.iid, iid); });
}

std::wstring ProxyStubFor(TYPEKIND kind, const TYPEATTR& attr) {
  if (UsesOwnProxyStub(attr.guid)) return GuidText(kProxyStubClsid);
  return kind == TKIND_INTERFACE || (attr.wTypeFlags & TYPEFLAG_FDUAL) ? kTypeLibraryMarshaller : kDispatchMarshaller;
}

// The system registers every dispinterface (duals included) and every
// oleautomation interface; a plain interface such as _Collection is not ours to register.
HRESULT AppendInterfaceRows(ITypeLib* lib, UINT index, const registration::Library& library, registration::Rows& out) {
  TYPEKIND kind{};
  HRESULT hr = lib->GetTypeInfoType(index, &kind);
  if (FAILED(hr) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH)) return hr;
  ComPtr<ITypeInfo> info;
  if (FAILED(hr = lib->GetTypeInfo(index, &info))) return hr;
  TypeDescription<TYPEATTR> attr;
  if (FAILED(hr = DescribeType(info.Get(), attr))) return hr;
  if (kind == TKIND_INTERFACE && !(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION)) return S_OK;
  Bstr name;
  if (FAILED(hr = lib->GetDocumentation(static_cast<INT>(index), name.put(), nullptr, nullptr, nullptr))) return hr;
  registration::Merge(out, registration::InterfaceRows(
                               library, {GuidText(attr->guid), std::wstring(name.view()), ProxyStubFor(kind, *attr)}));
  return S_OK;
}

}  // namespace

std::span<const MarshalledInterface> MarshalledInterfaces() { return kInterfaces; }

const CLSID& ProxyStubClsid() { return kProxyStubClsid; }

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
  return text;
}

registration::Library DescribeLibrary(const TLIBATTR& attr) {
  registration::Library library;
  library.libid = GuidText(attr.guid);
  library.major = attr.wMajorVerNum;
  library.minor = attr.wMinorVerNum;
  library.flags = attr.wLibFlags;
  library.lcid = attr.lcid;
  library.win64 = attr.syskind == SYS_WIN64;
  return library;
}

HRESULT DescribeLibrary(ITypeLib* lib, registration::Library& out) {
  TLIBATTR* attr = nullptr;
  HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  out = DescribeLibrary(*attr);
  lib->ReleaseTLibAttr(attr);
  // As the system titles the library's entry: its help string, else its name.
  Bstr name, help;
  if (FAILED(hr = lib->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr))) return hr;
  out.title = help.get() ? help.view() : name.view();
  return S_OK;
}

registration::Rows ServerRows(std::wstring_view server, std::wstring_view libid) {
  registration::Rows rows;
#define VELCORIN_CLASS_ROWS(name, progId) \
  registration::Merge(rows, registration::ClassRows(GuidText(CLSID_##name), progId, server, libid));
  VELCORIN_CREATABLE_CLASSES(VELCORIN_CLASS_ROWS)
#undef VELCORIN_CLASS_ROWS
  registration::Merge(rows, registration::ProxyStubClassRows(GuidText(kProxyStubClsid), server));
  return rows;
}

HRESULT SystemRows(ITypeLib* lib, std::wstring_view path, std::wstring_view helpFolder, registration::Rows& out) {
  registration::Library library;
  HRESULT hr = DescribeLibrary(lib, library);
  if (FAILED(hr)) return hr;
  registration::Merge(out, registration::LibraryRows(library, path, helpFolder));
  for (UINT i = 0, count = lib->GetTypeInfoCount(); i < count; ++i)
    if (FAILED(hr = AppendInterfaceRows(lib, i, library, out))) return hr;
  return S_OK;
}

}  // namespace velcorin
