#include "server/core/registry_rows.h"

#include <algorithm>
#include <cstdio>

namespace velcorin::registration {

namespace {

std::wstring Hex(unsigned long value) {
  wchar_t text[16];
  std::swprintf(text, std::size(text), L"%lx", value);
  return text;
}

std::wstring Joined(std::wstring_view a, std::wstring_view b) {
  std::wstring key(a);
  return key.append(L"\\").append(b);
}

}  // namespace

std::wstring VersionKey(const Library& library) {
  return Joined(Joined(L"TypeLib", library.libid), Hex(library.major) + L"." + Hex(library.minor));
}

std::wstring PlatformKey(const Library& library) {
  return Joined(Joined(VersionKey(library), Hex(library.lcid)), library.win64 ? L"win64" : L"win32");
}

Rows ClassRows(std::wstring_view clsid, std::wstring_view progId, std::wstring_view server, std::wstring_view libid) {
  const std::wstring key = Joined(L"CLSID", clsid), progIdText(progId);
  return {
      {View::Own, key, L"", progIdText},
      {View::Own, Joined(key, L"InprocServer32"), L"", std::wstring(server)},
      {View::Own, Joined(key, L"InprocServer32"), L"ThreadingModel", L"Apartment"},
      {View::Own, Joined(key, L"ProgID"), L"", progIdText},
      {View::Own, Joined(key, L"TypeLib"), L"", std::wstring(libid)},
      {View::Shared, progIdText, L"", progIdText},
      {View::Shared, Joined(progId, L"CLSID"), L"", std::wstring(clsid)},
  };
}

Rows ProxyStubClassRows(std::wstring_view clsid, std::wstring_view server) {
  const std::wstring key = Joined(L"CLSID", clsid);
  return {
      {View::Own, key, L"", L"Velcorin proxy/stub"},
      {View::Own, Joined(key, L"InprocServer32"), L"", std::wstring(server)},
      {View::Own, Joined(key, L"InprocServer32"), L"ThreadingModel", L"Both"},
  };
}

Rows LibraryRows(const Library& library, std::wstring_view path, std::wstring_view helpFolder) {
  const std::wstring key = VersionKey(library);
  return {
      {View::Shared, key, L"", library.title},
      {View::Shared, PlatformKey(library), L"", std::wstring(path)},
      {View::Shared, Joined(key, L"FLAGS"), L"", std::to_wstring(library.flags)},
      {View::Shared, Joined(key, L"HELPDIR"), L"", std::wstring(helpFolder)},
  };
}

Rows InterfaceRows(const Library& library, const Interface& itf) {
  const std::wstring key = Joined(L"Interface", itf.iid);
  return {
      {View::Own, key, L"", itf.name},
      {View::Own, Joined(key, L"ProxyStubClsid"), L"", itf.proxyStub},
      {View::Own, Joined(key, L"ProxyStubClsid32"), L"", itf.proxyStub},
      {View::Own, Joined(key, L"TypeLib"), L"", library.libid},
      {View::Own, Joined(key, L"TypeLib"), L"Version", Hex(library.major) + L"." + Hex(library.minor)},
  };
}

void Merge(Rows& rows, const Rows& more) {
  for (const Row& row : more) {
    const bool known = std::any_of(rows.begin(), rows.end(), [&](const Row& had) {
      return had.view == row.view && had.key == row.key && had.name == row.name;
    });
    if (!known) rows.push_back(row);
  }
}

}  // namespace velcorin::registration
