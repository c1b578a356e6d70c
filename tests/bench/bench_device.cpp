// What the component costs relative to the same work done by hand, each pair
// measured in the same run and round after round, so that a noisy machine moves
// both alike: QueryDev against a raw round trip, OpenDev against the identity
// query's raw exchanges, EnumDevices over 1, 8 and 16 instruments against the
// SetupAPI walk and every instrument's raw exchanges, and a late-bound Invoke
// against a vtable call. A breakdown of each cost follows the table.
#include <windows.h>
// windows.h first: the system headers rely on its types.
#include <oleauto.h>
#include <setupapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Velcorin_h.h"
#include "sim/sim_client.h"
#include "tests/win/com_test_util.h"

using Microsoft::WRL::ComPtr;
using velcorin::sim::SimClient;

namespace {

constexpr int kRounds = 15;
constexpr int kInstruments = 16;
constexpr int kChannels = 2;
constexpr int kIdentityExchanges = 6 + kChannels;
const GUID kFamilyInterface = {0xF27100C7, 0xA139, 0x4C98, {0x9E, 0x18, 0x70, 0x20, 0x8A, 0x11, 0x8C, 0x03}};

// --- timing -------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Each call times its own operation, leaving out any waiting it does first.
using TimedOp = std::function<double()>;

TimedOp Timed(std::function<void()> op) {
  return [op = std::move(op)] {
    const auto start = Clock::now();
    op();
    return MicrosSince(start);
  };
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One row of the table: a subject and its baseline, measured in turn in every round.
struct Comparison {
  std::string subject, baseline;
  int count;  // operations per round and side
  TimedOp runSubject, runBaseline;
  std::vector<double> ratios, subjectMicros, baselineMicros;

  // Operation by operation, alternating which goes first, so that whatever else the
  // machine does falls on both alike.
  void Round() {
    double s = 0, b = 0;
    for (int i = 0; i < count; ++i) {
      if (i % 2 == 0) {
        b += runBaseline(), s += runSubject();
      } else {
        s += runSubject(), b += runBaseline();
      }
    }
    ratios.push_back(s / b), subjectMicros.push_back(s / count), baselineMicros.push_back(b / count);
  }

  void Print() const {
    printf("%-36s %-46s %7.2f %7.2f %7.2f %12.2f %12.2f\n", subject.c_str(), baseline.c_str(),
           *std::min_element(ratios.begin(), ratios.end()), Median(ratios),
           *std::max_element(ratios.begin(), ratios.end()), Median(subjectMicros), Median(baselineMicros));
  }
};

// --- raw exchanges, as a client without the component makes them ---------------------------

std::vector<BYTE> Request(int opCode, int channel) {
  std::vector<BYTE> request(36, 0);
  request[4] = static_cast<BYTE>(channel);
  request[8] = 1;  // TypeRead
  request[12] = static_cast<BYTE>(opCode);
  return request;
}

void RawRoundTrip(HANDLE file, int opCode = 0, int channel = 0) {
  std::vector<BYTE> request = Request(opCode, channel);
  BYTE reply[40] = {};
  DWORD done = 0;
  WriteFile(file, request.data(), static_cast<DWORD>(request.size()), &done, nullptr);
  ReadFile(file, reply, sizeof reply, &done, nullptr);
}

// The bounded transfer the component makes: overlapped, waited for with a time limit.
void OverlappedTransfer(HANDLE file, HANDLE event, bool write, void* buffer, DWORD size) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  const BOOL finished =
      write ? WriteFile(file, buffer, size, nullptr, &overlapped) : ReadFile(file, buffer, size, nullptr, &overlapped);
  if (!finished && GetLastError() == ERROR_IO_PENDING) WaitForSingleObject(event, 1000);
  DWORD done = 0;
  GetOverlappedResult(file, &overlapped, &done, FALSE);
}

void OverlappedRoundTrip(HANDLE file, HANDLE event) {
  std::vector<BYTE> request = Request(0, 0);
  BYTE reply[40] = {};
  OverlappedTransfer(file, event, true, request.data(), static_cast<DWORD>(request.size()));
  OverlappedTransfer(file, event, false, reply, sizeof reply);
}

HANDLE OpenRaw(const std::string& path, DWORD flags = 0) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// The identity query's exchanges: six identity commands, then one per channel.
void RawIdentity(HANDLE file) {
  for (int opCode : {0, 1, 2, 4, 3, 6}) RawRoundTrip(file, opCode);
  for (int channel = 1; channel <= kChannels; ++channel) RawRoundTrip(file, 6, channel);
}

std::vector<std::string> SetupApiWalk() {
  std::vector<std::string> paths;
  HDEVINFO set = SetupDiGetClassDevsW(&kFamilyInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kFamilyInterface, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    std::vector<BYTE> record(size + sizeof(wchar_t), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
    detail->cbSize = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + sizeof(WCHAR);  // 6 on i686
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) continue;
    const std::wstring path(detail->DevicePath);
    paths.emplace_back(path.begin(), path.end());
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

void RawEnumeration() {
  for (const std::string& path : SetupApiWalk()) {
    const HANDLE file = OpenRaw(path);
    if (file == INVALID_HANDLE_VALUE) continue;
    RawIdentity(file);
    CloseHandle(file);
  }
}

// --- the component ----------------------------------------------------------------------

template <class T>
ComPtr<T> Create(const wchar_t* progId) {
  ComPtr<T> object = CreateByProgId<T>(progId);
  if (!object) throw std::runtime_error("cannot create the component's objects: is Velcorin.dll registered?");
  return object;
}

std::string Serial(int n) {
  char serial[16];
  snprintf(serial, sizeof serial, "BENCH%02d", n);
  return serial;
}

std::string Config() {
  std::string text;
  for (int n = 1; n <= kInstruments; ++n) {
    char section[160];
    snprintf(section, sizeof section, "[%s]\nserial = %s\nmodel = B-%d\ntype = 0x3001\nchannels = %d\n",
             Serial(n).c_str(), Serial(n).c_str(), n, kChannels);
    text += section;
  }
  return text;
}

// The simulated instruments, and waiting for them to listen again after a close.
class Instruments {
 public:
  Instruments() : sim_(Config()) {
    for (int n = 1; n <= kInstruments; ++n) {
      const std::string answer = sim_.Command("pipe " + Serial(n));
      pipes_[Serial(n)] = std::wstring(answer.begin() + 3, answer.end());
      plugged_.push_back(Serial(n));
    }
  }
  std::string Path(int n) { return sim_.DevicePath(Serial(n)); }
  void WaitFree(const std::string& serial) { WaitNamedPipeW(pipes_[serial].c_str(), 2000); }
  void WaitAllFree() {
    for (const auto& serial : plugged_) WaitFree(serial);
  }
  // Leaves the first `count` instruments plugged in.
  void KeepOnly(int count) {
    while (static_cast<int>(plugged_.size()) > count) {
      sim_.Unplug(plugged_.back());
      plugged_.pop_back();
    }
  }

 private:
  SimClient sim_;
  std::map<std::string, std::wstring> pipes_;
  std::vector<std::string> plugged_;
};

// --- the measurements ------------------------------------------------------------------

// Each comparison has instruments of its own, so that both sides stay open and take
// turns operation by operation: the Device on 1 against raw handles on 2 and 3, and
// opening 4 both ways.
struct Bench {
  Instruments instruments;
  const std::string openedPath = instruments.Path(4);
  Bstr devPath1{Widened(instruments.Path(1))}, devPath4{Widened(openedPath)};
  ComPtr<_Device> device = Create<_Device>(L"Velcorin.Device"), opener = Create<_Device>(L"Velcorin.Device");
  ComPtr<_Packet> packet = Create<_Packet>(L"Velcorin.Packet");
  ComPtr<_Collection> found = NewList(), filters = NewList();
  HANDLE raw = INVALID_HANDLE_VALUE, overlapped = INVALID_HANDLE_VALUE;
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::string> problems;

  ~Bench() {
    CloseAll();
    CloseHandle(event);
  }

  void OpenAll() {
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(device->OpenDev(devPath1.get(), &ok)) || !ok) problems.push_back("OpenDev failed");
    raw = OpenRaw(instruments.Path(2));
    overlapped = OpenRaw(instruments.Path(3), FILE_FLAG_OVERLAPPED);
    if (raw == INVALID_HANDLE_VALUE || overlapped == INVALID_HANDLE_VALUE) problems.push_back("CreateFileA failed");
  }
  void CloseAll() {
    device->CloseDev();
    for (HANDLE* file : {&raw, &overlapped}) {
      if (*file != INVALID_HANDLE_VALUE) CloseHandle(*file);
      *file = INVALID_HANDLE_VALUE;
    }
  }

  double QueryDev() {
    return Timed([&] {
      VARIANT_BOOL ok = VARIANT_FALSE;
      packet->put_OpCode(CmdModel);
      device->QueryDev(packet.Get(), &ok);
    })();
  }
  double RawTrip() { return Timed([&] { RawRoundTrip(raw); })(); }
  double OverlappedTrip() { return Timed([&] { OverlappedRoundTrip(overlapped, event); })(); }

  double OpenDevice() {
    instruments.WaitFree(Serial(4));
    return Timed([&] {
      VARIANT_BOOL ok = VARIANT_FALSE;
      opener->OpenDev(devPath4.get(), &ok);
      opener->CloseDev();
    })();
  }
  double RawOpen(bool exchanges) {
    instruments.WaitFree(Serial(4));
    return Timed([&] {
      const HANDLE file = OpenRaw(openedPath);
      if (exchanges) RawIdentity(file);
      CloseHandle(file);
    })();
  }

  double Enumerate(long expected) {
    instruments.WaitAllFree();
    VARIANT_BOOL ok = VARIANT_FALSE;
    const double micros = Timed([&] { device->EnumDevices(found.Get(), filters.Get(), &ok); })();
    if (CountOf(found.Get()) != expected) problems.push_back("EnumDevices skipped an instrument");
    return micros;
  }
  double RawEnumerate() {
    instruments.WaitAllFree();
    return Timed(RawEnumeration)();
  }
  double Walk() {
    return Timed([] { SetupApiWalk(); })();
  }
};

// Late-bound as a script engine calls: the DISPID looked up once, then Invoke.
struct Dispatch {
  ComPtr<_Packet> packet = Create<_Packet>(L"Velcorin.Packet");
  ComPtr<IDispatch> late;
  DISPID opCode = DISPID_UNKNOWN;

  Dispatch() {
    packet.As(&late);
    LPOLESTR name = const_cast<LPOLESTR>(L"OpCode");
    late->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &opCode);
  }
  void Invoke() {
    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    late->Invoke(opCode, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    VariantClear(&result);
  }
  void NamedInvoke() {
    LPOLESTR name = const_cast<LPOLESTR>(L"OpCode");
    DISPID id = DISPID_UNKNOWN;
    late->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    Invoke();
  }
  void Vtable() {
    OpCodeBaseEnum value{};
    packet->get_OpCode(&value);
  }
  // What QueryDev does with its Packet: reads five properties and writes six back.
  void PacketFields() {
    long number = 0;
    OpTypeEnum opType{};
    OpCodeBaseEnum code{};
    BSTR data = nullptr;
    packet->get_DevType(&number), packet->get_Channel(&number), packet->get_OpType(&opType);
    packet->get_OpCode(&code), packet->get_Data(&data);
    packet->put_DevType(number), packet->put_Channel(number), packet->put_OpType(opType);
    packet->put_OpCode(code), packet->put_EndCode(ErrOk), packet->put_Data(data);
    SysFreeString(data);
  }
};

void PrintHeader() {
  printf("%-36s %-46s %7s %7s %7s %12s %12s\n", "subject", "baseline (same run)", "min", "median", "max",
         "subject us", "baseline us");
}

void RunRounds(std::vector<Comparison>& rows) {
  for (int round = 0; round < kRounds; ++round) {
    for (auto& row : rows) row.Round();
  }
}

Comparison Row(std::string subject, std::string baseline, int count, TimedOp s, TimedOp b) {
  return Comparison{std::move(subject), std::move(baseline), count, std::move(s), std::move(b), {}, {}, {}};
}

const std::string kRawTrip = "raw WriteFile+ReadFile";
const std::string kRawIdentity = "CreateFileA, 6+2 raw round trips, CloseHandle";
const std::string kRawEnum = "SetupAPI walk; each: open, 6+2 raw trips, close";

int Run() {
  Bench bench;
  Dispatch dispatch;
  std::vector<Comparison> table, breakdown;
  table.push_back(Row("QueryDev", kRawTrip, 200, [&] { return bench.QueryDev(); }, [&] { return bench.RawTrip(); }));
  table.push_back(Row("OpenDev+CloseDev (2 channels)", kRawIdentity, 20, [&] { return bench.OpenDevice(); },
                      [&] { return bench.RawOpen(true); }));
  table.push_back(Row("Invoke Packet.OpCode (get)", "vtable get_OpCode", 20000, Timed([&] { dispatch.Invoke(); }),
                      Timed([&] { dispatch.Vtable(); })));
  breakdown.push_back(Row("  overlapped write+read", kRawTrip, 200, [&] { return bench.OverlappedTrip(); },
                          [&] { return bench.RawTrip(); }));
  breakdown.push_back(Row("  QueryDev's Packet: 5 gets, 6 puts", kRawTrip, 200, Timed([&] { dispatch.PacketFields(); }),
                          [&] { return bench.RawTrip(); }));
  breakdown.push_back(Row("  CreateFileA+CloseHandle", kRawIdentity, 20, [&] { return bench.RawOpen(false); },
                          [&] { return bench.RawOpen(true); }));
  breakdown.push_back(Row("  GetIDsOfNames+Invoke", "vtable get_OpCode", 20000, Timed([&] { dispatch.NamedInvoke(); }),
                          Timed([&] { dispatch.Vtable(); })));
  bench.OpenAll();
  RunRounds(table);
  RunRounds(breakdown);
  bench.CloseAll();

  // The enumerations, from 16 instruments down to 1.
  std::vector<Comparison> enumerations, walks;
  for (int count : {16, 8, 1}) {
    bench.instruments.KeepOnly(count);
    const std::string what = "EnumDevices, " + std::to_string(count) + " instrument" + (count > 1 ? "s" : "");
    std::vector<Comparison> rows;
    rows.push_back(Row(what, kRawEnum, count == 1 ? 20 : 5, [&bench, count] { return bench.Enumerate(count); },
                       [&] { return bench.RawEnumerate(); }));
    rows.push_back(Row("  SetupAPI walk, " + std::to_string(count), kRawEnum, count == 1 ? 20 : 5,
                       [&] { return bench.Walk(); }, [&] { return bench.RawEnumerate(); }));
    RunRounds(rows);
    enumerations.insert(enumerations.begin(), rows[0]);
    walks.insert(walks.begin(), rows[1]);
  }
  table.insert(table.begin() + 2, enumerations.begin(), enumerations.end());
  breakdown.insert(breakdown.begin() + 3, walks.begin(), walks.end());

  printf("ratio = subject / baseline; min, median and max over %d rounds\n", kRounds);
  PrintHeader();
  for (const auto& row : table) row.Print();
  printf("where the time goes: each part against the same baseline\n");
  for (const auto& row : breakdown) row.Print();
  for (const auto& problem : bench.problems) printf("warning: %s\n", problem.c_str());
  return bench.problems.empty() ? 0 : 1;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 1;
  try {
    status = Run();
  } catch (const std::exception& error) {
    fprintf(stderr, "bench: %s\n", error.what());
  }
  CoUninitialize();
  return status;
}
