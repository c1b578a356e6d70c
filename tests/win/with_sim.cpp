// Runs a command while simulated instruments are plugged in:
//   with_sim <config.ini> <program> [arguments...]
//   with_sim --replay <trace> <program> [arguments...]
// Each configured instrument's device path is passed on in VELCORIN_PATH_<serial>,
// so a script can reach an instrument before it enumerates. Exits with the
// command's exit code.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "simulation/core/config.h"
#include "sim/sim_client.h"
#include "sim/start_process.h"

namespace {

std::string ReadFile(const wchar_t* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::wstring Quoted(const wchar_t* arg) { return std::wstring(L"\"") + arg + L"\""; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool replay = argc > 1 && std::wstring(argv[1]) == L"--replay";
  const int program = replay ? 3 : 2;
  if (argc <= program) {
    fprintf(stderr, "usage: with_sim <config.ini> | --replay <trace> <program> [arguments...]\n");
    return 2;
  }
  try {
    std::optional<velcorin::sim::SimClient> sim;
    if (replay) {
      sim.emplace(velcorin::sim::SimClient::Replaying{argv[2]});
    } else {
      const std::string config = ReadFile(argv[1]);
      sim.emplace(config);
      for (const auto& instrument : velcorin::sim::ParseConfig(config)) {
        const std::string name = "VELCORIN_PATH_" + instrument.serial;
        SetEnvironmentVariableA(name.c_str(), sim->DevicePath(instrument.serial).c_str());
      }
    }
    std::wstring command;
    for (int i = program; i < argc; ++i) command += (i > program ? L" " : L"") + Quoted(argv[i]);
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    if (!velcorin::sim::StartProcess(nullptr, command.data(), TRUE, 0, nullptr, &startup, &process)) {
      fprintf(stderr, "with_sim: cannot start the command (error %lu)\n", GetLastError());
      return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    fflush(stdout);
    return static_cast<int>(code);
  } catch (const std::exception& e) {
    fprintf(stderr, "with_sim: %s\n", e.what());
    return 2;
  }
}
