#include "sim/sim_client.h"

#include <objbase.h>
#include <setupapi.h>

#include <map>
#include <sstream>
#include <stdexcept>

#include "common/module_file.h"
#include "common/owners.h"  // again, for the device list owner
#include "sim/present_paths.h"
#include "sim/start_process.h"
#include "simulation/core/naming.h"

namespace velcorin::sim {
namespace {

constexpr wchar_t kExecutableName[] = L"velcorin-sim.exe";
constexpr int kFoldersUp = 3;

void WriteWholeFile(const std::wstring& path, std::string_view text) {
  UniqueKernelHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    throw std::runtime_error("cannot write the simulator's configuration");
  }
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring Folder(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

bool IsOk(const std::string& answer) { return answer.rfind("OK", 0) == 0; }

}  // namespace

TempFile::TempFile() {
  wchar_t folder[MAX_PATH];
  wchar_t name[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, folder);
  if (length == 0 || length >= MAX_PATH || GetTempFileNameW(folder, L"vsm", 0, name) == 0) {
    throw std::runtime_error("cannot create a temporary file");
  }
  path_ = name;
}

TempFile::~TempFile() { DeleteFileW(path_.c_str()); }

std::wstring SimClient::FindExecutable() {
  wchar_t fromEnvironment[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"VELCORIN_SIM", fromEnvironment, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return fromEnvironment;

  std::wstring folder = Folder(ModuleFileName(nullptr));
  for (int up = 0; up <= kFoldersUp && !folder.empty(); ++up, folder = Folder(folder)) {
    std::wstring candidate = folder + L"\\" + kExecutableName;
    if (FileExists(candidate)) return candidate;
  }
  return {};
}

SimClient::SimClient(std::string_view configText, DWORD readyTimeoutMs) {
  WriteWholeFile(config_.Path(), configText);
  StartAndWait(Quoted(config_.Path()), readyTimeoutMs);
}

SimClient::SimClient(const Replaying& trace, DWORD readyTimeoutMs) {
  StartAndWait(L"--replay " + Quoted(trace.tracePath), readyTimeoutMs);
}

void SimClient::StartAndWait(const std::wstring& instruments, DWORD readyTimeoutMs) {
  try {
    Start(instruments);
    WaitForReady(readyTimeoutMs);
  } catch (...) {
    Stop();
    throw;
  }
}

SimClient::~SimClient() { Stop(); }

void SimClient::Start(const std::wstring& instruments) {
  const std::wstring executable = FindExecutable();
  if (executable.empty()) throw std::runtime_error("velcorin-sim.exe not found");

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE childIn = nullptr, parentOut = nullptr, parentIn = nullptr, childOut = nullptr;
  if (!CreatePipe(&childIn, &parentOut, &inheritable, 0)) throw std::runtime_error("cannot create a pipe");
  UniqueKernelHandle childStdin(childIn);
  toSim_.reset(parentOut);
  if (!CreatePipe(&parentIn, &childOut, &inheritable, 0)) throw std::runtime_error("cannot create a pipe");
  UniqueKernelHandle childStdout(childOut);
  fromSim_.reset(parentIn);
  SetHandleInformation(toSim_.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(fromSim_.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childStdin.get();
  startup.hStdOutput = childStdout.get();
  startup.hStdError = childStdout.get();
  std::wstring commandLine = Quoted(executable) + L" --log " + Quoted(log_.Path()) + L" " + instruments;
  PROCESS_INFORMATION process{};
  if (!StartProcess(executable.c_str(), commandLine.data(), TRUE, CREATE_NO_WINDOW, nullptr, &startup, &process)) {
    throw std::runtime_error("cannot start velcorin-sim.exe (error " + std::to_string(GetLastError()) + ")");
  }
  CloseHandle(process.hThread);
  process_.reset(process.hProcess);
}

void SimClient::WaitForReady(DWORD timeoutMs) {
  const std::optional<std::string> line = ReadLine(timeoutMs);
  if (!line) throw std::runtime_error("velcorin-sim.exe did not get ready in time");
  if (*line != "READY") throw std::runtime_error("velcorin-sim.exe: " + *line);
}

// Returns whether the pipe still works; what came is appended to unread_.
bool SimClient::DrainOutput() {
  DWORD available = 0;
  if (!PeekNamedPipe(fromSim_.get(), nullptr, 0, nullptr, &available, nullptr)) return false;
  if (available == 0) return true;
  std::string chunk(available, '\0');
  DWORD got = 0;
  if (!ReadFile(fromSim_.get(), chunk.data(), available, &got, nullptr)) return false;
  unread_.append(chunk, 0, got);
  return true;
}

// Anonymous pipes have no time-out of their own: poll them.
std::optional<std::string> SimClient::ReadLine(DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const auto newline = unread_.find('\n');
    if (newline != std::string::npos) {
      std::string line = unread_.substr(0, newline);
      unread_.erase(0, newline + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (!fromSim_ || !DrainOutput() || GetTickCount64() > deadline) return std::nullopt;
    Sleep(1);
  }
}

bool SimClient::Send(std::string_view line) {
  const std::string text = std::string(line) + "\n";
  DWORD written = 0;
  return toSim_ && WriteFile(toSim_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

std::string SimClient::Command(std::string_view line, DWORD timeoutMs) {
  if (!Send(line)) return "ERR simulator not running";
  return ReadLine(timeoutMs).value_or("ERR no answer");
}

bool SimClient::Plug(std::string_view serial) { return IsOk(Command("plug " + std::string(serial))); }

bool SimClient::Unplug(std::string_view serial) { return IsOk(Command("unplug " + std::string(serial))); }

std::string SimClient::DevicePath(std::string_view serial) {
  const std::string answer = Command("path " + std::string(serial));
  return IsOk(answer) ? answer.substr(3) : std::string();
}

bool SimClient::WaitUntilAllFree(DWORD timeoutMs) {
  const std::string answer = Command("plugged");
  if (!IsOk(answer)) return false;
  std::istringstream serials(answer.substr(2));
  bool free = true;
  for (std::string serial; serials >> serial;) free = WaitUntilFree(serial, timeoutMs) && free;
  return free;
}

std::string NumberedSerial(std::string_view prefix, int n) {
  const std::string digits = std::to_string(n);
  return std::string(prefix) + (digits.size() < 2 ? "0" : "") + digits;
}

std::string NumberedInstruments(std::string_view prefix, int count, std::string_view sharedKeys,
                                const std::function<std::string(int)>& keysOf) {
  std::string text;
  for (int n = 0; n < count; ++n) {
    const std::string serial = NumberedSerial(prefix, n);
    text.append("[").append(serial).append("]\nserial = ").append(serial).append("\nmodel = M-").append(serial);
    text.append("\n").append(sharedKeys).append("\n").append(keysOf(n)).append("\n");
  }
  return text;
}

std::vector<std::string> SimClient::InSystemOrder(const std::vector<std::string>& serials) {
  std::map<std::string, std::string> byPath;
  for (const auto& serial : serials) byPath[DevicePath(serial)] = serial;
  std::vector<std::string> ordered;
  for (const auto& path : PresentInterfacePaths())
    if (auto found = byPath.find(path); found != byPath.end()) ordered.push_back(found->second);
  return ordered;
}

// Asked of the simulator, not of the pipe: an instrument that is free again the moment
// its client closes always has an instance listening.
bool SimClient::WaitUntilFree(std::string_view serial, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const std::string answer = Command("free " + std::string(serial));
    if (answer == "OK yes") return true;
    if (!IsOk(answer) || GetTickCount64() >= deadline) return false;
    Sleep(5);
  }
}

std::string SimClient::ReadLogFile() const {
  UniqueKernelHandle file(CreateFileW(log_.Path().c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string text;
  if (!file) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

void SimClient::MarkLog() {
  const std::string text = ReadLogFile();
  logMark_ = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
}

std::vector<LoggedRequest> SimClient::Requests() const {
  const std::string text = ReadLogFile();
  std::vector<LoggedRequest> requests;
  for (std::size_t start = logMark_; start < text.size();) {
    const auto newline = text.find('\n', start);
    if (newline == std::string::npos) break;  // a line still being written
    if (auto request = ParseLogLine(std::string_view(text).substr(start, newline - start))) {
      requests.push_back(std::move(*request));
    }
    start = newline + 1;
  }
  return requests;
}

std::vector<LoggedRequest> SimClient::RequestsOf(std::string_view serial) const {
  std::vector<LoggedRequest> requests;
  for (auto& request : Requests()) {
    if (request.serial == serial) requests.push_back(std::move(request));
  }
  return requests;
}

bool SimClient::Stop(DWORD timeoutMs) {
  if (!process_) return true;
  Send("quit");
  toSim_.reset();  // end of input means quit as well
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  bool ended = false;
  while (!(ended = WaitForSingleObject(process_.get(), 10) == WAIT_OBJECT_0) && GetTickCount64() < deadline) {
    DrainOutput();  // it must never block on a full output pipe while we wait for it
    unread_.clear();
  }
  if (!ended) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), INFINITE);
  }
  process_.reset();
  fromSim_.reset();
  return ended;
}

void SimClient::Kill() {
  if (!process_) return;
  TerminateProcess(process_.get(), 1);
  WaitForSingleObject(process_.get(), INFINITE);
  process_.reset();
  toSim_.reset();
  fromSim_.reset();
}

}  // namespace velcorin::sim
