#include "com_test_util.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

namespace {

class ComApartment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

[[maybe_unused]] auto* const apartment = ::testing::AddGlobalTestEnvironment(new ComApartment);

}  // namespace

bool IsOpen(_Device* device) {
  VARIANT_BOOL open = VARIANT_FALSE;
  device->get_IsDeviceOpen(&open);
  return open == VARIANT_TRUE;
}

std::wstring TextOf(_DevInfo* info, HRESULT (STDMETHODCALLTYPE _DevInfo::*get)(BSTR*)) {
  Bstr text;
  (info->*get)(text.put());
  return std::wstring(text.view());
}

long LongOf(_DevInfo* info, HRESULT (STDMETHODCALLTYPE _DevInfo::*get)(long*)) {
  long value = -12345;
  (info->*get)(&value);
  return value;
}

ComPtr<_DevInfo> DevInfoAt(_Collection* list, long index) {
  VARIANT at = I4(index), item;
  VariantInit(&item);
  ComPtr<_DevInfo> info;
  if (SUCCEEDED(list->Item(&at, &item)) && V_VT(&item) == VT_DISPATCH && V_DISPATCH(&item))
    V_DISPATCH(&item)->QueryInterface(IID_PPV_ARGS(&info));
  VariantClear(&item);
  return info;
}

std::string SerialOf(_DevInfo* info) {
  const std::wstring serial = info ? TextOf(info, &_DevInfo::get_SerialNumber) : L"?";
  return std::string(serial.begin(), serial.end());
}

std::vector<std::string> SerialsOf(_Collection* list) {
  std::vector<std::string> serials;
  for (long i = 1; i <= CountOf(list); ++i) serials.push_back(SerialOf(DevInfoAt(list, i).Get()));
  return serials;
}

std::optional<std::vector<std::wstring>> ChannelNames(_DevInfo* info, LONG* lower) {
  SAFEARRAY* names = nullptr;
  info->get_ChannelNames(&names);
  if (!names) return std::nullopt;
  LONG low = 0, high = -1;
  SafeArrayGetLBound(names, 1, &low);
  SafeArrayGetUBound(names, 1, &high);
  if (lower) *lower = low;
  std::vector<std::wstring> result;
  for (LONG i = low; i <= high; ++i) {
    Bstr name;
    SafeArrayGetElement(names, &i, name.put());
    result.push_back(std::wstring(name.view()));
  }
  SafeArrayDestroy(names);
  return result;
}

ComPtr<_Packet> NewPacket(long opCode, const wchar_t* data) {
  auto packet = CreateByProgId<_Packet>(L"Velcorin.Packet");
  packet->put_OpCode(static_cast<OpCodeBaseEnum>(opCode));
  if (data) packet->put_Data(Bstr(data).get());
  return packet;
}

InvokeResult::~InvokeResult() {
  VariantClear(&value);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
}

std::wstring InvokeResult::description() const { return exception.bstrDescription ? exception.bstrDescription : L""; }

DISPID DispIdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

void Invoke(InvokeResult& result, IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args,
            std::vector<std::wstring> named) {
  std::vector<LPOLESTR> names{const_cast<LPOLESTR>(name)};
  for (auto& n : named) names.push_back(n.data());
  std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
  result.hr =
      object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT, ids.data());
  if (FAILED(result.hr)) return;
  // DISPPARAMS holds arguments in reverse order; named ones first.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  std::vector<DISPID> namedIds(ids.begin() + 1, ids.end());
  std::reverse(namedIds.begin(), namedIds.end());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (!namedIds.empty()) {
    params.rgdispidNamedArgs = namedIds.data();
    params.cNamedArgs = static_cast<UINT>(namedIds.size());
  } else if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  result.hr = object->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result.value, &result.exception,
                             &result.badArgument);
}

VARIANT I4(long value) {
  VARIANT v;
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

VARIANT Str(const wchar_t* text) {
  VARIANT v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

VARIANT Obj(IDispatch* object) {
  VARIANT v;
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = object;
  if (object) object->AddRef();
  return v;
}

void ClearArgs(std::vector<VARIANT>& args) {
  for (auto& v : args) VariantClear(&v);
}

std::pair<std::wstring, std::wstring> TakeErrorInfo() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  BSTR source = nullptr, description = nullptr;
  info->GetSource(&source);
  info->GetDescription(&description);
  std::pair<std::wstring, std::wstring> result{source ? source : L"", description ? description : L""};
  SysFreeString(source);
  SysFreeString(description);
  return result;
}

std::wstring DllPath() {
  wchar_t path[MAX_PATH] = {};
  GetFullPathNameW(VELCORIN_DLL_NAME, MAX_PATH, path, nullptr);
  return path;
}

// Wine answers GetProcessHandleCount with 0: then counted one by one. Its handle
// values are small multiples of 4, handed out lowest free first.
DWORD OpenHandles() {
  DWORD open = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &open) && open) return open;
  for (ULONG_PTR value = 4, missesInARow = 0; missesInARow < 4096; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++open;
      missesInARow = 0;
    } else {
      ++missesInARow;
    }
  }
  return open;
}

DWORD ThreadsStartedIn(HMODULE module) {
  using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  constexpr int kThreadStartAddress = 9;  // ThreadQuerySetWin32StartAddress
  const auto query = reinterpret_cast<QueryThread>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (!query || snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD threads = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    const HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
    if (!thread) continue;
    void* start = nullptr;
    MEMORY_BASIC_INFORMATION region{};
    if (query(thread, kThreadStartAddress, &start, sizeof start, nullptr) == 0 &&
        VirtualQuery(start, &region, sizeof region) && region.AllocationBase == module)
      ++threads;
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return threads;
}
