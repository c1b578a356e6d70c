// Waiting for any of a few kernel objects, with a time limit, answered as
// WaitForMultipleObjects answers. A thread that owns windows may keep them
// painted meanwhile: it then paints them and does nothing else, so that no
// input, no posted or sent message and no call into its apartment is handled.
#pragma once

#include <windows.h>

namespace velcorin {

using WaitForAny = DWORD (*)(DWORD count, const HANDLE* objects, DWORD milliseconds);

DWORD WaitForAnyObject(DWORD count, const HANDLE* objects, DWORD milliseconds);
DWORD WaitForAnyKeepingWindowsPainted(DWORD count, const HANDLE* objects, DWORD milliseconds);

}  // namespace velcorin
