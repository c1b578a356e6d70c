// What every benchmark program shares: its summary statistic and its main.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Runs the benchmark in a single-threaded apartment; 1 when it throws.
inline int RunBenchmark(int (*run)()) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 1;
  try {
    status = run();
  } catch (const std::exception& error) {
    fprintf(stderr, "bench: %s\n", error.what());
  }
  CoUninitialize();
  return status;
}
