#include "tool_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "sim/start_process.h"

std::wstring WindowsPath(const char* variable) {
  const std::string value = std::getenv(variable) ? std::getenv(variable) : "";
  std::wstring path(value.begin(), value.end());
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  for (auto& c : path) c = c == L'/' ? L'\\' : c;
  return path;
}

std::string Slurp(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

HANDLE Inheritable(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                     nullptr);
}

// A pipe holding `text`, already closed for writing: the child reads it, then its end.
HANDLE PipeWith(const std::string& text) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 65536)) return nullptr;
  SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0);
  DWORD written = 0;
  WriteFile(write, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(write);
  return read;
}

}  // namespace

std::wstring Wide(const std::string& text) { return {text.begin(), text.end()}; }

Tool::Tool(const Program& program, const std::wstring& args, const std::string& input, DWORD flags, HANDLE output) {
  std::wstring line = L"\"" + program.path + L"\" " + args;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = PipeWith(input);
  startup.hStdOutput = output ? output : Inheritable(out_.Path());
  startup.hStdError = Inheritable(err_.Path());
  started_ = velcorin::sim::StartProcess(nullptr, line.data(), TRUE, flags, nullptr, &startup, &p_);
  if (!started_) startError_ = GetLastError();
  for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(h);
}

Tool::~Tool() {
  if (!started_) return;
  TerminateProcess(p_.hProcess, 99);
  CloseHandle(p_.hThread);
  CloseHandle(p_.hProcess);
}

DWORD Tool::Wait(DWORD timeoutMs) {
  DWORD status = 99;
  if (started_ && WaitForSingleObject(p_.hProcess, timeoutMs) == WAIT_OBJECT_0)
    GetExitCodeProcess(p_.hProcess, &status);
  return status;
}

void Check(const Case& c, Tool& tool) {
  const DWORD status = tool.Wait();
  const std::string out = tool.Out(), err = tool.Err(), name(c.args.begin(), c.args.end());
  EXPECT_EQ(status, c.status) << name << "\n" << tool.StartFailure() << out << err;
  EXPECT_TRUE(std::regex_search(out, std::regex(c.out))) << name << " printed:\n" << out;
  EXPECT_TRUE(std::regex_search(err, std::regex(c.err))) << name << " complained:\n" << err;
}

HWND DialogOf(DWORD process) {
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"#32770", L"Select Device"));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process) return window;
  }
  return nullptr;
}
