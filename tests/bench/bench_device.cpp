// What the component costs relative to the same work done by hand, each pair
// measured in the same run and round after round, alternating which side goes
// first, so that a noisy machine moves both alike. Calls shorter than a few
// microseconds are timed in batches of thousands between two clock reads (two
// reads cost more than a vtable call); longer ones one by one, leaving out the
// waits between them. Both sides of an I/O row use the same instrument. Our
// Collection at 100,000 items is compared with the same work on ten lists of
// 10,000: constant time per operation gives about 1, a linear search 10; a
// loop's steps at 200,000 items with the same steps at 20,000 likewise.
#include <windows.h>
// windows.h first: the system headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Velcorin_h.h"
#include "common/module_file.h"
#include "sim/present_paths.h"
#include "sim/sim_client.h"
#include "tests/bench/bench_util.h"
#include "tests/win/com_test_util.h"

using Microsoft::WRL::ComPtr;
using velcorin::sim::SimClient;

namespace {

constexpr int kRounds = 21;
constexpr int kInstruments = 16;
constexpr int kChannels = 2;
constexpr int kLateBoundBatch = 20000;

// --- timing -------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// A side of a row: does `count` operations and returns the microseconds they took.
using Side = std::function<double(int count)>;

// For calls of a few microseconds or less: one clock read before the batch, one after.
// The call is compiled into the loop: no indirection but its own.
template <class Op>
Side Batched(Op op) {
  return [op](int count) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) op();
    return MicrosSince(start);
  };
}

// For calls of a millisecond or so: each timed alone, after whatever `before` waits for.
Side OneByOne(
    std::function<void()> op, std::function<void()> before = [] {}) {
  return [op = std::move(op), before = std::move(before)](int count) {
    double micros = 0;
    for (int i = 0; i < count; ++i) {
      before();
      const auto start = Clock::now();
      op();
      micros += MicrosSince(start);
    }
    return micros;
  };
}

// Around a batch that needs the instrument to itself: set up and tear down untimed.
Side Holding(std::function<void()> take, Side side, std::function<void()> release) {
  return [=](int count) {
    take();
    const double micros = side(count);
    release();
    return micros;
  };
}

std::string PerCall(double micros) {
  char text[32];
  if (micros < 1)
    snprintf(text, sizeof text, "%.1f ns", micros * 1000);
  else if (micros < 1000)
    snprintf(text, sizeof text, "%.1f us", micros);
  else
    snprintf(text, sizeof text, "%.2f ms", micros / 1000);
  return text;
}

// One row: a subject and its baseline. `shared`, when given, is measured in the same
// round and taken off both sides (the SetupAPI walk, to compare what follows it).
struct Row {
  std::string subject, baseline, goal;
  int count;   // operations per round and side
  int slices;  // turns each side takes per round: short turns share the machine's moods
  Side runSubject, runBaseline, shared;
  std::vector<double> ratios, subjectMicros, baselineMicros;

  void Round(int round) {
    double s = 0, b = 0;
    const int each = count / slices;
    for (int slice = 0; slice < slices; ++slice) {
      if ((round + slice) % 2 == 0) {
        b += runBaseline(each), s += runSubject(each);
      } else {
        s += runSubject(each), b += runBaseline(each);
      }
      if (shared) {
        const double common = shared(each);
        s -= common, b -= common;
      }
    }
    ratios.push_back(s / b), subjectMicros.push_back(s / count), baselineMicros.push_back(b / count);
  }

  void Print() const {
    printf("%-44s %-44s %7.3f %7.3f %7.3f %10s %10s %s\n", subject.c_str(), baseline.c_str(),
           *std::min_element(ratios.begin(), ratios.end()), Median(ratios),
           *std::max_element(ratios.begin(), ratios.end()), PerCall(Median(subjectMicros)).c_str(),
           PerCall(Median(baselineMicros)).c_str(), goal.c_str());
  }
};

Row MakeRow(std::string subject, std::string baseline, int count, Side s, Side b, std::string goal = "",
            Side shared = nullptr) {
  // Calls of a millisecond or less alternate in turns of a fifth of the round.
  const int slices = count >= 5 && count < 1000 ? 5 : 1;
  return Row{std::move(subject),
             std::move(baseline),
             std::move(goal),
             count,
             slices,
             std::move(s),
             std::move(b),
             std::move(shared),
             {},
             {},
             {}};
}

void RunRounds(std::vector<Row>& rows) {
  for (int round = 0; round < kRounds; ++round)
    for (auto& row : rows) row.Round(round);
}

void PrintTable(const char* title, const std::vector<Row>& rows) {
  printf("%s\n%-44s %-44s %7s %7s %7s %10s %10s %s\n", title, "subject", "baseline (same run)", "min", "median", "max",
         "subject", "baseline", "goal");
  for (const auto& row : rows) row.Print();
}

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

void RawEnumeration() {
  for (const std::string& path : velcorin::sim::PresentInterfacePaths()) {
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
  void WaitFree(int n) { WaitNamedPipeW(pipes_[Serial(n)].c_str(), 2000); }
  void WaitAllFree() {
    for (int n = 1; n <= static_cast<int>(plugged_.size()); ++n) WaitFree(n);
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

// --- the I/O measurements ------------------------------------------------------------------

// Instrument 1 serves every I/O row, the component and the raw side taking turns.
struct Io {
  Instruments instruments;
  const std::string path = instruments.Path(1);
  Bstr devPath{Widened(path)};
  ComPtr<_Device> device = Create<_Device>(L"Velcorin.Device");
  ComPtr<_Packet> packet = Create<_Packet>(L"Velcorin.Packet");
  ComPtr<_Collection> found = NewList(), filters = NewList();
  HANDLE raw = INVALID_HANDLE_VALUE;
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::string> problems;

  ~Io() { CloseHandle(event); }

  void OpenDevice() {
    instruments.WaitFree(1);
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(device->OpenDev(devPath.get(), &ok)) || !ok) problems.push_back("OpenDev failed");
  }
  void CloseDevice() { device->CloseDev(); }
  void OpenRawHandle(DWORD flags) {
    instruments.WaitFree(1);
    raw = OpenRaw(path, flags);
    if (raw == INVALID_HANDLE_VALUE) problems.push_back("CreateFileA failed");
  }
  void CloseRawHandle() {
    CloseHandle(raw);
    raw = INVALID_HANDLE_VALUE;
  }

  Side QueryDev() {
    return Holding([this] { OpenDevice(); }, OneByOne([this] {
                     VARIANT_BOOL ok = VARIANT_FALSE;
                     packet->put_OpCode(CmdModel);
                     device->QueryDev(packet.Get(), &ok);
                   }),
                   [this] { CloseDevice(); });
  }
  Side RawTrips(DWORD flags = 0) {
    return Holding([this, flags] { OpenRawHandle(flags); },
                   OneByOne([this, flags] { flags ? OverlappedRoundTrip(raw, event) : RawRoundTrip(raw); }),
                   [this] { CloseRawHandle(); });
  }
  Side OpenDev() {
    return OneByOne(
        [this] {
          VARIANT_BOOL ok = VARIANT_FALSE;
          device->OpenDev(devPath.get(), &ok);
          device->CloseDev();
        },
        [this] { instruments.WaitFree(1); });
  }
  Side RawOpen(bool exchanges) {
    return OneByOne(
        [this, exchanges] {
          const HANDLE file = OpenRaw(path);
          if (exchanges) RawIdentity(file);
          CloseHandle(file);
        },
        [this] { instruments.WaitFree(1); });
  }
  Side Enumerate(long expected) {
    return OneByOne(
        [this, expected] {
          VARIANT_BOOL ok = VARIANT_FALSE;
          device->EnumDevices(found.Get(), filters.Get(), &ok);
          if (CountOf(found.Get()) != expected) problems.push_back("EnumDevices skipped an instrument");
        },
        [this] { instruments.WaitAllFree(); });
  }
  Side RawEnumerate() {
    return OneByOne(RawEnumeration, [this] { instruments.WaitAllFree(); });
  }
  static Side Walk() {
    return OneByOne([] { velcorin::sim::PresentInterfacePaths(); });
  }
};

// --- late binding --------------------------------------------------------------------------

// A Packet late-bound as a script engine calls it, and as the platform's own
// type-library dispatch would serve the same object.
struct LateBound {
  ComPtr<_Packet> packet = Create<_Packet>(L"Velcorin.Packet");
  ComPtr<IDispatch> late;
  ComPtr<ITypeInfo> dispatchInfo, vtableInfo;

  LateBound() {
    packet.As(&late);
    late->GetTypeInfo(0, LOCALE_USER_DEFAULT, &dispatchInfo);
    HREFTYPE ref = 0;
    dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
    dispatchInfo->GetRefTypeInfo(ref, &vtableInfo);
  }

  DISPID Id(const wchar_t* name) {
    LPOLESTR names = const_cast<LPOLESTR>(name);
    DISPID id = DISPID_UNKNOWN;
    late->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
  }
  // An integer comes back: nothing to clear, so that the row times Invoke alone.
  void Get(DISPID id) {
    DISPPARAMS none{};
    VARIANT result;
    V_VT(&result) = VT_EMPTY;
    late->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    if (V_VT(&result) != VT_I4) throw std::runtime_error("Invoke did not answer with an integer");
  }
  void PlatformGet(DISPID id) {
    DISPPARAMS none{};
    VARIANT result;
    V_VT(&result) = VT_EMPTY;
    vtableInfo->Invoke(packet.Get(), id, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    if (V_VT(&result) != VT_I4) throw std::runtime_error("ITypeInfo::Invoke did not answer with an integer");
  }
  DISPID PlatformId(const wchar_t* name) {
    LPOLESTR names = const_cast<LPOLESTR>(name);
    DISPID id = DISPID_UNKNOWN;
    DispGetIDsOfNames(dispatchInfo.Get(), &names, 1, &id);
    return id;
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

std::vector<Row> LateBindingRows(LateBound& p) {
  std::vector<Row> rows;
  const Side vtableChannel = Batched([&] {
    long value = 0;
    p.packet->get_Channel(&value);
  });
  const Side vtableOpCode = Batched([&] {
    OpCodeBaseEnum value{};
    p.packet->get_OpCode(&value);
  });
  struct Property {
    const wchar_t* name;
    Side vtable;
  };
  for (const Property& property : {Property{L"Channel", vtableChannel}, Property{L"OpCode", vtableOpCode}}) {
    const std::wstring wide = property.name;
    const std::string name(wide.begin(), wide.end());
    const DISPID id = p.Id(property.name);
    rows.push_back(MakeRow("Packet." + name + ": GetIDsOfNames+Invoke", "platform: DispGetIDsOfNames+ITypeInfo::Invoke",
                           kLateBoundBatch, Batched([&p, property] { p.Get(p.Id(property.name)); }),
                           Batched([&p, property] { p.PlatformGet(p.PlatformId(property.name)); }), "<= 0.05"));
    rows.push_back(MakeRow("Packet." + name + ": Invoke", "vtable get_" + name, kLateBoundBatch,
                           Batched([&p, id] { p.Get(id); }), property.vtable, "<= 25"));
  }
  return rows;
}

// Where the late-bound time goes, each part against the vtable call.
std::vector<Row> LateBindingParts(LateBound& p) {
  std::vector<Row> rows;
  const Side vtable = Batched([&] {
    OpCodeBaseEnum value{};
    p.packet->get_OpCode(&value);
  });
  const DISPID opCode = p.Id(L"OpCode"), channel = p.Id(L"Channel");
  auto row = [&rows, &vtable](std::string subject, auto op) {
    rows.push_back(MakeRow("  " + subject, "vtable get_OpCode", kLateBoundBatch, Batched(op), vtable));
  };
  row("GetIDsOfNames DevType (first member)", [&p] { p.Id(L"DevType"); });
  row("GetIDsOfNames Data (last member)", [&p] { p.Id(L"Data"); });
  row("GetIDsOfNames of another case: data", [&p] { p.Id(L"data"); });
  row("platform DispGetIDsOfNames DevType", [&p] { p.PlatformId(L"DevType"); });
  row("platform DispGetIDsOfNames Data", [&p] { p.PlatformId(L"Data"); });
  row("platform ITypeInfo::Invoke Channel", [&p, channel] { p.PlatformGet(channel); });
  row("platform ITypeInfo::Invoke OpCode", [&p, opCode] { p.PlatformGet(opCode); });
  row("QueryDev's Packet: 5 gets, 6 puts", [&p] { p.PacketFields(); });
  return rows;
}

std::vector<Row> IoRows(Io& io) {
  std::vector<Row> rows;
  rows.push_back(MakeRow("QueryDev", "raw WriteFile+ReadFile", 50, io.QueryDev(), io.RawTrips(), "~1"));
  rows.push_back(MakeRow("OpenDev+CloseDev (2 channels)", "CreateFileA, 6+2 raw round trips, CloseHandle", 10,
                         io.OpenDev(), io.RawOpen(true), "<= 1.05"));
  return rows;
}

std::vector<Row> IoParts(Io& io) {
  std::vector<Row> rows;
  rows.push_back(MakeRow("  overlapped write+read", "raw WriteFile+ReadFile", 50, io.RawTrips(FILE_FLAG_OVERLAPPED),
                         io.RawTrips()));
  rows.push_back(MakeRow("  CreateFileA+CloseHandle", "CreateFileA, 6+2 raw round trips, CloseHandle", 10,
                         io.RawOpen(false), io.RawOpen(true)));
  return rows;
}

// From 16 instruments down to 1: the whole call, the SetupAPI walk as a share of
// the raw enumeration, and what follows the walk on each side.
void EnumerationRows(Io& io, std::vector<Row>& table, std::vector<Row>& parts) {
  const std::string raw = "SetupAPI walk; each: open, 6+2 raw trips, close";
  for (int count : {16, 8, 1}) {
    io.instruments.KeepOnly(count);
    const std::string n = std::to_string(count);
    const int ops = count == 1 ? 20 : 5;
    std::vector<Row> rows;
    rows.push_back(MakeRow("EnumDevices, " + n, raw, ops, io.Enumerate(count), io.RawEnumerate()));
    rows.push_back(MakeRow("EnumDevices, " + n + ", after the walk", "each: open, 6+2 raw trips, close", ops,
                           io.Enumerate(count), io.RawEnumerate(), "<= 1.05", Io::Walk()));
    rows.push_back(MakeRow("  SetupAPI walk, " + n, raw, ops, Io::Walk(), io.RawEnumerate()));
    RunRounds(rows);
    table.insert(table.end(), rows.begin(), rows.begin() + 2);
    parts.push_back(rows[2]);
  }
}

// --- our Collection at scale ---------------------------------------------------------------

// `count` keyed Adds then as many lookups by key on one list, and emptying a list of
// `count` by Remove(1) as EnumDevices does; making keys and filling are not timed.
struct Collections {
  static double KeyedAddAndItem(int count) {
    std::vector<VARIANT> keys(count);
    for (int i = 0; i < count; ++i)
      V_VT(&keys[i]) = VT_BSTR, V_BSTR(&keys[i]) = SysAllocString((L"key" + std::to_wstring(i)).c_str());
    ComPtr<_Collection> list = NewList();
    VARIANT missing = Missing(), value = Number(0), out;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) V_I4(&value) = i, list->Add(&value, &keys[i], &missing, &missing);
    for (int i = 0; i < count; ++i) VariantInit(&out), list->Item(&keys[i], &out);
    const double micros = MicrosSince(start);
    for (VARIANT& key : keys) VariantClear(&key);
    return micros;
  }
  static double RemoveFirst(int count) {
    ComPtr<_Collection> list = NewList();
    VARIANT missing = Missing(), value = Number(0), first = Number(1);
    for (int i = 0; i < count; ++i) V_I4(&value) = i, list->Add(&value, &missing, &missing, &missing);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) list->Remove(&first);
    return MicrosSince(start);
  }
  // `steps` steps of a loop from the middle of a list of `size` down: Item(i),
  // Remove(i) when i is odd, then i-1. Neither filling nor the first read,
  // which walks to the middle once, is timed: the steps after it are.
  static double MiddleDown(int size, int steps) {
    ComPtr<_Collection> list = NewList();
    VARIANT missing = Missing(), value = Number(0), index = Number(size / 2), out;
    for (int i = 0; i < size; ++i) V_I4(&value) = i, list->Add(&value, &missing, &missing, &missing);
    VariantInit(&out), list->Item(&index, &out);
    const auto start = Clock::now();
    for (long i = size / 2, end = i - steps; i > end; --i) {
      V_I4(&index) = i;
      VariantInit(&out), list->Item(&index, &out);
      if (i % 2) list->Remove(&index);
    }
    return MicrosSince(start);
  }
  static VARIANT Number(long n) {
    VARIANT number;
    V_VT(&number) = VT_I4;
    V_I4(&number) = n;
    return number;
  }
  static VARIANT Missing() {
    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    return missing;
  }
  // The same operations spread over ten lists a tenth the size.
  static Side TenLists(double (*op)(int)) {
    return [op](int count) {
      double micros = 0;
      for (int i = 0; i < 10; ++i) micros += op(count / 10);
      return micros;
    };
  }
};

std::vector<Row> CollectionRows() {
  const std::string tenths = "the same on ten lists of 10,000";
  return {MakeRow("Collection: keyed Add+Item, 100,000", tenths, 100000, Collections::KeyedAddAndItem,
                  Collections::TenLists(Collections::KeyedAddAndItem), "< 10"),
          MakeRow("Collection: Remove(1), 100,000", tenths, 100000, Collections::RemoveFirst,
                  Collections::TenLists(Collections::RemoveFirst), "< 10"),
          MakeRow(
              "Collection: middle down, Item+odd Remove, 200,000", "the same steps at 20,000", 2000,
              [](int steps) { return Collections::MiddleDown(200000, steps); },
              [](int steps) { return Collections::MiddleDown(20000, steps); }, "<= 2")};
}

// The component's own simulation of the same instrument, in a process of its
// own (the setting is read once per process): its QueryDev against the same
// raw round trip through velcorin-sim.exe as the table's QueryDev row.
int RunSimulated() {
  Io io;
  std::vector<Row> rows = {
      MakeRow("QueryDev, simulated in the component", "raw WriteFile+ReadFile", 50, io.QueryDev(), io.RawTrips())};
  RunRounds(rows);
  PrintTable("with VELCORIN_SIMULATE (same instrument, another process)", rows);
  for (const auto& problem : io.problems) printf("warning: %s\n", problem.c_str());
  return io.problems.empty() ? 0 : 1;
}

int RunSimulatedInChild() {
  const velcorin::sim::TempFile config;
  { std::ofstream(config.Path().c_str(), std::ios::binary) << Config(); }
  std::wstring line = L"\"" + velcorin::ModuleFileName(nullptr) + L"\" --simulated";
  SetEnvironmentVariableW(L"VELCORIN_SIMULATE", config.Path().c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  fflush(stdout);
  const BOOL started =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableW(L"VELCORIN_SIMULATE", nullptr);
  if (!started) return 1;
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return static_cast<int>(status);
}

int Run() {
  std::vector<Row> table, parts;
  {
    LateBound late;
    table = LateBindingRows(late);
    parts = LateBindingParts(late);
    RunRounds(table);
    RunRounds(parts);
  }
  std::vector<Row> collections = CollectionRows();
  RunRounds(collections);
  table.insert(table.end(), collections.begin(), collections.end());
  std::vector<std::string> problems;
  {
    Io io;
    std::vector<Row> io1 = IoRows(io), io2 = IoParts(io);
    RunRounds(io1);
    RunRounds(io2);
    table.insert(table.end(), io1.begin(), io1.end());
    parts.insert(parts.end(), io2.begin(), io2.end());
    EnumerationRows(io, table, parts);
    problems = io.problems;
  }

  printf("ratio = subject / baseline; min, median and max over %d rounds; times are per call (median)\n", kRounds);
  PrintTable("", table);
  PrintTable("where the time goes: each part against its baseline", parts);
  for (const auto& problem : problems) printf("warning: %s\n", problem.c_str());
  const int simulated = RunSimulatedInChild();
  return problems.empty() && simulated == 0 ? 0 : 1;
}

}  // namespace

int main() {
  const bool simulated = std::wstring(GetCommandLineW()).ends_with(L" --simulated");
  return RunBenchmark(simulated ? RunSimulated : Run);
}
