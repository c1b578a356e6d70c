// The DLL's four exports: registration leaves the registry exactly as it found
// it, class objects only for our classes, unloading only when nothing is alive,
// and the version resource.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "com_test_util.h"
#include "registry_snapshot.h"
#include "sim/start_process.h"

namespace {

const wchar_t* kCollectionInterfaceKey = L"Interface\\{A4C46780-499F-101B-BB78-00AA00383CBB}";

std::wstring ReadString(const std::wstring& key, const wchar_t* value = nullptr) {
  wchar_t data[1024] = {};
  DWORD size = sizeof(data);
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return data;
}

struct Dll {
  HMODULE module = LoadLibraryW(DllPath().c_str());
  ~Dll() { FreeLibrary(module); }
  template <class F>
  F* Export(const char* name) {
    return reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
};

// Unregisters the other bitness's DLL, if registered, until the end of the scope.
// This bitness's regsvr32 hands it to its twin.
class OtherBitnessAway {
 public:
  OtherBitnessAway() {
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{AB7E95F4-CA47-4CFC-960F-318EEF78D596}\\InprocServer32", 0,
                      KEY_READ | otherView, &key) != ERROR_SUCCESS)
      return;
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof(path) - sizeof(wchar_t);
    if (RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, path, &size) == ERROR_SUCCESS) dll_ = path;
    RegCloseKey(key);
    if (!dll_.empty()) RegSvr32(L"/u /s");
  }
  ~OtherBitnessAway() {
    if (!dll_.empty()) RegSvr32(L"/s");
  }
  OtherBitnessAway(const OtherBitnessAway&) = delete;
  OtherBitnessAway& operator=(const OtherBitnessAway&) = delete;

 private:
  void RegSvr32(const std::wstring& flags) const {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring program = std::wstring(system) + L"\\regsvr32.exe";
    std::wstring line = L"\"" + program + L"\" " + flags + L" \"" + dll_ + L"\"";
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    if (!velcorin::sim::StartProcess(program.c_str(), line.data(), FALSE, 0, nullptr, &startup, &process)) return;
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  std::wstring dll_;
};

TEST(Registration, RegistersEverythingAndUnregistersToTheSameRegistry) {
  Dll dll;
  ASSERT_TRUE(dll.module);
  auto* reg = dll.Export<HRESULT __stdcall()>("DllRegisterServer");
  auto* unreg = dll.Export<HRESULT __stdcall()>("DllUnregisterServer");
  ASSERT_TRUE(reg && unreg);
  ASSERT_EQ(unreg(), S_OK);

  // The runtime's collection interface belongs to the system: it must survive us.
  HKEY marker;
  DWORD created = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, kCollectionInterfaceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &marker,
                            &created),
            ERROR_SUCCESS);
  RegSetValueExW(marker, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"_Collection"), 24);
  RegCloseKey(marker);

  // Alone: the damages below hit keys the other bitness shares (the side-by-side tests cover both).
  const OtherBitnessAway other;
  const Snapshot before = TakeSnapshot();
  ASSERT_EQ(reg(), S_OK);
  for (const wchar_t* name : {L"Device", L"Packet", L"Chooser", L"DevInfo", L"EnumFilter"}) {
    const std::wstring progId = std::wstring(L"Velcorin.") + name;
    const std::wstring clsid = ReadString(progId + L"\\CLSID");
    ASSERT_NE(clsid, L"<missing>") << progId;
    EXPECT_EQ(ReadString(L"CLSID\\" + clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(ReadString(L"CLSID\\" + clsid + L"\\ProgID"), progId);
    EXPECT_EQ(ReadString(L"CLSID\\" + clsid + L"\\TypeLib"), L"{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}");
    EXPECT_EQ(_wcsicmp(ReadString(L"CLSID\\" + clsid + L"\\InprocServer32").c_str(), DllPath().c_str()), 0);
  }
  // Two interfaces marshal through the DLL's own proxy/stub, the others through the type library.
  const std::wstring ownProxy = L"{F80FC640-C702-4B74-98EF-51F51AB0068B}",
                     typeLibMarshaller = L"{00020424-0000-0000-C000-000000000046}";
  for (auto [iid, proxy] : {std::pair{L"{27649429-6327-4760-B4FB-B88A83ADC12E}", typeLibMarshaller},
                            {L"{59560B6A-F249-47EB-8FE1-B2D17C2E663B}", typeLibMarshaller},
                            {L"{3C4A811D-3722-4F28-8A8B-5D547F84E770}", ownProxy},
                            {L"{A1AF815A-0C86-4073-BDC7-1CCDC5710486}", typeLibMarshaller},
                            {L"{2ABB3749-3501-40C2-B87C-60BB497E6BDA}", ownProxy}}) {
    EXPECT_EQ(ReadString(std::wstring(L"Interface\\") + iid + L"\\ProxyStubClsid32"), proxy) << iid;
    EXPECT_EQ(ReadString(std::wstring(L"Interface\\") + iid + L"\\ProxyStubClsid"), proxy) << iid;
  }
  EXPECT_EQ(_wcsicmp(ReadString(L"CLSID\\" + ownProxy + L"\\InprocServer32").c_str(), DllPath().c_str()), 0);
  EXPECT_EQ(ReadString(L"CLSID\\" + ownProxy + L"\\InprocServer32", L"ThreadingModel"), L"Both");
  EXPECT_EQ(ReadString(L"TypeLib\\{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}\\30.0"), L"Halvern USB Device IO Library");
  // Registered as locale 0 (neutral), version 48.0 written in hex.
  const std::wstring platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  EXPECT_EQ(_wcsicmp(ReadString(L"TypeLib\\{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}\\30.0\\0\\" + platform).c_str(),
                     DllPath().c_str()),
            0);
  EXPECT_EQ(ReadString(kCollectionInterfaceKey), L"_Collection");

  // Unregistering removes everything, also a second time and after a registration that broke half way.
  const std::wstring library = L"TypeLib\\{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}";
  const std::pair<const char*, std::function<void()>> damages[] = {
      {"complete", [] {}},
      {"library key gone", [&] { RegDeleteTreeW(HKEY_CLASSES_ROOT, library.c_str()); }},
      {"library file gone",
       [&] { RegSetValueW(HKEY_CLASSES_ROOT, (library + L"\\30.0\\0\\win32").c_str(), REG_SZ, L"C:\\gone.dll", 0); }},
      {"classes gone",
       [] {
         for (const wchar_t* p : {L"Velcorin.Device", L"Velcorin.Chooser"}) RegDeleteTreeW(HKEY_CLASSES_ROOT, p);
       }},
  };
  for (const auto& [name, damage] : damages) {
    if (std::string(name) != "complete") {
      ASSERT_EQ(reg(), S_OK);
    }
    damage();
    EXPECT_EQ(unreg(), S_OK) << name;
    EXPECT_EQ(Differences(before, TakeSnapshot()), L"") << name;
    EXPECT_EQ(unreg(), S_OK) << name << ", twice";
  }

  if (created == REG_CREATED_NEW_KEY) RegDeleteTreeW(HKEY_CLASSES_ROOT, kCollectionInterfaceKey);
  EXPECT_EQ(reg(), S_OK);  // leave it registered for the other tests
}

TEST(ClassObjects, OnlyOurClassesAndUnloadOnlyWhenNothingIsAlive) {
  Dll dll;
  auto* getClass = dll.Export<HRESULT __stdcall(REFCLSID, REFIID, void**)>("DllGetClassObject");
  auto* canUnload = dll.Export<HRESULT __stdcall()>("DllCanUnloadNow");
  ASSERT_TRUE(getClass && canUnload);
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(getClass(IID_IDispatch, IID_PPV_ARGS(&factory)), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(canUnload(), S_OK);

  ASSERT_EQ(getClass(CLSID_Device, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);
  ComPtr<_Device> device;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&device)), S_OK);
  ComPtr<IUnknown> outer;
  EXPECT_EQ(factory->CreateInstance(device.Get(), IID_PPV_ARGS(&outer)), CLASS_E_NOAGGREGATION);
  factory->LockServer(TRUE);
  factory.Reset();
  ComPtr<_DevInfo> info;
  device->get_DeviceInfo(&info);
  device.Reset();
  EXPECT_EQ(canUnload(), S_FALSE);  // the record and the lock are alive
  info.Reset();
  EXPECT_EQ(canUnload(), S_FALSE);  // still locked
  ASSERT_EQ(getClass(CLSID_Device, IID_PPV_ARGS(&factory)), S_OK);
  factory->LockServer(FALSE);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_OK);
}

TEST(VersionResource, CarriesTheProductStrings) {
  const std::wstring path = DllPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
      return std::wstring(L"<missing>");
    return std::wstring(value);
  };
  EXPECT_EQ(text(L"FileVersion"), L"1.00.0001");
  EXPECT_EQ(text(L"ProductVersion"), L"1.00.0001");
  EXPECT_EQ(text(L"FileDescription"), L"USB Device API");
  EXPECT_EQ(text(L"InternalName"), L"Velcorin");
  EXPECT_EQ(text(L"OriginalFilename"), L"Velcorin.dll");
  EXPECT_EQ(text(L"OLESelfRegister"), L"");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
}

}  // namespace
