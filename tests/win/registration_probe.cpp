// registration_probe <DLL path>: whether a client of this program's bitness
// finds everything registration promises: each class by ProgID, served by that
// DLL; the type library; a call from another apartment through the marshaller.
// Prints "probe: ok" or the first failure; exit code 0 or 1.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>

#include "Velcorin_h.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Failure {
  const char* what;
  HRESULT hr;
};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw Failure{what, hr};
}

std::wstring LoadedFrom(const wchar_t* module) {
  wchar_t path[MAX_PATH] = {};
  if (HMODULE m = GetModuleHandleW(module)) GetModuleFileNameW(m, path, MAX_PATH);
  return path;
}

void CreateEveryClass(const std::wstring& dll) {
  for (const wchar_t* progId :
       {L"Velcorin.Device", L"Velcorin.Packet", L"Velcorin.Chooser", L"Velcorin.DevInfo", L"Velcorin.EnumFilter"}) {
    CLSID clsid{};
    Check(CLSIDFromProgID(progId, &clsid), "CLSIDFromProgID");
    ComPtr<IDispatch> object;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)), "CoCreateInstance");
  }
  if (_wcsicmp(LoadedFrom(L"Velcorin.dll").c_str(), dll.c_str()) != 0) throw Failure{"served by another DLL", E_FAIL};
}

void FindTypeLibrary(const std::wstring& dll) {
  ComPtr<ITypeLib> lib;
  Check(LoadRegTypeLib(LIBID_Velcorin, 48, 0, 0, &lib), "LoadRegTypeLib");
  BSTR path = nullptr;
  Check(QueryPathOfRegTypeLib(LIBID_Velcorin, 48, 0, 0, &path), "QueryPathOfRegTypeLib");
  const bool same = _wcsicmp(path, dll.c_str()) == 0;
  SysFreeString(path);
  if (!same) throw Failure{"type library registered for another DLL", E_FAIL};
}

struct CrossCall {
  IStream* stream;
  HRESULT result;
};

DWORD WINAPI CallFromMultithreadedApartment(void* param) {
  auto& call = *static_cast<CrossCall*>(param);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  {
    ComPtr<_Device> proxy;
    call.result = CoGetInterfaceAndReleaseStream(call.stream, IID_PPV_ARGS(&proxy));
    VARIANT_BOOL open = VARIANT_TRUE;
    if (SUCCEEDED(call.result)) call.result = proxy->get_IsDeviceOpen(&open);
    if (SUCCEEDED(call.result) && open != VARIANT_FALSE) call.result = E_UNEXPECTED;
  }
  CoUninitialize();
  return 0;
}

// The object lives in this thread's apartment, which serves the call while it waits.
void CallAcrossApartments() {
  ComPtr<_Device> device;
  Check(CoCreateInstance(CLSID_Device, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&device)), "CoCreateInstance");
  CrossCall call{nullptr, E_FAIL};
  Check(CoMarshalInterThreadInterfaceInStream(IID__Device, device.Get(), &call.stream), "marshalling _Device");
  HANDLE thread = CreateThread(nullptr, 0, CallFromMultithreadedApartment, &call, 0, nullptr);
  if (!thread) throw Failure{"CreateThread", HRESULT_FROM_WIN32(GetLastError())};
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  CloseHandle(thread);
  if (!ended) throw Failure{"call from another apartment hangs", E_FAIL};
  Check(call.result, "call from another apartment");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: registration_probe <DLL path>\n");
    return 2;
  }
  wchar_t dll[MAX_PATH];
  GetFullPathNameW(argv[1], MAX_PATH, dll, nullptr);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  try {
    CreateEveryClass(dll);
    FindTypeLibrary(dll);
    CallAcrossApartments();
    std::printf("probe: ok\n");
  } catch (const Failure& f) {
    std::printf("probe: %s failed (0x%08lx)\n", f.what, static_cast<unsigned long>(f.hr));
    status = 1;
  }
  CoUninitialize();
  return status;
}
