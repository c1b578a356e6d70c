#include "common/waits.h"

#include <algorithm>
#include <vector>

namespace velcorin {

namespace {

// A window that stays invalid after it was asked to paint (a handler that never
// validates, an animation) is asked again at this pace, not in a spin.
constexpr DWORD kRepaintPollMs = 50;

BOOL CALLBACK CollectOwnWindow(HWND window, LPARAM found) {
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

// The thread's own windows, parents before their children. A child of ours
// under another thread's window is left out: painting across threads would be
// a sent message, and waiting for its answer lets messages in.
std::vector<HWND> ThreadWindows() {
  std::vector<HWND> windows;
  const auto found = reinterpret_cast<LPARAM>(&windows);
  EnumThreadWindows(GetCurrentThreadId(), CollectOwnWindow, found);
  const std::size_t topLevel = windows.size();
  for (std::size_t i = 0; i < topLevel; ++i) EnumChildWindows(windows[i], CollectOwnWindow, found);
  return windows;
}

// Paints each of the thread's windows that asks for it, once, by calling its
// window procedure directly: unlike PeekMessage, this lets no sent message in.
// True when nothing asks for paint any more.
bool PaintThreadWindows() {
  for (HWND window : ThreadWindows())
    if (GetUpdateRect(window, nullptr, FALSE)) RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_NOCHILDREN);
  return (HIWORD(GetQueueStatus(QS_PAINT)) & QS_PAINT) == 0;
}

}  // namespace

DWORD WaitForAnyObject(DWORD count, const HANDLE* objects, DWORD milliseconds) {
  return WaitForMultipleObjects(count, objects, FALSE, milliseconds);
}

DWORD WaitForAnyKeepingWindowsPainted(DWORD count, const HANDLE* objects, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = milliseconds == INFINITE ? INFINITE : static_cast<DWORD>(deadline > now ? deadline - now : 0);
    const DWORD woken = MsgWaitForMultipleObjectsEx(count, objects, left, QS_PAINT, MWMO_INPUTAVAILABLE);
    if (woken != WAIT_OBJECT_0 + count) return woken;
    if (PaintThreadWindows()) continue;
    const DWORD polled = WaitForMultipleObjects(count, objects, FALSE, std::min(left, kRepaintPollMs));
    if (polled != WAIT_TIMEOUT || left <= kRepaintPollMs) return polled;
  }
}

}  // namespace velcorin
