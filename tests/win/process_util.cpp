#include "process_util.h"

#include <algorithm>

#include "sim/start_process.h"

namespace {

// Reads what the pipe holds without waiting for more.
void Drain(HANDLE pipe, std::string& out) {
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available) {
    char chunk[4096];
    DWORD read = 0;
    if (!ReadFile(pipe, chunk, std::min<DWORD>(available, sizeof chunk), &read, nullptr) || !read) return;
    out.append(chunk, read);
  }
}

}  // namespace

std::wstring FullPath(const wchar_t* path) {
  wchar_t full[MAX_PATH] = {};
  GetFullPathNameW(path, MAX_PATH, full, nullptr);
  return full;
}

std::wstring SystemTool(UINT(WINAPI* folder)(LPWSTR, UINT), const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  folder(path, MAX_PATH);
  return std::wstring(path) + L"\\" + name;
}

// The output is read while the program runs (a full pipe would stop it), and
// only until it ends: a program it started may hold the pipe longer.
Finished RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
  Finished result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return result;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = startup.hStdError = write;
  std::wstring line = L"\"" + program + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  const bool started = velcorin::sim::StartProcess(program.c_str(), line.data(), TRUE, 0, nullptr, &startup, &process);
  CloseHandle(write);
  if (!started) {
    result.output = "cannot start the program: error " + std::to_string(GetLastError());
    CloseHandle(read);
    return result;
  }
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    Drain(read, result.output);
    if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
      Drain(read, result.output);
      GetExitCodeProcess(process.hProcess, &result.code);
      break;
    }
    if (GetTickCount64() > deadline) {
      TerminateProcess(process.hProcess, Finished::kTimedOut);
      result.output += "\n(ended after " + std::to_string(timeoutMs) + " ms)";
      break;
    }
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(read);
  return result;
}
