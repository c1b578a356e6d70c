// What the I/O trace costs: QueryDev with tracing off against the same DLL of
// before the trace (when VELCORIN_BENCH_BASELINE names one) and against raw
// WriteFile+ReadFile, and QueryDev with tracing on against raw I/O. Each DLL is
// loaded from a copy of its own, so that one process holds a traced and an
// untraced component; the sides of a row take turns on the same instrument,
// round after round, each in batches timed between two clock reads.
#include <windows.h>
// windows.h first: the system headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Velcorin_h.h"
#include "sim/sim_client.h"
#include "tests/bench/bench_util.h"
#include "tests/win/com_test_util.h"

namespace {

constexpr int kRounds = 21;
constexpr int kBatch = 50;
constexpr char kSerial[] = "TRACE01";

using Clock = std::chrono::steady_clock;
using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

std::wstring Folder(std::wstring path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring ThisFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return Folder(path);
}

// One copy of the component, its settings read with `trace` as VELCORIN_TRACE.
class Component {
 public:
  Component(const std::wstring& source, const std::wstring& copyName, const std::wstring& trace = L"") {
    const std::wstring copy = ThisFolder() + L"\\" + copyName;
    if (!CopyFileW(source.c_str(), copy.c_str(), FALSE)) throw std::runtime_error("cannot copy the DLL");
    module_ = LoadLibraryW(copy.c_str());
    if (!module_) throw std::runtime_error("cannot load a copy of the DLL");
    const auto get =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    SetEnvironmentVariableW(L"VELCORIN_TRACE", trace.empty() ? nullptr : trace.c_str());
    get(CLSID_Device, IID_IClassFactory, reinterpret_cast<void**>(devices_.GetAddressOf()));
    SetEnvironmentVariableW(L"VELCORIN_TRACE", nullptr);
    get(CLSID_Packet, IID_IClassFactory, reinterpret_cast<void**>(packets_.GetAddressOf()));
    if (!devices_ || !packets_) throw std::runtime_error("no class factories in the DLL");
    devices_->CreateInstance(nullptr, IID__Device, reinterpret_cast<void**>(device_.GetAddressOf()));
    packets_->CreateInstance(nullptr, IID__Packet, reinterpret_cast<void**>(packet_.GetAddressOf()));
  }
  _Device* device() const { return device_.Get(); }
  _Packet* packet() const { return packet_.Get(); }

 private:
  HMODULE module_ = nullptr;  // kept to the end of the process
  ComPtr<IClassFactory> devices_, packets_;
  ComPtr<_Device> device_;
  ComPtr<_Packet> packet_;
};

// `count` exchanges on the instrument, microseconds between two clock reads.
using Side = std::function<double(int count)>;

struct Bench {
  velcorin::sim::SimClient sim{std::string("[a]\nserial = ") + kSerial + "\nmodel = LDI-3001\ntype = 0x3001\n"};
  std::string path = sim.DevicePath(kSerial);
  std::vector<std::string> problems;

  void WaitFree() { sim.WaitUntilFree(kSerial); }

  Side QueryDev(const Component& c) {
    return [this, &c](int count) {
      WaitFree();
      const Bstr devPath(Widened(path));
      VARIANT_BOOL ok = VARIANT_FALSE;
      if (FAILED(c.device()->OpenDev(devPath.get(), &ok)) || !ok) problems.push_back("OpenDev failed");
      const auto start = Clock::now();
      for (int i = 0; i < count; ++i) {
        c.packet()->put_OpCode(CmdModel);
        c.device()->QueryDev(c.packet(), &ok);
      }
      const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
      if (!ok) problems.push_back("QueryDev failed");
      c.device()->CloseDev();
      return micros;
    };
  }

  Side Raw() {
    return [this](int count) {
      WaitFree();
      const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) problems.push_back("CreateFileA failed");
      BYTE request[36] = {}, reply[40] = {};
      request[8] = 1;  // TypeRead CmdModel
      DWORD done = 0;
      const auto start = Clock::now();
      for (int i = 0; i < count; ++i) {
        WriteFile(file, request, sizeof request, &done, nullptr);
        ReadFile(file, reply, sizeof reply, &done, nullptr);
      }
      const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
      CloseHandle(file);
      return micros;
    };
  }
};

struct Row {
  std::string subject, baseline, goal;
  Side runSubject, runBaseline;
  std::vector<double> ratios, subjectMicros;

  void Round(int round) {
    double s = 0, b = 0;
    if (round % 2 == 0)
      b = runBaseline(kBatch), s = runSubject(kBatch);
    else
      s = runSubject(kBatch), b = runBaseline(kBatch);
    ratios.push_back(s / b);
    subjectMicros.push_back(s / kBatch);
  }
  void Print() const {
    printf("%-24s %-32s %7.3f %7.3f %7.3f %9.1f us %s\n", subject.c_str(), baseline.c_str(),
           *std::min_element(ratios.begin(), ratios.end()), Median(ratios),
           *std::max_element(ratios.begin(), ratios.end()), Median(subjectMicros), goal.c_str());
  }
};

std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? value : L"";
}

int Run() {
  const std::wstring dll = Folder(ThisFolder()) + L"\\Velcorin.dll";
  const std::wstring traceFile = ThisFolder() + L"\\bench-trace.jsonl";
  DeleteFileW(traceFile.c_str());
  Bench bench;
  const Component off(dll, L"VelcorinUntraced.dll");
  const Component on(dll, L"VelcorinTraced.dll", traceFile);
  std::unique_ptr<Component> before;
  if (const std::wstring baseline = Environment(L"VELCORIN_BENCH_BASELINE"); !baseline.empty())
    before = std::make_unique<Component>(baseline, L"VelcorinBefore.dll");

  std::vector<Row> rows;
  if (before)
    rows.push_back({"QueryDev, trace off", "QueryDev, the DLL before tracing", "~1 (noise)", bench.QueryDev(off),
                    bench.QueryDev(*before)});
  rows.push_back({"QueryDev, trace off", "raw WriteFile+ReadFile", "", bench.QueryDev(off), bench.Raw()});
  rows.push_back({"QueryDev, trace on", "raw WriteFile+ReadFile", "<= 1.2", bench.QueryDev(on), bench.Raw()});
  rows.push_back({"QueryDev, trace on", "QueryDev, trace off", "", bench.QueryDev(on), bench.QueryDev(off)});
  for (int round = 0; round < kRounds; ++round)
    for (auto& row : rows) row.Round(round);

  printf("ratio = subject / baseline over %d rounds of %d queries; time per query (median)\n", kRounds, kBatch);
  printf("%-24s %-32s %7s %7s %7s %12s %s\n", "subject", "baseline (same run)", "min", "median", "max", "subject",
         "goal");
  for (const auto& row : rows) row.Print();
  if (!before) printf("(set VELCORIN_BENCH_BASELINE to a Velcorin.dll of before the trace to compare with it)\n");
  WIN32_FILE_ATTRIBUTE_DATA traced{};
  if (!GetFileAttributesExW(traceFile.c_str(), GetFileExInfoStandard, &traced) || traced.nFileSizeLow == 0)
    bench.problems.push_back("the traced DLL wrote no trace");
  DeleteFileW(traceFile.c_str());
  for (const auto& problem : bench.problems) printf("warning: %s\n", problem.c_str());
  return bench.problems.empty() ? 0 : 1;
}

}  // namespace

int main() { return RunBenchmark(Run); }
