#include "common/waits.h"

#include <algorithm>

namespace velcorin {

namespace {

// When a wake-up for painting finds nothing to paint, the wait goes on by
// polling rather than spinning on a paint state it cannot clear.
constexpr DWORD kPaintlessPollMs = 50;

bool DispatchPaint() {
  bool painted = false;
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT)) {
    DispatchMessageW(&message);
    painted = true;
  }
  return painted;
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
    const DWORD woken = MsgWaitForMultipleObjectsEx(count, objects, left, QS_PAINT, 0);
    if (woken != WAIT_OBJECT_0 + count) return woken;
    if (DispatchPaint()) continue;
    const DWORD polled = WaitForMultipleObjects(count, objects, FALSE, std::min(left, kPaintlessPollMs));
    if (polled != WAIT_TIMEOUT || left <= kPaintlessPollMs) return polled;
  }
}

}  // namespace velcorin
