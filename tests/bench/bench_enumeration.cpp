// What a user waits for when many instruments are attached: EnumDevices over
// all of them against the examination of the single slowest one, both
// measured in the same round, alternating which goes first. Examined side by
// side, the whole enumeration costs little more than its slowest instrument.
// USB latency is simulated by replies that come a millisecond late; silent
// instruments wait out every time limit.
#include <windows.h>
// windows.h first: the system headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Velcorin_h.h"
#include "sim/sim_client.h"
#include "tests/bench/bench_util.h"
#include "tests/win/com_test_util.h"

using Microsoft::WRL::ComPtr;
using velcorin::sim::SimClient;

namespace {

constexpr int kInstruments = 16;
constexpr int kChannels = 2;

using Clock = std::chrono::steady_clock;

// One row: each round times the subject and the baseline once, before each
// letting every instrument listen again (untimed).
struct Row {
  std::string subject, baseline, goal;
  int rounds;
  std::function<void()> runSubject, runBaseline, settle;
  std::vector<double> ratios, subjectSeconds, baselineSeconds;

  double Timed(const std::function<void()>& run) const {
    settle();
    const auto start = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  void Measure() {
    for (int round = 0; round < rounds; ++round) {
      double s = 0, b = 0;
      if (round % 2 == 0) {
        b = Timed(runBaseline), s = Timed(runSubject);
      } else {
        s = Timed(runSubject), b = Timed(runBaseline);
      }
      ratios.push_back(s / b), subjectSeconds.push_back(s), baselineSeconds.push_back(b);
    }
  }

  void Print() const {
    printf("%-44s %-40s %7.3f %7.3f %7.3f %9.1f ms %9.1f ms %s\n", subject.c_str(), baseline.c_str(),
           *std::min_element(ratios.begin(), ratios.end()), Median(ratios),
           *std::max_element(ratios.begin(), ratios.end()), Median(subjectSeconds) * 1000,
           Median(baselineSeconds) * 1000, goal.c_str());
  }
};

std::string Serial(int n) { return velcorin::sim::NumberedSerial("BENE", n); }

// `count` instruments, each with the keys `keysOf(n)` gives.
std::string Config(int count, const std::function<std::string(int)>& keysOf) {
  return velcorin::sim::NumberedInstruments("BENE", count, "type = 0x3001\nchannels = " + std::to_string(kChannels),
                                            keysOf);
}

// The simulated instruments and the component's Device to meet them with.
struct Lab {
  SimClient sim;
  int count;
  ComPtr<_Device> device = CreateByProgId<_Device>(L"Velcorin.Device");
  std::vector<std::string> problems;

  Lab(int instruments, const std::function<std::string(int)>& keysOf)
      : sim(Config(instruments, keysOf)), count(instruments) {
    if (!device) throw std::runtime_error("cannot create a Device: is Velcorin.dll registered?");
  }

  void Settle() {
    for (int n = 0; n < count; ++n) sim.WaitUntilFree(Serial(n), 8000);
  }
  void Enumerate(long expected) {
    ComPtr<_Collection> found = NewList(), filters = NewList();
    VARIANT_BOOL ok = VARIANT_FALSE;
    device->EnumDevices(found.Get(), filters.Get(), &ok);
    if (CountOf(found.Get()) != expected)
      problems.push_back("EnumDevices listed " + std::to_string(CountOf(found.Get())));
  }
  // The examination EnumDevices makes of one instrument: open, identity query, close.
  void Examine(int n, bool answers) {
    const Bstr path(Widened(sim.DevicePath(Serial(n))));
    VARIANT_BOOL ok = VARIANT_FALSE;
    device->OpenDev(path.get(), &ok);
    device->CloseDev();
    if ((ok == VARIANT_TRUE) != answers) problems.push_back("OpenDev of " + Serial(n) + " came out otherwise");
  }
};

Row LatencyRow(Lab& lab) {
  return Row{"EnumDevices, 16 with 1 ms reply latency",
             "one of them: OpenDev+CloseDev",
             "<= 2",
             11,
             [&lab] { lab.Enumerate(kInstruments); },
             [&lab] { lab.Examine(kInstruments - 1, true); },
             [&lab] { lab.Settle(); },
             {},
             {},
             {}};
}

Row SilentRow(Lab& lab) {
  return Row{"EnumDevices, 16 healthy + 2 silent",
             "one silent: OpenDev (six time limits)",
             "<= 1.1",
             5,
             [&lab] { lab.Enumerate(kInstruments); },
             [&lab] { lab.Examine(kInstruments, false); },
             [&lab] { lab.Settle(); },
             {},
             {},
             {}};
}

int Run() {
  std::vector<Row> rows;
  std::vector<std::string> problems;
  {
    Lab latency(kInstruments, [](int) { return std::string("delay_ms = 1"); });
    rows.push_back(LatencyRow(latency));
    rows.back().Measure();
    problems = latency.problems;
  }
  {
    Lab silent(kInstruments + 2, [](int n) { return std::string(n >= kInstruments ? "silent = yes" : ""); });
    rows.push_back(SilentRow(silent));
    rows.back().Measure();
    problems.insert(problems.end(), silent.problems.begin(), silent.problems.end());
  }
  printf("ratio = subject / baseline over %d and %d rounds, both in turn; min, median, max; times are medians\n",
         rows[0].rounds, rows[1].rounds);
  printf("%-44s %-40s %7s %7s %7s %12s %12s %s\n", "subject", "baseline (same run)", "min", "median", "max", "subject",
         "baseline", "goal");
  for (const Row& row : rows) row.Print();
  for (const auto& problem : problems) printf("warning: %s\n", problem.c_str());
  return problems.empty() ? 0 : 1;
}

}  // namespace

int main() { return RunBenchmark(Run); }
