#include "server/registration.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cwchar>
#include <string>

#include "common/module.h"
#include "common/owners.h"
#include "server/classes.h"
#include "server/registration_table.h"

namespace velcorin {

namespace {

using Microsoft::WRL::ComPtr;

// Interface keys live in both registry views on 64-bit Windows, and the
// system's type-library registration writes both; so do we. (On 32-bit
// Windows both flags name the one view there is.)
constexpr REGSAM kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

LSTATUS SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS FirstError(std::initializer_list<LSTATUS> results) {
  for (LSTATUS status : results)
    if (status != ERROR_SUCCESS) return status;
  return ERROR_SUCCESS;
}

// Removing what is not there is no failure.
LSTATUS DeleteTree(HKEY parent, const std::wstring& key) {
  const LSTATUS status = RegDeleteTreeW(parent, key.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

bool KeyExists(const std::wstring& key, REGSAM view = 0) {
  UniqueRegKey found;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, found.put()) == ERROR_SUCCESS;
}

std::wstring ReadString(HKEY key, const wchar_t* name) {
  wchar_t data[64] = {};
  DWORD size = sizeof(data) - sizeof(wchar_t);
  if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) return {};
  return data;
}

HRESULT LibraryAttributes(TLIBATTR& out) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = ModuleTypeLib(&lib);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  out = *attr;
  lib->ReleaseTLibAttr(attr);
  return S_OK;
}

std::wstring VersionKey(const TLIBATTR& attr) { return registration::VersionKey(DescribeLibrary(attr)); }
std::wstring PlatformKey(const TLIBATTR& attr) { return registration::PlatformKey(DescribeLibrary(attr)); }

// Each value lands in this process's registry view; the shared keys are one for both.
HRESULT WriteRows(const registration::Rows& rows) {
  for (const registration::Row& row : rows) {
    const LSTATUS status = SetValue(row.key, row.name.empty() ? nullptr : row.name.c_str(), row.value);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  }
  return S_OK;
}

// Calls visit with each registry view's Interface key that exists.
template <class Visit>
LSTATUS ForEachInterfaceKey(Visit&& visit) {
  LSTATUS worst = ERROR_SUCCESS;
  for (REGSAM view : kViews) {
    HKEY interfaces = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Interface", 0, KEY_ALL_ACCESS | view, &interfaces) != ERROR_SUCCESS)
      continue;
    const LSTATUS status = visit(interfaces);
    RegCloseKey(interfaces);
    if (status != ERROR_SUCCESS) worst = status;
  }
  return worst;
}

// Replaces the type-library marshaller that the library's registration wrote
// for the interfaces that need ours, wherever it wrote it.
LSTATUS UseOwnProxyStub() {
  const std::wstring clsid = GuidText(ProxyStubClsid());
  const DWORD size = static_cast<DWORD>((clsid.size() + 1) * sizeof(wchar_t));
  return ForEachInterfaceKey([&](HKEY interfaces) {
    for (const MarshalledInterface& itf : MarshalledInterfaces()) {
      HKEY key = nullptr;
      if (!itf.ownProxyStub ||
          RegOpenKeyExW(interfaces, GuidText(*itf.iid).c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        continue;
      const LSTATUS status = FirstError({
          RegSetKeyValueW(key, L"ProxyStubClsid32", nullptr, REG_SZ, clsid.c_str(), size),
          RegSetKeyValueW(key, L"ProxyStubClsid", nullptr, REG_SZ, clsid.c_str(), size),
      });
      RegCloseKey(key);
      if (status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
  });
}

// On 64-bit Windows the other bitness's DLL may serve the same classes from
// its own registry view. (On 32-bit Windows the flag is ignored and this view
// is asked, whose entries are already gone.)
bool OtherBitnessRegistered() {
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  for (const ClassEntry& entry : CreatableClasses())
    if (KeyExists(L"CLSID\\" + GuidText(*entry.clsid) + L"\\InprocServer32", otherView)) return true;
  return false;
}

// An interface key is ours when it names our library.
LSTATUS DeleteInterfaceKeys(const std::wstring& libid) {
  return ForEachInterfaceKey([&](HKEY interfaces) {
    LSTATUS worst = ERROR_SUCCESS;
    for (const MarshalledInterface& itf : MarshalledInterfaces()) {
      const std::wstring name = GuidText(*itf.iid);
      HKEY typeLib = nullptr;
      if (RegOpenKeyExW(interfaces, (name + L"\\TypeLib").c_str(), 0, KEY_READ, &typeLib) != ERROR_SUCCESS) continue;
      const bool ours = _wcsicmp(ReadString(typeLib, nullptr).c_str(), libid.c_str()) == 0;
      RegCloseKey(typeLib);
      if (ours) {
        const LSTATUS status = DeleteTree(interfaces, name);
        if (status != ERROR_SUCCESS) worst = status;
      }
    }
    return worst;
  });
}

// Whatever of the library's registration is left: its version key, and the
// library's key once nothing else is under it.
LSTATUS DeleteLibraryKeys(const TLIBATTR& attr) {
  const LSTATUS status = DeleteTree(HKEY_CLASSES_ROOT, VersionKey(attr));
  RegDeleteKeyW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + GuidText(attr.guid)).c_str());  // fails while not empty
  return status;
}

}  // namespace

HRESULT RegisterServer() {
  ComPtr<ITypeLib> lib;
  HRESULT hr = ModuleTypeLib(&lib);
  if (FAILED(hr)) return hr;
  std::wstring path = ModulePath();
  // Registers the library and, through it, the dual interfaces for automation
  // marshalling; then two of them are handed to our own proxy/stub.
  hr = RegisterTypeLib(lib.Get(), path.data(), nullptr);
  if (FAILED(hr)) return hr;
  TLIBATTR attr{};
  hr = LibraryAttributes(attr);
  if (FAILED(hr)) return hr;
  hr = WriteRows(ServerRows(path, GuidText(attr.guid)));
  return SUCCEEDED(hr) ? HRESULT_FROM_WIN32(UseOwnProxyStub()) : hr;
}

// Removes whatever of ours is there, so that unregistering twice, or after a
// registration that stopped half way, succeeds. Class keys are per registry
// view, ProgIDs and the library's key shared, and the system's UnRegisterTypeLib
// removes the interface keys of both views: while the other bitness is
// registered, only this view's classes and this bitness's library entry go.
HRESULT UnregisterServer() {
  LSTATUS worst = ERROR_SUCCESS;
  auto note = [&worst](LSTATUS status) {
    if (status != ERROR_SUCCESS) worst = status;
  };
  for (const ClassEntry& entry : CreatableClasses())
    note(DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*entry.clsid)));
  note(DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(ProxyStubClsid())));
  TLIBATTR attr{};
  const HRESULT hr = LibraryAttributes(attr);
  if (FAILED(hr)) return hr;
  if (OtherBitnessRegistered()) {
    note(DeleteTree(HKEY_CLASSES_ROOT, PlatformKey(attr)));
    return HRESULT_FROM_WIN32(worst);
  }
  for (const ClassEntry& entry : CreatableClasses()) note(DeleteTree(HKEY_CLASSES_ROOT, entry.progId));
  // The system's way first; it refuses a library whose entry is missing or
  // names a file that is gone, and what it leaves is removed below.
  if (KeyExists(PlatformKey(attr)))
    UnRegisterTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, attr.syskind);
  note(DeleteInterfaceKeys(GuidText(attr.guid)));
  note(DeleteLibraryKeys(attr));
  return HRESULT_FROM_WIN32(worst);
}

}  // namespace velcorin
