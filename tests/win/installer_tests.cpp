// The installer package on a 64-bit machine, in a Wine prefix of its own, as a
// table of steps that build on each other: an older version installed, then
// replaced in place and not installable over the later one; both bitnesses used through the registration it wrote,
// which is what regsvr32 of both DLLs writes; a deleted DLL and deleted keys
// repaired; and after removal the registry as it was before, key for key.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "process_util.h"
#include "registry_snapshot.h"
#include "sim/sim_client.h"

namespace {

// Keys Wine rewrites on its own whenever a process starts.
const std::vector<std::wstring> kWineChurn = {L"HKLM\\Hardware",
                                              L"\\Control\\Video",
                                              L"\\Hardware Profiles",
                                              L"\\Control\\DeviceClasses",
                                              L"\\Enum",
                                              L"\\Control\\ServiceCurrent",
                                              L"HKCU\\Software\\Wine\\Temporary System Parameters"};

// The automation runtime's collection interface belongs to the system: present
// here as on a machine with that runtime, it must survive us untouched.
const wchar_t kCollectionInterfaceKey[] = L"Software\\Classes\\Interface\\{A4C46780-499F-101B-BB78-00AA00383CBB}";
const wchar_t kDeviceClassKey[] = L"Software\\Classes\\CLSID\\{AB7E95F4-CA47-4CFC-960F-318EEF78D596}";

struct Package {
  std::wstring path, version;
};

struct Bitness {
  const char* name;
  std::wstring folder, cscript, probe;
  REGSAM view;
  std::wstring Dll() const { return folder + L"\\Velcorin.dll"; }
  std::wstring Tool() const { return folder + L"\\velcorin.exe"; }
  std::wstring Regsvr32() const { return std::filesystem::path(cscript).replace_filename(L"regsvr32.exe").wstring(); }
};

std::wstring Expanded(const wchar_t* text) {
  wchar_t out[MAX_PATH] = {};
  ExpandEnvironmentStringsW(text, out, MAX_PATH);
  return out;
}

const Bitness kBitnesses[] = {
    {"32-bit", Expanded(L"%ProgramFiles(x86)%\\Velcorin"), SystemTool(GetSystemWow64DirectoryW, L"cscript.exe"),
     FullPath(VELCORIN_WIN32_PROBE), KEY_WOW64_32KEY},
    {"64-bit", Expanded(L"%ProgramFiles%\\Velcorin"), SystemTool(GetSystemDirectoryW, L"cscript.exe"),
     FullPath(L"tests\\registration_probe.exe"), KEY_WOW64_64KEY},
};

const Package kCurrent{FullPath(VELCORIN_PACKAGE), VELCORIN_VERSION};
const Package kOlder{FullPath(VELCORIN_OLDER_PACKAGE), VELCORIN_OLDER_VERSION};

// What the machine holds between steps.
struct Machine {
  Snapshot before;     // the whole registry before anything of ours
  Snapshot installed;  // the classes roots with the package installed
};

Finished Msiexec(const std::wstring& arguments) {
  return RunProgram(SystemTool(GetSystemDirectoryW, L"msiexec.exe"), arguments + L" /qn");
}

std::vector<std::wstring> InstalledProducts() {
  std::vector<std::wstring> products;
  wchar_t code[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(VELCORIN_UPGRADE_CODE, 0, i, code) == ERROR_SUCCESS; ++i)
    products.push_back(code);
  return products;
}

std::wstring InstalledVersion(const std::wstring& product) {
  wchar_t version[64] = {};
  DWORD size = static_cast<DWORD>(std::size(version));
  MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &size);
  return version;
}

void ExpectInstalledAlone(const Package& package) {
  const std::vector<std::wstring> products = InstalledProducts();
  ASSERT_EQ(products.size(), 1u);
  EXPECT_EQ(InstalledVersion(products[0]), package.version);
  for (const Bitness& b : kBitnesses) {
    EXPECT_NE(GetFileAttributesW(b.Dll().c_str()), INVALID_FILE_ATTRIBUTES) << b.name;
    EXPECT_NE(GetFileAttributesW(b.Tool().c_str()), INVALID_FILE_ATTRIBUTES) << b.name;
  }
}

void Install(const Package& package) {
  const Finished run = Msiexec(L"/i \"" + package.path + L"\"");
  ASSERT_EQ(run.code, 0u) << run.output;
  ExpectInstalledAlone(package);
}

void SetString(REGSAM view, const wchar_t* key, const wchar_t* value) {
  HKEY opened = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &opened, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  RegCloseKey(opened);
}

std::string Slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Values the installer writes as a folder end in a backslash; the library's
// registration writes its help folder without one. (A string value's data ends
// in its terminator.)
Snapshot WithoutTrailingBackslash(Snapshot snapshot) {
  const std::wstring folderEnd(L"\\\0", 2);
  for (auto& [key, value] : snapshot)
    if (value.ends_with(folderEnd)) value.erase(value.size() - 2, 1);
  return snapshot;
}

// Windows Installer's own record of where packages came from, which every run updates.
Snapshot WithoutInstallerRecords(Snapshot snapshot) {
  std::erase_if(snapshot, [](const auto& entry) { return entry.first.starts_with(L"HKLM\\Installer\\"); });
  return snapshot;
}

size_t CountOurs(const Snapshot& snapshot, const Snapshot& without) {
  size_t count = 0;
  for (const auto& [key, value] : snapshot) count += !without.count(key);
  return count;
}

// --- the steps ---------------------------------------------------------------

// Whatever an earlier, interrupted run left goes; the prefix is warmed, so that
// what the system does once (the script hosts' own registration, Windows
// Installer's first containers) is not taken for ours.
void StartClean(Machine& m) {
  for (const std::wstring& product : InstalledProducts()) Msiexec(L"/x " + product);
  ASSERT_TRUE(InstalledProducts().empty());
  HKEY installer = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Installer\\Products", 0, KEY_READ, &installer)) {
    ASSERT_EQ(Msiexec(L"/i \"" + kOlder.path + L"\"").code, 0u);
    ASSERT_EQ(Msiexec(L"/x \"" + kOlder.path + L"\"").code, 0u);
  } else {
    RegCloseKey(installer);
  }
  for (const Bitness& b : kBitnesses) RunProgram(b.cscript, L"//nologo \"" + FullPath(VELCORIN_SAMPLE_SCRIPT) + L"\"");
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) SetString(view, kCollectionInterfaceKey, L"_Collection");
  m.before = TakeWholeSnapshot(kWineChurn);
}

void InstallOlder(Machine&) { Install(kOlder); }

// A major upgrade: the older product is gone, one registration remains.
void UpgradeInPlace(Machine& m) {
  Install(kCurrent);
  m.installed = TakeSnapshot();
}

void RefuseDowngrade(Machine&) {
  EXPECT_NE(Msiexec(L"/i \"" + kOlder.path + L"\"").code, 0u);
  ExpectInstalledAlone(kCurrent);
}

// Both script hosts and both tools find the instruments through the
// registration; a caller in another apartment gets through the proxies.
void UseBothBitnesses(Machine&) {
  velcorin::sim::SimClient sim(Slurp(VELCORIN_DEMO_INI));
  for (const Bitness& b : kBitnesses) {
    SCOPED_TRACE(b.name);
    const Finished script = RunProgram(b.cscript, L"//nologo \"" + FullPath(VELCORIN_SAMPLE_SCRIPT) + L"\"");
    EXPECT_NE(script.output.find("Instruments: 3"), std::string::npos) << script.output;
    EXPECT_NE(script.output.find("DONE"), std::string::npos) << script.output;
    const Finished tool = RunProgram(b.Tool(), L"list");
    EXPECT_EQ(tool.code, 0u) << tool.output;
    for (const char* serial : {"DEMO3001", "DEMO1102", "DEMO0105"})
      EXPECT_NE(tool.output.find(serial), std::string::npos) << tool.output;
    const Finished probe = RunProgram(b.probe, L"\"" + b.Dll() + L"\"");
    EXPECT_EQ(probe.code, 0u) << probe.output;
  }
}

// The package's rows against what the DLLs write themselves, each by its own
// regsvr32, the 32-bit one first (the library's help folder is the first one's).
// The installed samples on the installed configuration, with no simulator running.
void TrySamplesWithoutInstruments(Machine&) {
  const std::wstring samples = Expanded(L"%ProgramFiles%\\Velcorin\\samples\\");
  SetEnvironmentVariableW(L"VELCORIN_SIMULATE", (samples + L"simulated-instruments.ini").c_str());
  for (const Bitness& b : kBitnesses) {
    SCOPED_TRACE(b.name);
    const Finished script = RunProgram(b.cscript, L"//nologo \"" + samples + L"list-devices.vbs\"");
    EXPECT_NE(script.output.find("Instruments: 3"), std::string::npos) << script.output;
    EXPECT_NE(script.output.find("DONE"), std::string::npos) << script.output;
  }
  SetEnvironmentVariableW(L"VELCORIN_SIMULATE", nullptr);
}

void SameAsRegsvr32(Machine& m) {
  for (const Bitness& b : kBitnesses) ASSERT_EQ(RunProgram(b.Regsvr32(), L"/u /s \"" + b.Dll() + L"\"").code, 0u);
  const Snapshot unregistered = TakeSnapshot();
  for (const Bitness& b : kBitnesses) ASSERT_EQ(RunProgram(b.Regsvr32(), L"/s \"" + b.Dll() + L"\"").code, 0u);
  const Snapshot registered = TakeSnapshot();
  EXPECT_EQ(Differences(WithoutTrailingBackslash(m.installed), WithoutTrailingBackslash(registered)), L"");
  std::printf("registry compared with regsvr32's: %zu keys and values of ours\n", CountOurs(registered, unregistered));
}

void RepairDeletedDllAndKeys(Machine& m) {
  ASSERT_TRUE(DeleteFileW(kBitnesses[1].Dll().c_str()));
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Velcorin.Device"), ERROR_SUCCESS);
  HKEY classes32 = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &classes32),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(classes32, kDeviceClassKey + std::wcslen(L"Software\\Classes\\")), ERROR_SUCCESS);
  RegCloseKey(classes32);
  // What msiexec /f does, in the form Wine's msiexec also takes.
  const Finished run = Msiexec(L"/i \"" + kCurrent.path + L"\" REINSTALL=ALL REINSTALLMODE=omus");
  ASSERT_EQ(run.code, 0u) << run.output;
  EXPECT_EQ(Differences(WithoutInstallerRecords(m.installed), WithoutInstallerRecords(TakeSnapshot())), L"");
  for (const Bitness& b : kBitnesses) EXPECT_EQ(RunProgram(b.probe, L"\"" + b.Dll() + L"\"").code, 0u) << b.name;
}

void UninstallLeavesNoTrace(Machine& m) {
  const Finished run = Msiexec(L"/x \"" + kCurrent.path + L"\"");
  ASSERT_EQ(run.code, 0u) << run.output;
  EXPECT_TRUE(InstalledProducts().empty());
  for (const Bitness& b : kBitnesses)
    EXPECT_EQ(GetFileAttributesW(b.folder.c_str()), INVALID_FILE_ATTRIBUTES) << b.name;
  const Snapshot after = TakeWholeSnapshot(kWineChurn);
  EXPECT_EQ(Differences(m.before, after), L"");
  std::printf("whole registry compared after removal: %zu keys and values\n", after.size());
}

struct Step {
  const char* name;
  std::function<void(Machine&)> run;
};

const Step kSteps[] = {
    {"start clean", StartClean},
    {"install the older version", InstallOlder},
    {"upgrade it in place", UpgradeInPlace},
    {"refuse the older version over it", RefuseDowngrade},
    {"use both bitnesses", UseBothBitnesses},
    {"try the samples without instruments", TrySamplesWithoutInstruments},
    {"registry as regsvr32 writes it", SameAsRegsvr32},
    {"repair a deleted DLL and deleted keys", RepairDeletedDllAndKeys},
    {"uninstall", UninstallLeavesNoTrace},
};

TEST(Installer, InstallUpgradeUseRepairRemove) {
  Machine machine;
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.name);
    const auto start = std::chrono::steady_clock::now();
    step.run(machine);
    std::printf("%-40s %6.1f s\n", step.name,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    std::fflush(stdout);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
