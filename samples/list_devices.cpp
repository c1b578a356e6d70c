// A C++ client of Velcorin, early-bound through the dual interfaces: lists the
// instruments that are plugged in, then the temperature controllers among them.
//   list_devices
#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>

#include "Velcorin_h.h"  // from the type library: _Device, _DevInfo, _Collection, ...

using Microsoft::WRL::ComPtr;

namespace {

template <class T>
ComPtr<T> Create(const wchar_t* progId) {
  CLSID clsid{};
  ComPtr<T> object;
  if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)))
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
  return object;
}

// Owns a BSTR that a get handed out.
struct Text {
  BSTR value = nullptr;
  ~Text() { SysFreeString(value); }
  BSTR* put() { return &value; }
  std::string narrow() const {  // the identity texts are plain ASCII
    std::string s;
    for (UINT i = 0; i < SysStringLen(value); ++i)
      if (value[i] != L'\0') s += static_cast<char>(value[i]);
    return s;
  }
};

// Outside a script there is no Collection class to create: the component's
// self-creating collection properties hand out empty ones.
ComPtr<_Collection> NewCollection() {
  ComPtr<_Collection> list;
  if (auto filter = Create<_EnumFilter>(L"Velcorin.EnumFilter")) filter->get_Tokens(&list);
  return list;
}

// ChannelNames is a 1-based array of strings, one per channel.
std::string ChannelNames(_DevInfo* info) {
  SAFEARRAY* names = nullptr;
  if (FAILED(info->get_ChannelNames(&names)) || !names) return "";
  std::string text;
  LONG low = 0, high = -1;
  SafeArrayGetLBound(names, 1, &low);
  SafeArrayGetUBound(names, 1, &high);
  for (LONG i = low; i <= high; ++i) {
    Text name;
    if (SUCCEEDED(SafeArrayGetElement(names, &i, name.put()))) text += " [" + name.narrow() + "]";
  }
  SafeArrayDestroy(names);
  return text;
}

void ShowList(const char* title, _Collection* list) {
  long count = 0;
  list->Count(&count);
  std::printf("%s: %ld\n", title, count);
  for (long i = 1; i <= count; ++i) {
    VARIANT index{}, item{};
    V_VT(&index) = VT_I4;
    V_I4(&index) = i;
    if (FAILED(list->Item(&index, &item))) continue;
    ComPtr<_DevInfo> info;
    if (V_VT(&item) == VT_DISPATCH && V_DISPATCH(&item)) V_DISPATCH(&item)->QueryInterface(IID_PPV_ARGS(&info));
    VariantClear(&item);
    if (!info) continue;
    Text model, serial;
    long productId = 0, channels = 0;
    info->get_ModelNumber(model.put());
    info->get_SerialNumber(serial.put());
    info->get_ProductID(&productId);
    info->get_ChannelCount(&channels);
    std::printf("  %s %s, type 0x%04lX, %ld channel(s):%s\n", model.narrow().c_str(), serial.narrow().c_str(),
                productId, channels, ChannelNames(info.Get()).c_str());
  }
}

// A class filter: any type code of a class stands for the class.
ComPtr<_EnumFilter> ClassFilter(std::initializer_list<long> classes) {
  auto filter = Create<_EnumFilter>(L"Velcorin.EnumFilter");
  filter->put_FilterAction(IncludeDevs);
  filter->put_FilterTarget(FilterByDeviceClass);
  ComPtr<_Collection> tokens;
  filter->get_Tokens(&tokens);
  for (long deviceClass : classes) {
    VARIANT token{}, missing{};
    V_VT(&token) = VT_I4;
    V_I4(&token) = deviceClass;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    tokens->Add(&token, &missing, &missing, &missing);
  }
  return filter;
}

int ListDevices() {
  auto device = Create<_Device>(L"Velcorin.Device");
  auto found = NewCollection();
  auto filters = NewCollection();
  if (!device || !found || !filters) {
    std::puts("Velcorin is not registered (regsvr32 Velcorin.dll).");
    return 1;
  }
  VARIANT_BOOL listed = VARIANT_FALSE;
  if (FAILED(device->EnumDevices(found.Get(), filters.Get(), &listed)) || !listed) {
    std::puts("The system refused the device list.");
    return 1;
  }
  ShowList("Instruments", found.Get());

  VARIANT filter{}, missing{};
  V_VT(&filter) = VT_DISPATCH;
  V_DISPATCH(&filter) = ClassFilter({0x0200, 0x1100, 0x2100, 0x3100}).Detach();
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  filters->Add(&filter, &missing, &missing, &missing);
  VariantClear(&filter);
  device->EnumDevices(found.Get(), filters.Get(), &listed);
  ShowList("Temperature controllers", found.Get());
  std::puts("DONE");
  return 0;
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int code = ListDevices();
  CoUninitialize();
  return code;
}
