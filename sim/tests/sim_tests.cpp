// velcorin-sim.exe seen from outside, the way the component meets it: SetupAPI,
// CreateFileA, 36 bytes out and 40 bytes in.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "simulation/core/config.h"
#include "simulation/core/responder.h"
#include "sim/sim_client.h"
#include "trace/core/trace_line.h"

namespace velcorin::sim {
namespace {

constexpr char kTwoInstruments[] = R"(
[driver]
model = LDD-3001
serial = SIMT0001
firmware = 2.10
type = 0x3001
channels = 2
description = Laser diode driver
channel1 = Laser A
channel2 = Laser B

[controller]
model = TEC-1102
serial = SIMT0002
firmware = 1.00
type = 0x1102
channels = 1
padding = zeros
)";

constexpr char kDriverPath[] = "\\\\?\\usb#vid_6a5b&pid_3001#simt0001#{f27100c7-a139-4c98-9e18-70208a118c03}";

using Bytes = std::vector<std::uint8_t>;

Bytes Request(std::int32_t devType, std::int32_t opCode, std::int32_t channel = 0, std::int32_t opType = 1) {
  Bytes bytes(36, 0);
  const std::int32_t fields[] = {devType, channel, opType, opCode};
  for (int f = 0; f < 4; ++f) {
    for (int i = 0; i < 4; ++i)
      bytes[f * 4 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(fields[f]) >> (8 * i));
  }
  return bytes;
}

UniqueKernelHandle Open(const std::string& path, DWORD flags = 0) {
  return UniqueKernelHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | flags, nullptr));
}

bool Write(HANDLE device, const Bytes& bytes) {
  DWORD written = 0;
  return WriteFile(device, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
}

// nullopt when the read fails.
std::optional<Bytes> Read(HANDLE device) {
  Bytes reply(40, 0);
  DWORD got = 0;
  if (!ReadFile(device, reply.data(), static_cast<DWORD>(reply.size()), &got, nullptr)) return std::nullopt;
  reply.resize(got);
  return reply;
}

// A read that gives up after timeoutMs, as the component's does; nullopt on time-out.
std::optional<Bytes> ReadWithin(HANDLE device, DWORD timeoutMs) {
  Bytes reply(40, 0);
  UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  DWORD got = 0;
  if (!ReadFile(device, reply.data(), 40, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
    return std::nullopt;
  }
  const bool arrived = WaitForSingleObject(event.get(), timeoutMs) == WAIT_OBJECT_0;
  if (!arrived) CancelIo(device);
  const BOOL ok = GetOverlappedResult(device, &overlapped, &got, TRUE);
  if (!arrived || !ok) return std::nullopt;
  reply.resize(got);
  return reply;
}

std::vector<std::string> PresentPaths() {
  GUID guid{};
  CLSIDFromString(L"{F27100C7-A139-4C98-9E18-70208A118C03}", &guid);
  HDEVINFO list = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  std::vector<std::string> paths;
  if (list == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA entry{};
  entry.cbSize = sizeof entry;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &guid, i, &entry); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &entry, nullptr, 0, &size, nullptr);
    std::vector<std::uint8_t> buffer(size + 1, 0);
    const DWORD fixedPart = 6;  // sizeof on i686 would say 8, which the call refuses
    std::memcpy(buffer.data(), &fixedPart, sizeof fixedPart);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(
        list, &entry, reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data()), size, nullptr, nullptr));
    std::string path;
    for (DWORD at = 4; at + 1 < size && buffer[at] != 0; at += 2) path += static_cast<char>(buffer[at]);
    EXPECT_EQ(size, 4 + 2 * (path.size() + 1));
    paths.push_back(path);
  }
  SetupDiDestroyDeviceInfoList(list);
  return paths;
}

bool Contains(const std::vector<std::string>& paths, const std::string& path) {
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

class SimTest : public testing::Test {
 protected:
  SimClient sim_{kTwoInstruments};
};

TEST_F(SimTest, ListsItsInstrumentsAsPresentInLowerCase) {
  const auto paths = PresentPaths();
  EXPECT_TRUE(Contains(paths, kDriverPath));
  EXPECT_TRUE(Contains(paths, sim_.DevicePath("SIMT0002")));
  EXPECT_EQ(sim_.DevicePath("SIMT0001"), kDriverPath);
}

TEST_F(SimTest, OpensExclusively) {
  const UniqueKernelHandle first = Open(kDriverPath);
  ASSERT_TRUE(first) << GetLastError();
  const UniqueKernelHandle second = Open(kDriverPath);
  EXPECT_FALSE(second);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
}

TEST_F(SimTest, AnswersAModelRequestAndLogsIt) {
  const UniqueKernelHandle device = Open(sim_.DevicePath("SIMT0002"));
  ASSERT_TRUE(device);
  sim_.MarkLog();
  const Bytes request = Request(0x01020304, 0);
  ASSERT_TRUE(Write(device.get(), request));
  const auto reply = Read(device.get());
  ASSERT_TRUE(reply);

  Bytes expected = {4, 3, 2, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'T', 'E', 'C', '-', '1', '1', '0', '2'};
  expected.resize(40, 0);
  EXPECT_EQ(*reply, expected);
  const auto logged = sim_.Requests();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].serial, "SIMT0002");
  EXPECT_EQ(logged[0].bytes, request);
}

TEST_F(SimTest, LogsAShortRequestAsItCame) {
  const UniqueKernelHandle device = Open(kDriverPath);
  sim_.MarkLog();
  ASSERT_TRUE(Write(device.get(), Bytes{1, 2, 3}));
  ASSERT_TRUE(Read(device.get()));
  const auto logged = sim_.RequestsOf("SIMT0001");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].bytes, (Bytes{1, 2, 3}));
}

TEST_F(SimTest, UnplugBreaksTheOpenHandleAndThePath) {
  const UniqueKernelHandle device = Open(kDriverPath);
  ASSERT_TRUE(device);
  auto blockedRead = std::async(std::launch::async, [&] { return Read(device.get()).has_value(); });
  Sleep(50);  // let the read block first; the test holds either way
  ASSERT_TRUE(sim_.Unplug("SIMT0001"));
  EXPECT_FALSE(blockedRead.get());
  EXPECT_FALSE(Write(device.get(), Request(0, 0)));
  EXPECT_FALSE(Open(kDriverPath));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Contains(PresentPaths(), kDriverPath));
  EXPECT_TRUE(Contains(PresentPaths(), sim_.DevicePath("SIMT0002")));
  EXPECT_EQ(sim_.Command("unplug SIMT0001"), "ERR not plugged SIMT0001");

  ASSERT_TRUE(sim_.Plug("SIMT0001"));
  EXPECT_TRUE(Contains(PresentPaths(), kDriverPath));
  const UniqueKernelHandle again = Open(kDriverPath);
  ASSERT_TRUE(again);
  ASSERT_TRUE(Write(again.get(), Request(0, 1)));
  const auto reply = Read(again.get());
  ASSERT_TRUE(reply);
  EXPECT_EQ(std::string(reply->begin() + 20, reply->begin() + 28), "SIMT0001");
}

TEST_F(SimTest, ReopensAfterWaitingUntilFree) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(sim_.WaitUntilFree("SIMT0001"));
    const UniqueKernelHandle device = Open(kDriverPath);
    ASSERT_TRUE(device) << "round " << round << " error " << GetLastError();
  }
}

// Each round closes and reopens at once, as a script that enumerates and then opens does.
TEST(SimFreeOnClose, ReopensAtOnceAndStillRefusesASecondClient) {
  SimClient sim("[driver]\nserial = SIMF0001\ntype = 0x3001\nmodel = LDD-3001\nfree_on_close = yes\n");
  const std::string path = sim.DevicePath("SIMF0001");
  ASSERT_TRUE(sim.WaitUntilFree("SIMF0001"));
  for (int round = 0; round < 200; ++round) {
    const UniqueKernelHandle device = Open(path);
    ASSERT_TRUE(device) << "round " << round << " error " << GetLastError();
    ASSERT_TRUE(Write(device.get(), Request(0x3001, 0)));
    const auto reply = Read(device.get());
    ASSERT_TRUE(reply && reply->size() == 40u) << "round " << round;
    if (round > 0) continue;
    EXPECT_FALSE(sim.WaitUntilFree("SIMF0001", 200));
    // A second client gets through CreateFileA, then finds its connection broken.
    const UniqueKernelHandle second = Open(path);
    if (second) EXPECT_FALSE(Write(second.get(), Request(0x3001, 0)) && ReadWithin(second.get(), 2000));
    ASSERT_TRUE(Write(device.get(), Request(0x3001, 1)));
    EXPECT_TRUE(Read(device.get()));
  }
  EXPECT_TRUE(sim.WaitUntilFree("SIMF0001"));
}

TEST_F(SimTest, QuitLeavesNoRegistryEntries) {
  const std::wstring instance = L"System\\CurrentControlSet\\Enum\\USB\\VID_6A5B&PID_3001\\SIMT0001";
  const std::wstring interfaceKey =
      L"System\\CurrentControlSet\\Control\\DeviceClasses\\{F27100C7-A139-4C98-9E18-70208A118C03}\\"
      L"##?#USB#VID_6A5B&PID_3001#SIMT0001#{F27100C7-A139-4C98-9E18-70208A118C03}";
  EXPECT_TRUE(KeyExists(instance));
  EXPECT_TRUE(KeyExists(interfaceKey));
  EXPECT_TRUE(sim_.Stop());
  EXPECT_FALSE(KeyExists(instance));
  EXPECT_FALSE(KeyExists(interfaceKey));
  EXPECT_FALSE(KeyExists(L"System\\CurrentControlSet\\Enum\\USB\\VID_6A5B&PID_3001"));
  EXPECT_FALSE(Contains(PresentPaths(), kDriverPath));
}

void WriteKey(const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

constexpr wchar_t kEnum[] = L"System\\CurrentControlSet\\Enum\\";
constexpr wchar_t kClass[] =
    L"System\\CurrentControlSet\\Control\\DeviceClasses\\{F27100C7-A139-4C98-9E18-70208A118C03}\\";

std::wstring InterfaceKeyOf(std::wstring instance) {
  std::replace(instance.begin(), instance.end(), L'\\', L'#');
  return kClass + (L"##?#" + instance + L"#{F27100C7-A139-4C98-9E18-70208A118C03}");
}

// The topmost key that creating `path` makes; `path` itself when it is there already.
std::wstring TopmostMade(const std::wstring& path) {
  for (auto slash = path.find(L'\\'); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1)) {
    if (!KeyExists(path.substr(0, slash))) return path.substr(0, slash);
  }
  return path;
}

// A device the system remembers but that is not plugged in, as Windows keeps one: an
// instance key with values and a subkey, an interface key with its link's subkey. Not
// made by a simulator, so no simulator may delete any of it; the test removes it again.
class RememberedDevice {
 public:
  explicit RememberedDevice(const std::wstring& instance)
      : instanceKey_(kEnum + instance), interfaceKey_(InterfaceKeyOf(instance)) {
    for (const std::wstring& key : {instanceKey_, interfaceKey_}) made_.push_back(TopmostMade(key));
    WriteKey(instanceKey_, L"ClassGUID", L"{36FC9E60-C465-11CF-8056-444553540000}");
    WriteKey(instanceKey_ + L"\\Device Parameters", L"SymbolicName", L"remembered");
    WriteKey(interfaceKey_, L"DeviceInstance", instance);
    WriteKey(interfaceKey_ + L"\\#", L"SymbolicLink", L"remembered");
  }
  ~RememberedDevice() {
    for (const std::wstring& key : made_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  }
  bool Intact() const { return KeyExists(instanceKey_ + L"\\Device Parameters") && KeyExists(interfaceKey_ + L"\\#"); }

 private:
  std::wstring instanceKey_, interfaceKey_;
  std::vector<std::wstring> made_;
};

// A device of another maker that the system remembers, and a real one of the family.
struct ForeignDevices {
  RememberedDevice canary{L"K4CANARY\\DEV\\0001"};
  RememberedDevice family{L"USB\\VID_6A5B&PID_0998\\SIMK0001"};
  bool Intact() const { return canary.Intact() && family.Intact(); }
};

TEST(SimForeignKeys, APathThatIsNotTheSimulatorsOwnIsRefusedAndLeftAlone) {
  const ForeignDevices foreign;
  const struct {
    const char* path;    // replayed from a trace that walked it
    const char* config;  // else started with this configuration
    const char* error;
  } cases[] = {
      {"\\\\?\\k4canary#dev#0001#{f27100c7-a139-4c98-9e18-70208a118c03}", nullptr,
       "ERR config: the trace names \\\\?\\k4canary#dev#0001#{f27100c7-a139-4c98-9e18-70208a118c03}, not an "
       "instrument of the family (vendor id 6A5B, interface class {F27100C7-A139-4C98-9E18-70208A118C03}): refused"},
      {"\\\\?\\k4\x1b[2J\r\nREADY#dev#0001#{f27100c7-a139-4c98-9e18-70208a118c03}", nullptr,
       "ERR config: the trace names \\\\?\\k4\\x1B[2J\\x0D\\x0AREADY#dev#0001#{"},
      {"\\\\?\\usb#vid_6a5b&pid_0998#simk0001#{f27100c7-a139-4c98-9e18-70208a118c03}", nullptr,
       "\\Enum\\usb\\vid_6a5b&pid_0998\\simk0001 exists and is not the simulator's own: refused"},
      {nullptr, "[a]\nserial = SIMK0001\ntype = 0x0998\n",
       "ERR SIMK0001: HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_6A5B&PID_0998\\SIMK0001 exists and is not the "
       "simulator's own: refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path ? c.path : c.config);
    TempFile trace;
    if (c.path != nullptr) {
      trace::TraceEvent walk;
      walk.kind = trace::EventKind::Walk;
      walk.path = c.path;
      const std::string line = trace::FormatLine(walk);
      const UniqueKernelHandle file(
          CreateFileW(trace.Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr));
    }
    try {
      std::optional<SimClient> sim;
      if (c.path != nullptr) {
        sim.emplace(SimClient::Replaying{trace.Path()});
      } else {
        sim.emplace(c.config);
      }
      ADD_FAILURE() << "started";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
    }
    EXPECT_TRUE(foreign.Intact());
  }
}

// A killed simulator's entries go when one with the same serial number starts, whatever
// its type code; a device it did not make with that serial number stays.
TEST(SimStart, RemovesEntriesThatAKilledSimulatorLeftAndNothingElse) {
  const ForeignDevices foreign;
  const std::wstring killedInstance = L"USB\\VID_6A5B&PID_0999\\SIMK0001";
  {
    SimClient killed("[a]\nserial = SIMK0001\ntype = 0x0999\n");
    ASSERT_TRUE(killed.Unplug("SIMK0001"));
    ASSERT_TRUE(killed.Plug("SIMK0001"));
    killed.Kill();
  }
  EXPECT_TRUE(KeyExists(kEnum + killedInstance));
  EXPECT_TRUE(KeyExists(InterfaceKeyOf(killedInstance)));
  EXPECT_TRUE(foreign.Intact());

  SimClient sim("[a]\nserial = SIMK0001\ntype = 0x3001\n");
  EXPECT_FALSE(KeyExists(kEnum + killedInstance));
  EXPECT_FALSE(KeyExists(InterfaceKeyOf(killedInstance)));
  EXPECT_FALSE(KeyExists(kEnum + std::wstring(L"USB\\VID_6A5B&PID_0999")));
  EXPECT_TRUE(foreign.Intact());
  const std::string path = sim.DevicePath("SIMK0001");
  EXPECT_EQ(path, "\\\\?\\usb#vid_6a5b&pid_3001#simk0001#{f27100c7-a139-4c98-9e18-70208a118c03}");
  EXPECT_TRUE(Contains(PresentPaths(), path));
  EXPECT_TRUE(sim.Stop());
  EXPECT_TRUE(foreign.Intact());
}

TEST(SimStart, ReportsABadConfiguration) {
  try {
    SimClient sim("[x]\nserial = A\ncolour = red\n");
    ADD_FAILURE() << "started";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("line 3: unknown key colour"), std::string::npos) << error.what();
  }
}

std::string FaultyConfig(const std::string& keys) {
  return "[faulty]\nserial = SIMF0001\ntype = 0x0105\nmodel = M\n" + keys + "\n";
}

// One instrument with the given fault keys, opened for overlapped reads.
struct FaultyInstrument {
  explicit FaultyInstrument(const std::string& keys)
      : sim(FaultyConfig(keys)), device(Open(sim.DevicePath("SIMF0001"), FILE_FLAG_OVERLAPPED)) {}

  std::optional<Bytes> Query(std::int32_t opCode, DWORD timeoutMs) {
    Bytes request = Request(0, opCode);
    UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    DWORD written = 0;
    if (!WriteFile(device.get(), request.data(), 36, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
      return std::nullopt;
    }
    if (!GetOverlappedResult(device.get(), &overlapped, &written, TRUE)) return std::nullopt;
    return ReadWithin(device.get(), timeoutMs);
  }

  SimClient sim;
  UniqueKernelHandle device;
};

TEST(SimFaults, SilentInstrumentSendsNothing) {
  FaultyInstrument instrument("silent = yes");
  ASSERT_TRUE(instrument.device);
  EXPECT_FALSE(instrument.Query(0, 1000));
  EXPECT_EQ(instrument.sim.Requests().size(), 1u);
}

TEST(SimFaults, ZeroLengthReplyEndsTheReadAtOnce) {
  FaultyInstrument instrument("fail_transfers = 1\nfail_mode = empty");
  const auto failed = instrument.Query(0, 5000);
  ASSERT_TRUE(failed);
  EXPECT_TRUE(failed->empty());
  const auto next = instrument.Query(0, 5000);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->size(), 40u);
}

TEST(SimFaults, UnansweredTransferLeavesTheNextOneAlone) {
  FaultyInstrument instrument("fail_transfers = 1");
  EXPECT_FALSE(instrument.Query(0, 300));
  const auto next = instrument.Query(1, 5000);
  ASSERT_TRUE(next);
  EXPECT_EQ((*next)[12], 1);
}

TEST(SimFaults, LateReplyComesAfterTheWait) {
  FaultyInstrument instrument("delay_ms = 400");
  EXPECT_FALSE(instrument.Query(0, 100));
  const auto late = ReadWithin(instrument.device.get(), 5000);  // a late reply stays queued
  ASSERT_TRUE(late);
  EXPECT_EQ((*late)[20], 'M');
}

TEST(SimFaults, RandomRepliesAreTheRespondersOwn) {
  const std::string keys = "random_replies = yes\nrandom_seed = 42";
  FaultyInstrument instrument(keys);
  const InstrumentConfig config = ParseConfig(FaultyConfig(keys)).at(0);
  Responder expected(config);
  for (std::int32_t opCode : {0, 1, 6, 99}) {
    const auto reply = instrument.Query(opCode, 5000);
    ASSERT_TRUE(reply) << opCode;
    EXPECT_EQ(*reply, expected.Answer(Request(0, opCode)).bytes) << opCode;
  }
}

TEST(SimFaults, UnplugsItselfAfterTheGivenRequestUntilPluggedIn) {
  FaultyInstrument instrument("unplug_after = 2");
  const std::string path = instrument.sim.DevicePath("SIMF0001");
  ASSERT_TRUE(instrument.device);
  ASSERT_TRUE(instrument.Query(0, 5000));
  const DWORD start = GetTickCount();
  EXPECT_FALSE(instrument.Query(0, 5000));  // the handle breaks: no waiting out the limit
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_EQ(instrument.sim.Requests().size(), 2u);
  EXPECT_FALSE(Contains(PresentPaths(), path));
  EXPECT_FALSE(Open(path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(instrument.sim.DevicePath("SIMF0001"), "");
  EXPECT_EQ(instrument.sim.Command("plug SIMF0001"), "OK plug SIMF0001");

  EXPECT_TRUE(Contains(PresentPaths(), path));
  const UniqueKernelHandle again = Open(path);
  ASSERT_TRUE(again) << GetLastError();
  ASSERT_TRUE(Write(again.get(), Request(0, 1)));
  ASSERT_TRUE(Read(again.get()));
  EXPECT_EQ(instrument.sim.Command("unplug SIMF0001"), "OK unplug SIMF0001");
}

TEST(SimFaults, UnplugOfAnInstrumentThatUnpluggedItself) {
  FaultyInstrument instrument("unplug_after = 1");
  EXPECT_FALSE(instrument.Query(0, 5000));
  EXPECT_EQ(instrument.sim.Command("unplug SIMF0001"), "ERR not plugged SIMF0001");
  EXPECT_EQ(instrument.sim.Command("path SIMF0001"), "ERR not plugged SIMF0001");
  EXPECT_TRUE(instrument.sim.Plug("SIMF0001"));
  EXPECT_TRUE(instrument.sim.Stop());
}

}  // namespace
}  // namespace velcorin::sim
