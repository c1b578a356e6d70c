// What the component's device I/O costs relative to the same exchange done by
// hand on the same simulated instrument, measured in one run: QueryDev against
// a raw WriteFile + ReadFile round trip, and OpenDev + CloseDev in round trips.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "Velcorin_h.h"
#include "sim/sim_client.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kRounds = 15;
constexpr int kPerRound = 200;

double MicrosPer(int count, const std::function<void()>& op) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) op();
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / count;
}

struct Figures {
  std::vector<double> ratios, base, subject;
  void Add(double b, double s) { base.push_back(b), subject.push_back(s), ratios.push_back(s / b); }
  static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  void Print(const char* name, const char* baseline) const {
    printf("%-34s %-30s %8.3f %8.3f %8.3f   %9.1f us %9.1f us\n", name, baseline,
           *std::min_element(ratios.begin(), ratios.end()), Median(ratios),
           *std::max_element(ratios.begin(), ratios.end()), Median(subject), Median(base));
  }
};

BSTR Widened(const std::string& path) {
  std::wstring text;
  for (char c : path) text += {static_cast<wchar_t>(static_cast<unsigned char>(c)), L'\0'};
  text.append(3, L'\0');
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void RawRoundTrip(HANDLE file) {
  BYTE request[36] = {}, reply[40] = {};
  request[8] = 1;
  DWORD done = 0;
  WriteFile(file, request, sizeof(request), &done, nullptr);
  ReadFile(file, reply, sizeof(reply), &done, nullptr);
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    velcorin::sim::SimClient sim(
        "[bench]\nserial = BENCH1\nmodel = B-1\ntype = 0x3001\nchannels = 2\n"
        "[bench2]\nserial = BENCH2\nmodel = B-2\ntype = 0x3001\nchannels = 2\n");
    const std::string path = sim.DevicePath("BENCH1");
    BSTR devPath = Widened(sim.DevicePath("BENCH2"));
    HANDLE raw = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ComPtr<_Device> device, opener;
    ComPtr<_Packet> packet;
    CLSID clsid;
    CLSIDFromProgID(L"Velcorin.Device", &clsid);
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Device, &device);
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Device, &opener);
    CLSIDFromProgID(L"Velcorin.Packet", &clsid);
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Packet, &packet);
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (raw == INVALID_HANDLE_VALUE || !device || FAILED(device->OpenDev(devPath, &ok)) || !ok) {
      fprintf(stderr, "bench: cannot open the simulated instruments\n");
      return 1;
    }
    // The identity query made the second instrument's first exchanges; from here both are warm.
    Figures query, open;
    for (int round = 0; round < kRounds; ++round) {
      const double rawCost = MicrosPer(kPerRound, [&] { RawRoundTrip(raw); });
      const double queryCost = MicrosPer(kPerRound, [&] {
        packet->put_OpCode(CmdModel);
        device->QueryDev(packet.Get(), &ok);
      });
      query.Add(rawCost, queryCost);
    }
    device->CloseDev();
    for (int round = 0; round < kRounds; ++round) {
      const double rawCost = MicrosPer(kPerRound, [&] { RawRoundTrip(raw); });
      const double openCost = MicrosPer(10, [&] {
        opener->OpenDev(devPath, &ok);
        opener->CloseDev();
        sim.WaitUntilFree("BENCH2");
      });
      open.Add(rawCost, openCost);
    }
    printf("%-34s %-30s %8s %8s %8s   %12s %12s\n", "measure", "baseline", "min", "median", "max", "subject",
           "baseline");
    query.Print("QueryDev", "raw WriteFile+ReadFile");
    open.Print("OpenDev+CloseDev (2 channels)", "raw WriteFile+ReadFile");
    printf("(OpenDev's identity query is 8 exchanges: 6 identity commands and 2 channels)\n");
    CloseHandle(raw);
    SysFreeString(devPath);
  }
  CoUninitialize();
  return 0;
}
