// Starting a program from the simulator's client and from the tests.
#pragma once

#include <windows.h>

namespace velcorin::sim {

// CreateProcessW with no security attributes and the parent's environment. Wine now and
// then fails a start on a loaded machine with ERROR_INTERNAL_ERROR: the new process ended
// before Wine counted it as started, so none of the program's own code ran. Such a start
// is tried again, up to three times; every other failure is returned as it came.
inline BOOL StartProcess(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, DWORD flags,
                         const wchar_t* folder, STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(application, commandLine, nullptr, nullptr, inheritHandles, flags, nullptr, folder, startup,
                       process)) {
      return TRUE;
    }
    if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3) return FALSE;
    Sleep(100);
  }
}

}  // namespace velcorin::sim
