// Leaks and lifetime of the real DLL inside one long-running client: many
// openings, enumerations and queries leave the process's handles and private
// bytes where they were; once every object is released the DLL may unload, it
// does unload, and it loads and works again.
//
// Tolerances, measured after a warm-up that lets Wine, the C runtime and the
// heap make their one-time allocations: at most 4 handles, because Wine opens a
// few handles of its own at moments of its choosing (registry keys it caches,
// a thread pool's events), while a leak of one handle per operation shows as a
// thousand or more; at most 256 KiB of private bytes, a few growth steps of the
// heap, while leaking one identity record (about 0.5 KiB with its strings and
// array) per OpenDev, or 8 bytes per QueryDev, would cost 500 KiB and 800 KiB.
#include <gtest/gtest.h>

#include <windows.h>
// windows.h first: the system headers rely on its types.
#include <psapi.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "com_test_util.h"
#include "sim/sim_client.h"

namespace {

using velcorin::sim::SimClient;

constexpr DWORD kHandleTolerance = 4;
constexpr SIZE_T kPrivateBytesTolerance = 256 * 1024;

struct Usage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
};

// Committed private memory, summed over the address space: what PrivateUsage
// reports on Windows; Wine's counter is not maintained, so both are taken.
SIZE_T CommittedPrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (region.RegionSize == 0) break;
  }
  return total;
}

Usage Measure() {
  Usage usage;
  usage.handles = OpenHandles();
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  usage.privateBytes = counters.PrivateUsage ? counters.PrivateUsage : CommittedPrivateBytes();
  return usage;
}

void ExpectAtBaseline(const Usage& baseline, const Usage& after, const char* what) {
  std::cout << what << ": handles " << baseline.handles << " -> " << after.handles << ", private KiB "
            << baseline.privateBytes / 1024 << " -> " << after.privateBytes / 1024 << "\n";
  EXPECT_LE(after.handles, baseline.handles + kHandleTolerance) << what;
  EXPECT_LE(after.privateBytes, baseline.privateBytes + kPrivateBytesTolerance) << what;
}

// Warm-up, baseline, the work, and the comparison.
void ExpectNoGrowth(const char* what, int warmUp, int repeats, const std::function<void()>& once) {
  for (int i = 0; i < warmUp; ++i) once();
  const Usage baseline = Measure();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeats; ++i) once();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << what << ": " << repeats << " in " << seconds << " s (" << seconds / repeats * 1e6 << " us each)\n";
  ExpectAtBaseline(baseline, Measure(), what);
}

std::string EightInstruments() {
  std::string text;
  for (int i = 1; i <= 8; ++i)
    text += "[i" + std::to_string(i) + "]\nserial = LIFE" + std::to_string(i) +
            "\nmodel = LDI-3105\nfirmware = 2.01\ntype = " + std::to_string(0x3100 + i) +
            "\nchannels = 2\ndescription = Lifetime\nchannel1 = A\nchannel2 = B\n";
  return text;
}

// The simulator outlives every test of the suite; the DLL's objects do not.
class Lifetime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sim_ = std::make_unique<SimClient>(EightInstruments()); }
  static void TearDownTestSuite() { sim_.reset(); }

  static void ReloadCycles(int warmUp, int cycles, bool raiseError, const char* what);
  static BSTR PathOf(int instrument) {
    return Bstr(Widened(sim_->DevicePath("LIFE" + std::to_string(instrument)))).release();
  }

  static std::unique_ptr<SimClient> sim_;
};
std::unique_ptr<SimClient> Lifetime::sim_;

TEST_F(Lifetime, OpenAndCloseAThousandTimes) {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  BSTR path = PathOf(1);
  int failures = 0;
  ExpectNoGrowth("OpenDev/CloseDev", 20, 1000, [&] {
    sim_->WaitUntilFree("LIFE1");
    VARIANT_BOOL opened = VARIANT_FALSE;
    if (device->OpenDev(path, &opened) != S_OK || opened != VARIANT_TRUE) ++failures;
    device->CloseDev();
  });
  EXPECT_EQ(failures, 0);
  SysFreeString(path);
}

TEST_F(Lifetime, EnumerateEightInstrumentsAHundredTimes) {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  ComPtr<_Collection> list, filter;
  CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter")->get_Tokens(&list);
  CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter")->get_Tokens(&filter);
  VARIANT_BOOL listed = VARIANT_FALSE;
  if (device->EnumDevices(list.Get(), filter.Get(), &listed) == E_NOTIMPL) GTEST_SKIP() << "EnumDevices not built yet";
  int wrongCounts = 0;
  ExpectNoGrowth("EnumDevices over 8", 5, 100, [&] {
    for (int i = 1; i <= 8; ++i) sim_->WaitUntilFree("LIFE" + std::to_string(i));
    long count = 0;
    if (device->EnumDevices(list.Get(), filter.Get(), &listed) != S_OK || list->Count(&count) != S_OK || count != 8)
      ++wrongCounts;
  });
  EXPECT_EQ(wrongCounts, 0);
}

TEST_F(Lifetime, AHundredThousandQueries) {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  auto packet = CreateByProgId<_Packet>(L"Velcorin.Packet");
  BSTR path = PathOf(2);
  sim_->WaitUntilFree("LIFE2");
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(device->OpenDev(path, &ok), S_OK);
  ASSERT_EQ(ok, VARIANT_TRUE);
  SysFreeString(path);
  int failures = 0;
  ExpectNoGrowth("QueryDev", 1000, 100000, [&] {
    packet->put_OpCode(CmdSerial);
    packet->put_Channel(0);
    if (device->QueryDev(packet.Get(), &ok) != S_OK || ok != VARIANT_TRUE) ++failures;
  });
  EXPECT_EQ(failures, 0);
  device->CloseDev();
}

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

CanUnloadNow CanUnloadNowOf(HMODULE dll) {
  return reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
}

bool Loaded() { return GetModuleHandleW(VELCORIN_DLL_NAME) != nullptr; }

// COM frees a DLL only when it says it may unload, and Wine may need a second pass.
void FreeUnused() {
  for (int i = 0; i < 2; ++i) {
    CoFreeUnusedLibrariesEx(0, 0);
    Sleep(10);
  }
}

// Objects of every class, with every kind of reference between them, and an error raised.
void UseEverything() {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  ComPtr<_DevInfo> info;
  ASSERT_EQ(device->get_DeviceInfo(&info), S_OK);
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ComPtr<_Collection> filters;
  ASSERT_EQ(chooser->get_Filter(&filters), S_OK);
  auto filter = CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter");
  VARIANT item = Obj(filter.Get()), missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  ASSERT_EQ(filters->Add(&item, &missing, &missing, &missing), S_OK);
  VariantClear(&item);
  ComPtr<IUnknown> walk;
  ASSERT_EQ(filters->_NewEnum(&walk), S_OK);
  ComPtr<IDispatch> late;
  ASSERT_EQ(device.As(&late), S_OK);
  InvokeResult r;
  Invoke(r, late.Get(), L"QueryDev", DISPATCH_METHOD, {Obj(nullptr)});
  EXPECT_EQ(r.hr, S_OK);
  auto packet = CreateByProgId<_Packet>(L"Velcorin.Packet");
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(device->QueryDev(packet.Get(), &ok), S_OK);
  VARIANT nine;
  V_VT(&nine) = VT_I4;
  V_I4(&nine) = 9;
  VARIANT out;
  VariantInit(&out);
  EXPECT_NE(filters->Item(&nine, &out), S_OK);  // leaves error info behind
}

// One use of a freshly loaded DLL (with an error raised, if asked), then its unload.
void UseAfterReload(BSTR path, bool raiseError) {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  ASSERT_TRUE(device);
  VARIANT_BOOL opened = VARIANT_FALSE;
  EXPECT_EQ(device->OpenDev(path, &opened), S_OK);
  EXPECT_EQ(opened, VARIANT_TRUE);
  ComPtr<_DevInfo> info;
  device->get_DeviceInfo(&info);
  long type = 0;
  info->get_ProductID(&type);
  EXPECT_EQ(type, 0x3103);
  if (raiseError) {
    ComPtr<_Collection> list;
    CreateByProgId<_Chooser>(L"Velcorin.Chooser")->get_Filter(&list);
    VARIANT nine, out;
    V_VT(&nine) = VT_I4;
    V_I4(&nine) = 9;
    VariantInit(&out);
    EXPECT_EQ(list->Item(&nine, &out), static_cast<HRESULT>(0x800A0009));
  }
  device->CloseDev();
}

void Lifetime::ReloadCycles(int warmUp, int cycles, bool raiseError, const char* what) {
  BSTR path = PathOf(3);
  Usage baseline;
  for (int cycle = 0; cycle < warmUp + cycles; ++cycle) {
    if (cycle == warmUp) baseline = Measure();
    sim_->WaitUntilFree("LIFE3");
    UseAfterReload(path, raiseError);
    FreeUnused();
    if (const HMODULE dll = GetModuleHandleW(VELCORIN_DLL_NAME)) {
      EXPECT_EQ(CanUnloadNowOf(dll)(), S_OK) << what;
    }
  }
  SysFreeString(path);
  ExpectAtBaseline(baseline, Measure(), what);
}

TEST_F(Lifetime, ReleasingEverythingLetsTheDllUnloadAndReloadWithoutLosingHandles) {
  UseEverything();
  const HMODULE dll = GetModuleHandleW(VELCORIN_DLL_NAME);
  ASSERT_TRUE(dll) << "COM loaded the DLL";
  CanUnloadNow canUnload = CanUnloadNowOf(dll);
  ASSERT_TRUE(canUnload);
  {
    auto alive = CreateByProgId<_Packet>(L"Velcorin.Packet");
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  EXPECT_EQ(canUnload(), S_OK) << "an object of the DLL outlived its last reference";
  FreeUnused();
  // The statically linked runtime keeps a thread record and locks (two to four
  // handles) that no unload gives back: the DLL stays loaded once it has handed
  // out an object, and no cycle of release, unload request and reuse loses any.
  EXPECT_TRUE(Loaded());
  ReloadCycles(2, 20, false, "20 unload requests and reuses");
  ReloadCycles(2, 20, true, "20 unload requests and reuses, each raising an error");
}

}  // namespace
