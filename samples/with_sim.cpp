// Runs one command while simulated instruments are plugged in, and unplugs
// them again however the command ends:
//   with-sim CONFIG COMMAND [ARGUMENTS...]
// The exit code is the command's, or 1 when the instruments did not start.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "sim/sim_client.h"

namespace {

std::string ReadFile(const wchar_t* path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  if (!file) throw std::runtime_error("cannot read the configuration");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  for (wchar_t c : argument) quoted += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
  return quoted + L"\"";
}

DWORD Run(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process))
    throw std::runtime_error("cannot start the command");
  velcorin::sim::UniqueHandle thread(process.hThread);
  velcorin::sim::UniqueHandle child(process.hProcess);
  WaitForSingleObject(child.Get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(child.Get(), &code);
  return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: with-sim CONFIG COMMAND [ARGUMENTS...]\n", stderr);
    return 2;
  }
  std::wstring commandLine;
  for (int i = 2; i < argc; ++i) commandLine += (i > 2 ? L" " : L"") + Quoted(argv[i]);
  try {
    velcorin::sim::SimClient instruments(ReadFile(argv[1]));
    std::fflush(stdout);
    return static_cast<int>(Run(commandLine));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "with-sim: %s\n", e.what());
    return 1;
  }
}
