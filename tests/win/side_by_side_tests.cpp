// Both DLLs registered at once on 64-bit Windows, each by its own regsvr32:
// each bitness's clients keep working whichever goes first, unregistering
// twice is harmless, and unregistering both restores the registry.
#include <gtest/gtest.h>

#include <string>

#include "com_test_util.h"
#include "process_util.h"
#include "registry_snapshot.h"

namespace {

struct Bitness {
  const char* name;
  std::wstring dll, probe, regsvr32;
  REGSAM view;
  const wchar_t* platform;
};

Bitness Win32() {
  return {"32-bit",
          FullPath(VELCORIN_WIN32_DLL),
          FullPath(VELCORIN_WIN32_PROBE),
          SystemTool(GetSystemWow64DirectoryW, L"regsvr32.exe"),
          KEY_WOW64_32KEY,
          L"win32"};
}

Bitness Win64() {
  return {"64-bit",
          DllPath(),
          FullPath(L"tests\\registration_probe.exe"),
          SystemTool(GetSystemDirectoryW, L"regsvr32.exe"),
          KEY_WOW64_64KEY,
          L"win64"};
}

DWORD Run(const std::wstring& program, const std::wstring& arguments) { return RunProgram(program, arguments).code; }

DWORD Register(const Bitness& b) { return Run(b.regsvr32, L"/s \"" + b.dll + L"\""); }
DWORD Unregister(const Bitness& b) { return Run(b.regsvr32, L"/u /s \"" + b.dll + L"\""); }
DWORD Probe(const Bitness& b) { return Run(b.probe, L"\"" + b.dll + L"\""); }

std::wstring ReadIn(REGSAM view, const std::wstring& key) {
  wchar_t data[MAX_PATH] = {};
  DWORD size = sizeof(data);
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ | view, &opened))
    return L"<missing>";
  const LSTATUS status = RegGetValueW(opened, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, data, &size);
  RegCloseKey(opened);
  return status == ERROR_SUCCESS ? data : L"<missing>";
}

// The class server as this bitness's view holds it, and this bitness's library entry.
std::wstring ClassServer(const Bitness& b) {
  return ReadIn(b.view, L"CLSID\\{AB7E95F4-CA47-4CFC-960F-318EEF78D596}\\InprocServer32");
}
std::wstring LibraryPath(const Bitness& b) {
  return ReadIn(b.view, std::wstring(L"TypeLib\\{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}\\30.0\\0\\") + b.platform);
}

void ExpectRegistered(const Bitness& b) {
  SCOPED_TRACE(b.name);
  EXPECT_EQ(_wcsicmp(ClassServer(b).c_str(), b.dll.c_str()), 0) << ClassServer(b);
  EXPECT_EQ(_wcsicmp(LibraryPath(b).c_str(), b.dll.c_str()), 0) << LibraryPath(b);
  EXPECT_EQ(Probe(b), 0u);
}

void ExpectGone(const Bitness& b) {
  SCOPED_TRACE(b.name);
  EXPECT_EQ(ClassServer(b), L"<missing>");
  EXPECT_EQ(LibraryPath(b), L"<missing>");
  EXPECT_NE(Probe(b), 0u);
}

TEST(SideBySide, EachBitnessWorksWhicheverIsUnregisteredFirst) {
  const Bitness both[] = {Win32(), Win64()};
  for (const auto& b : both) ASSERT_EQ(Unregister(b), 0u) << b.name;
  const Snapshot before = TakeSnapshot();
  for (int first : {0, 1}) {
    const Bitness &gone = both[first], &kept = both[1 - first];
    SCOPED_TRACE(testing::Message() << gone.name << " unregistered first");
    for (const auto& b : both)
      for (int twice = 0; twice < 2; ++twice) ASSERT_EQ(Register(b), 0u) << b.name;
    for (const auto& b : both) ExpectRegistered(b);

    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(Unregister(gone), 0u);
    ExpectGone(gone);
    ExpectRegistered(kept);

    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(Unregister(kept), 0u);
    ExpectGone(kept);
    EXPECT_EQ(Differences(before, TakeSnapshot()), L"");
  }
  for (const auto& b : both) EXPECT_EQ(Register(b), 0u) << b.name;  // as the other tests expect
}

}  // namespace
