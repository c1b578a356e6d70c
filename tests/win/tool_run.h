// Running the velcorin tool (or another program) as a user does, its output
// read from files while it runs; what the tool and simulation tests share.
#pragma once

#include <windows.h>

#include <string>

#include "sim/sim_client.h"

std::wstring WindowsPath(const char* variable);
std::string Slurp(const std::wstring& path);
std::wstring Wide(const std::string& text);

struct Program {
  std::wstring path;
};

// One run of the tool, its output going to files that can be read while it runs.
class Tool {
 public:
  // `output`, when given, is an inheritable handle the tool writes to instead of a file; the tool takes it.
  explicit Tool(const std::wstring& args, const std::string& input = "", DWORD flags = 0, HANDLE output = nullptr)
      : Tool(Program{WindowsPath("VELCORIN_CLI")}, args, input, flags, output) {}
  // Another program, run the same way.
  Tool(const Program& program, const std::wstring& args, const std::string& input = "", DWORD flags = 0,
       HANDLE output = nullptr);
  ~Tool();
  // The exit status, or 99 when it had to be ended after the time limit.
  DWORD Wait(DWORD timeoutMs = 60000);
  std::string Out() const { return Slurp(out_.Path()); }
  std::string Err() const { return Slurp(err_.Path()); }
  DWORD Id() const { return p_.dwProcessId; }
  // Why the tool did not start, for a failure's message; "" when it did.
  std::string StartFailure() const {
    return started_ ? "" : "(the tool did not start: error " + std::to_string(startError_) + ")\n";
  }

 private:
  velcorin::sim::TempFile out_, err_;
  PROCESS_INFORMATION p_{};
  bool started_ = false;
  DWORD startError_ = 0;
};

// Waits for another process on a machine that may be busy.
constexpr DWORD kPatienceMs = 30000;

struct Case {
  std::wstring args;
  std::string input;  // standard input, a pipe
  DWORD status;
  std::string out, err;  // regular expressions searched for
};

void Check(const Case& c, Tool& tool);

// The tool's "Select Device" dialog, once that process shows it.
HWND DialogOf(DWORD process);
