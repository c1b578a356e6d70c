#include "server/registration.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <string>

#include "common/module.h"
#include "server/classes.h"

namespace velcorin {

namespace {

using Microsoft::WRL::ComPtr;

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
  return text;
}

LSTATUS SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterClass(const ClassEntry& entry, const std::wstring& dllPath, const std::wstring& libid) {
  const std::wstring clsidKey = L"CLSID\\" + GuidText(*entry.clsid);
  const std::wstring progId = entry.progId;
  const LSTATUS failures[] = {
      SetValue(clsidKey, nullptr, progId),
      SetValue(clsidKey + L"\\InprocServer32", nullptr, dllPath),
      SetValue(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
      SetValue(clsidKey + L"\\ProgID", nullptr, progId),
      SetValue(clsidKey + L"\\TypeLib", nullptr, libid),
      SetValue(progId, nullptr, progId),
      SetValue(progId + L"\\CLSID", nullptr, GuidText(*entry.clsid)),
  };
  for (LSTATUS status : failures)
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  return S_OK;
}

void UnregisterClass(const ClassEntry& entry) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, entry.progId);
  const std::wstring clsidKey = L"CLSID\\" + GuidText(*entry.clsid);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, clsidKey.c_str());
}

}  // namespace

HRESULT RegisterServer() {
  ComPtr<ITypeLib> lib;
  HRESULT hr = ModuleTypeLib(&lib);
  if (FAILED(hr)) return hr;
  std::wstring path = ModulePath();
  // Registers the library and, through it, the dual interfaces for automation marshalling.
  hr = RegisterTypeLib(lib.Get(), path.data(), nullptr);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const std::wstring libid = GuidText(attr->guid);
  lib->ReleaseTLibAttr(attr);
  for (const ClassEntry& entry : CreatableClasses()) {
    hr = RegisterClass(entry, path, libid);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterServer() {
  for (const ClassEntry& entry : CreatableClasses()) UnregisterClass(entry);
  ComPtr<ITypeLib> lib;
  HRESULT hr = ModuleTypeLib(&lib);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const TLIBATTR copy = *attr;
  lib->ReleaseTLibAttr(attr);
  return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

}  // namespace velcorin
