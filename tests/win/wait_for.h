// Another process (the simulator, a window, a script host, the registry's writer)
// reaches a state a moment after the call that causes it: tests wait for such a state
// with a deadline, never check it at an instant.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>

// Polls until the condition holds; false when it still does not at the deadline.
inline bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    Sleep(10);
  }
  return true;
}
