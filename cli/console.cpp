#include "cli/console.h"

#include <string>

namespace velcorin::cli {
namespace {

void Write(DWORD which, std::string_view utf8) {
  const HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || utf8.empty()) return;
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(out, &mode)) {
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  }
}

HANDLE& StopEvent() {
  static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI OnControl(DWORD) {
  SetEvent(StopEvent());
  return TRUE;  // the main thread ends the program once it has let go of the instrument
}

}  // namespace

void Print(std::string_view utf8) { Write(STD_OUTPUT_HANDLE, utf8); }
void PrintError(std::string_view utf8) { Write(STD_ERROR_HANDLE, utf8); }

void CatchStopRequests() {
  StopEvent();
  SetConsoleCtrlHandler(OnControl, TRUE);
}

HANDLE StopRequested() { return StopEvent(); }

}  // namespace velcorin::cli
