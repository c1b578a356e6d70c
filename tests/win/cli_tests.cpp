// The velcorin tool as a user runs it, against simulated instruments: the copy
// that VELCORIN_CLI names, registered or from a folder with nothing registered.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "Velcorin_h.h"
#include "chooser_dialog.h"
#include "registry_snapshot.h"
#include "sim/sim_client.h"
#include "sim/start_process.h"
#include "trace/core/trace_line.h"

namespace {

using velcorin::sim::SimClient;
using velcorin::sim::TempFile;

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
       HANDLE output = nullptr) {
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
  ~Tool() {
    if (!started_) return;
    TerminateProcess(p_.hProcess, 99);
    CloseHandle(p_.hThread);
    CloseHandle(p_.hProcess);
  }
  // The exit status, or 99 when it had to be ended after the time limit.
  DWORD Wait(DWORD timeoutMs = 60000) {
    DWORD status = 99;
    if (started_ && WaitForSingleObject(p_.hProcess, timeoutMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(p_.hProcess, &status);
    return status;
  }
  std::string Out() const { return Slurp(out_.Path()); }
  std::string Err() const { return Slurp(err_.Path()); }
  DWORD Id() const { return p_.dwProcessId; }
  // Why the tool did not start, for a failure's message; "" when it did.
  std::string StartFailure() const {
    return started_ ? "" : "(the tool did not start: error " + std::to_string(startError_) + ")\n";
  }

 private:
  TempFile out_, err_;
  PROCESS_INFORMATION p_{};
  bool started_ = false;
  DWORD startError_ = 0;
};

// Waits for another process on a machine that may be busy.
constexpr DWORD kPatienceMs = 30000;

std::wstring Wide(const std::string& text) { return {text.begin(), text.end()}; }

// A simulated instrument that another program holds open: this one.
class Held {
 public:
  explicit Held(const std::string& path)
      : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~Held() { Release(); }
  bool held() const { return file_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (held()) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE file_;
};

// The demo's three instruments and one more that this program keeps open.
class Cli : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new SimClient(Slurp(WindowsPath("VELCORIN_DEMO_INI")));
    busySim_ = new SimClient("[busy]\nserial = BUSY7001\nmodel = BSY-7001\ntype = 0x7001\n");
    busy_ = new Held(busySim_->DevicePath("BUSY7001"));
  }
  static void TearDownTestSuite() {
    delete busy_;
    delete busySim_;
    delete sim_;
  }
  // {path:SERIAL} becomes that instrument's device path.
  static std::wstring Expand(std::wstring args) {
    for (std::size_t at; (at = args.find(L"{path:")) != args.npos;) {
      const auto end = args.find(L'}', at);
      const std::string serial(args.begin() + at + 6, args.begin() + end);
      std::string path = sim_->DevicePath(serial);
      if (path.empty()) path = busySim_->DevicePath(serial);
      args.replace(at, end - at + 1, Wide(path));
    }
    return args;
  }
  static void WaitUntilAllFree() { sim_->WaitUntilAllFree(); }
  static SimClient* sim_;
  static SimClient* busySim_;
  static Held* busy_;
};
SimClient* Cli::sim_ = nullptr;
SimClient* Cli::busySim_ = nullptr;
Held* Cli::busy_ = nullptr;

struct Case {
  std::wstring args;
  std::string input;  // standard input, a pipe
  DWORD status;
  std::string out, err;  // regular expressions searched for
};

void Check(const Case& c, Tool& tool) {
  const DWORD status = tool.Wait();
  const std::string out = tool.Out(), err = tool.Err(), name(c.args.begin(), c.args.end());
  EXPECT_EQ(status, c.status) << name << "\n" << tool.StartFailure() << out << err;
  EXPECT_TRUE(std::regex_search(out, std::regex(c.out))) << name << " printed:\n" << out;
  EXPECT_TRUE(std::regex_search(err, std::regex(c.err))) << name << " complained:\n" << err;
}

const std::string kBusyRow =
    "\\d  in use or not answering: \\\\\\\\\\?\\\\usb#vid_6a5b&pid_7001#busy7001#\\{[-0-9a-f]+\\}\n";
const std::string kRow = "\\d  ";
const std::string kDemoRows =
    "(\\d  (LDI-3001  DEMO3001  2\\.14      0x3001  2|TCM-1102  DEMO1102  1\\.07      0x1102  1|"
    "LDC-0105  DEMO0105  0\\.93      0x0105  3)\n|" +
    kBusyRow + "){4}$";

TEST_F(Cli, CommandLinesWhatTheyPrintAndTheirStatus) {
  ASSERT_TRUE(busy_->held());
  const Case cases[] = {
      {L"list", "", 0, "^#  Model     Serial    Firmware  Type    Channels\n" + kDemoRows, "^$"},
      {L"list --class 0x3000", "", 0, "^#.*\n(" + kRow + "LDI-3001 [^\n]*\n|" + kBusyRow + "){2}$", "^$"},
      {L"LIST --Exclude-Class &H3000", "", 0, "^#.*\n(" + kRow + "(TCM-1102|LDC-0105) [^\n]*\n|" + kBusyRow + "){3}$",
       "^$"},
      {L"list --exclude-id 0x1102 --class 0x1100 --json", "", 1,
       "^\\[\\{\"Index\": \\d, \"State\": \"unavailable\", "
       "\"DevicePath\": \"[^\"]*busy7001[^\"]*\", \"Exact\": \\{\\}\\}\\]\n$",
       "^velcorin: every instrument found is in use or not answering\n$"},
      {L"list --id 4354 --json", "", 0,
       "\\{\"Index\": \\d, \"State\": \"ready\", \"ModelNumber\": \"TCM-1102\", "
       "\"SerialNumber\": \"DEMO1102\", \"FirmwareVersion\": \"1\\.07\", \"ProductID\": 4354, \"VendorID\": 27227, "
       "\"ChannelCount\": 1, \"Description\": \"TEC Module\", \"DevicePath\": "
       "\"\\\\\\\\\\\\\\\\\\?\\\\\\\\usb#vid_6a5b&pid_1102#"
       "demo1102#[^\"]+\", \"ChannelNames\": \\[\"TEC\"\\], \"Exact\": \\{\"ModelNumber\": \"TCM-1102(\\\\u0000){9}\", "
       "\"SerialNumber\": \"DEMO1102(\\\\u0000){9}\", ((?!DevicePath)[^}])*\"ChannelNames\": "
       "\\[\"TEC(\\\\u0000){14}\"\\]\\}\\}",
       "^$"},
      {L"info DEMO1102", "", 0,
       "^Index:        \\d\nModel:        TCM-1102\nSerial:       DEMO1102\nFirmware:     1\\.07\n"
       "Type:         0x1102\nVendor:       0x6A5B\nChannels:     1\nDescription:  TEC Module\nPath:         "
       "\\\\\\\\\\?\\\\usb#"
       "vid_6a5b&pid_1102#demo1102#\\{[-0-9a-f]+\\}\nChannel 1:    TEC\n$",
       "^$"},
      {L"Info demo1102", "", 0, "Serial:       DEMO1102\n", "^$"},
      {L"info {path:DEMO0105} --JSON", "", 0,
       "\"SerialNumber\": \"DEMO0105\".*\"ChannelNames\": \\[\"Bias\", \"Modulation\", \"Monitor\"\\]", "^$"},
      {L"query DEMO3001 --op 1 --code 2", "", 0,
       "^DevType:  0 \\(0x0000\\)\nChannel:  0\nOpType:   1 \\(TypeRead\\)\n"
       "OpCode:   2 \\(CmdFwVer\\)\nEndCode:  0 \\(ErrOk\\)\nData:     2\\.14\n$",
       "^$"},
      {L"query DEMO1102 --op read --code FWVER --type 0x1102 --json", "", 0,
       "^\\{\"DevType\": 4354, \"Channel\": 0, \"OpType\": 1, "
       "\"OpTypeName\": \"TypeRead\", \"OpCode\": 2, \"OpCodeName\": \"CmdFwVer\", \"EndCode\": 0, \"EndCodeName\": "
       "\"ErrOk\", "
       "\"Data\": \"1\\.07\", \"Exact\": \\{\"Data\": \"1\\.07(\\\\u0000){13}\"\\}\\}\n$",
       "^$"},
      {L"query DEMO3001 --op 1 --code 7 --data \"echo \\\"me\\\"\" --json", "", 0, "\"Data\": \"echo \\\\\"me\\\\\"\"",
       "^$"},
      {L"query DEMO3001 --op 1 --code 7 --data \u00e9t\u00e9 --json", "", 0, "\"Data\": \"\xC3\xA9t\xC3\xA9\"", "^$"},
      {L"query DEMO3001 --op 1 --code 7 --data \u65E5", "", 0, "Data:     \\?\n",
       "^velcorin: warning: '\xE6\x97\xA5' has no byte of its own in code page \\d+ and goes out as '\\?'\n$"},
      {L"query DEMO3001 --op 1 --code 7 --data 123456789012345678", "", 2, "^$",
       "^velcorin: --data holds at most 17 characters \\(a packet's data field\\), not 18; see velcorin --help\n$"},
      {L"query DEMO3001 --op 1 --code 6 --channel 9", "", 1, "EndCode:  2 \\(ErrChannel\\)\n",
       "^velcorin: LDI-3001 DEMO3001 refused the command: end code 2 \\(ErrChannel\\)\n$"},
      {L"query DEMO3001 --op 1 --code 0 --repeat 5", "", 0,
       "Data:     LDI-3001\n5 queries, 0 failed; round trip min \\d+\\.\\d{3} ms, "
       "median \\d+\\.\\d{3} ms, max \\d+\\.\\d{3} ms\n$",
       "^$"},
      {L"query DEMO3001 --op 1 --code 6 --channel 9 --repeat 3 --json", "", 1,
       "\"EndCode\": 2, [^\n]*\"RoundTripMs\": \\{\"runs\": 3, \"failed\": 3, \"stopped\": false, \"min\": \\d",
       "refused"},
      {L"query DEMO3001 --op frob --code 0", "", 2, "^$", "^velcorin: OP: 'frob' is neither a number nor a name"},
      {L"cal DEMO3001 enter wrong", "", 1, "^$",
       "^velcorin: LDI-3001 DEMO3001 refused the password or did not reply\n$"},
      {L"cal DEMO3001 enter", "factory\r\n", 0, "^calibration mode entered\n$", "^$"},
      {L"cal DEMO3001 exit --json", "", 0, "^\\{\"CalibrationMode\": false\\}\n$", "^$"},
      {L"cal DEMO3001 enter", "", 2, "^$", "no PASSWORD given and none on standard input"},
      {L"cal DEMO3001 exit extra", "", 2, "^$", "^velcorin: unexpected argument 'extra' after cal DEVICE exit; see"},
      {L"info NOSUCH", "", 1, "^$",
       "^velcorin: no attached instrument has the serial number or index 'NOSUCH'; 1 present "
       "instrument is in use or not answering \\(velcorin list shows it\\)\n$"},
      {L"info 9", "", 1, "^$", "'9'"},
      {L"info {path:BUSY7001}", "", 1, "^$",
       "^velcorin: \\\\\\\\\\?\\\\usb#vid_6a5b&pid_7001#busy7001#[^ ]+ is in use by another program\n$"},
      {L"query {path:BUSY7001} --op 1 --code 0", "", 1, "^$", "is in use by another program\n$"},
      {L"info \\\\?\\usb#vid_6a5b&pid_7002#gone7002#{f27100c7-0000-0000-0000-000000000000}", "", 1, "^$",
       "^velcorin: no instrument is attached at \\\\\\\\\\?\\\\usb#vid_6a5b&pid_7002#gone7002#"},
      {L"list --class 0x30G0", "", 2, "^$", "^velcorin: --class: '0x30G0' is not a 32-bit number .*--help"},
      {L"query DEMO3001 --op 1", "", 2, "^$", "query needs --code CODE"},
      {L"info", "", 2, "^$", "info needs DEVICE"},
      {L"list --verbose", "", 2, "^$", "unknown option '--verbose' for list"},
      {L"", "", 2, "^$", "a command is needed"},
      {L"--help", "", 0, "^usage: velcorin COMMAND", "^$"},
      {L"/?", "", 0, "^usage: velcorin COMMAND", "^$"},
      {L"help query", "", 0, "^usage: velcorin query DEVICE \\[options\\]\n[^]*CmdFwVer=2[^]*ErrChannel=2", "^$"},
      {L"Watch -h", "", 0, "^usage: velcorin watch \\[options\\]\n", "^$"},
      {L"--help", "", 0, "\n  trace show FILE +[^\n]+\n[^]*\n  --trace FILE COMMAND +[^\n]+\n", "^$"},
      {L"help TRACE", "", 0, "^usage: velcorin trace show FILE \\[options\\]\n[^]*--since TIME", "^$"},
      {L"Trace Show --help", "", 0, "^usage: velcorin trace show FILE \\[options\\]\n", "^$"},
      {L"TRACE show nosuch.jsonl --JSON", "", 1, "^$", "^velcorin: cannot read nosuch\\.jsonl\n$"},
      {L"--version", "", 0,
       "^velcorin 1\\.00\\.0001 \\((\\d\\d)-bit\\)\nVelcorin\\.dll 1\\.00\\.0001 \\(\\1-bit\\)\n  "
       "[A-Z]:\\\\[^\n]*\\\\Velcorin\\.dll\n  (registered|beside velcorin\\.exe, through "
       "Halvern\\.Velcorin\\.manifest)\n$",
       "^$"},
      {L"shell DEMO3001",
       "query read model\nquery 1 6 0 9\n  # a comment\nwrite 1 7 0 0 \"late one\"\nread\ninfo\n"
       "cal enter\nfactory\ncal exit\nfrob\nquit\nquery 1 0\n",
       1,
       "^DevType:  0 \\(0x0000\\)\nChannel:  0\nOpType:   1 \\(TypeRead\\)\nOpCode:   0 \\(CmdModel\\)\nEndCode:  0 "
       "\\(ErrOk\\)\n"
       "Data:     LDI-3001\n[^]*EndCode:  2 \\(ErrChannel\\)\n[^]*OpCode:   7\nEndCode:  0 \\(ErrOk\\)\nData:     late "
       "one\n"
       "Index:[^]*Serial:       DEMO3001\n[^]*calibration mode entered\ncalibration mode left\n$",
       "^velcorin: LDI-3001 DEMO3001 refused the command: end code 2 \\(ErrChannel\\)\nvelcorin: unknown command "
       "'frob'; type help\n$"},
      {L"shell {path:DEMO1102} --json", "query 1 1\n", 0, "^\\{\"DevType\": 0, .*\"Data\": \"DEMO1102\", .*\\}\n$",
       "^$"},
  };
  for (const auto& c : cases) {
    Tool tool(Expand(c.args), c.input);
    Check(c, tool);
    WaitUntilAllFree();
  }
}

// An instrument that never answers: the others stay reachable, by their paths
// without waiting for it, and nothing about the wait reaches redirected output.
TEST_F(Cli, SilentInstrumentIsPresentButNotAnswering) {
  SimClient silent("[mute]\nserial = MUTE7003\ntype = 0x7003\nsilent = yes\n");
  const Case cases[] = {
      {L"list", "", 0,
       "^#.*\n(" + kRow + "[A-Z]{3}-\\d{4} [^\n]*\n|" + kBusyRow +
           "|\\d  in use or not answering: "
           "\\\\\\\\\\?\\\\usb#vid_6a5b&pid_7003#mute7003#[^\n]+\n){5}$",
       "^$"},
      {L"info {path:MUTE7003}", "", 1, "^$",
       "^velcorin: \\\\\\\\\\?\\\\usb#vid_6a5b&pid_7003#mute7003#[^ ]+ does not answer\n$"},
      {L"info MUTE7003", "", 1, "^$",
       "no attached instrument has the serial number or index 'MUTE7003'; 2 present "
       "instruments are in use or not answering"},
  };
  for (const auto& c : cases) {
    std::wstring args = c.args;
    if (auto at = args.find(L"{path:MUTE7003}"); at != args.npos)
      args.replace(at, 15, Wide(silent.DevicePath("MUTE7003")));
    Tool tool(args);
    Check(c, tool);
    WaitUntilAllFree();
  }
  silent.MarkLog();
  Tool byPath(Expand(L"query {path:DEMO3001} --op 1 --code 1"));
  Check({L"query by path", "", 0, "Data:     DEMO3001\n", "^$"}, byPath);
  EXPECT_TRUE(silent.RequestsOf("MUTE7003").empty());
}

// Ctrl+C as a user presses it: to every process on the console, this one
// letting it pass. (Wine 8 refuses Ctrl+Break, for a process group of its own
// as for the whole console, with error 6.)
class CtrlC : public Cli {
 protected:
  // One console for the suite: Wine refuses events on a second one with error 6.
  static void SetUpTestSuite() {
    Cli::SetUpTestSuite();
    FreeConsole();  // run from a pipe, Wine gives this process a stand-in without one
    // AllocConsole starts conhost.exe, a start that Wine may fail on a loaded machine
    // as it fails others (ERROR_INTERNAL_ERROR, see StartProcess): tried again then;
    // any other failure is reported with its error.
    for (int attempt = 1;; ++attempt) {
      if ((console_ = AllocConsole())) break;
      consoleError_ = GetLastError();
      if (consoleError_ != ERROR_INTERNAL_ERROR || attempt == 3) break;
      Sleep(100);
    }
    SetConsoleCtrlHandler(LetPass, TRUE);
  }
  static void TearDownTestSuite() {
    SetConsoleCtrlHandler(LetPass, FALSE);
    FreeConsole();
    Cli::TearDownTestSuite();
  }
  void SetUp() override { ASSERT_TRUE(console_) << "AllocConsole: error " << consoleError_; }
  static bool console_;
  static DWORD consoleError_;
  static std::atomic<int> passed_;
  static BOOL WINAPI LetPass(DWORD) {
    ++passed_;
    return TRUE;
  }
  // Sends the event and says how long the tool took to end, or nothing when it did not.
  // Wine delivers it to this process too, on a thread it starts here: the test goes on
  // only once that has run, so that none arrives while the process ends.
  static std::optional<ULONGLONG> Press(DWORD event, Tool& tool, DWORD& status) {
    const int before = passed_;
    const ULONGLONG pressed = GetTickCount64();
    if (!GenerateConsoleCtrlEvent(event, 0)) {
      ADD_FAILURE() << "GenerateConsoleCtrlEvent: error " << GetLastError();
      return std::nullopt;
    }
    EXPECT_TRUE(WaitFor([&] { return passed_ > before; }, kPatienceMs)) << "the event never reached this process";
    status = tool.Wait(10000);
    if (status == 99) return std::nullopt;
    return GetTickCount64() - pressed;
  }
};

bool CtrlC::console_ = false;
DWORD CtrlC::consoleError_ = 0;
std::atomic<int> CtrlC::passed_ = 0;

TEST_F(CtrlC, WatchReportsChangesAndTakenInstrumentsUntilCtrlC) {
  Tool watch(L"watch");
  auto lines = [&](const std::string& pattern) {
    const std::regex line(pattern);
    const std::string out = watch.Out();
    return std::distance(std::sregex_iterator(out.begin(), out.end(), line), std::sregex_iterator());
  };
  const std::string at = "\\d\\d:\\d\\d:\\d\\d ";
  ASSERT_TRUE(WaitFor([&] { return lines(at + "\\+ \\d [^\n]*\n") == 3; }, kPatienceMs)) << watch.Out();
  EXPECT_EQ(lines(at + "! \\d in use or not answering: [^\n]*busy7001"), 1) << watch.Out();
  ASSERT_TRUE(sim_->Unplug("DEMO1102"));
  EXPECT_TRUE(WaitFor([&] { return lines(at + "- \\d TCM-1102 DEMO1102 1\\.07 0x1102 1\n") == 1; }, kPatienceMs))
      << watch.Out();
  ASSERT_TRUE(sim_->Plug("DEMO1102"));
  EXPECT_TRUE(WaitFor([&] { return lines(at + "\\+ \\d TCM-1102 DEMO1102 ") == 2; }, kPatienceMs)) << watch.Out();
  {
    sim_->WaitUntilFree("DEMO0105");
    Held taken(sim_->DevicePath("DEMO0105"));
    ASSERT_TRUE(taken.held());
    EXPECT_TRUE(
        WaitFor([&] { return lines(at + "! \\d LDC-0105 DEMO0105 0\\.93 0x0105 3 in use or not answering\n") == 1; },
                kPatienceMs))
        << watch.Out();
  }
  EXPECT_TRUE(WaitFor([&] { return lines(at + "\\+ \\d LDC-0105 DEMO0105 ") == 2; }, kPatienceMs)) << watch.Out();
  EXPECT_EQ(lines(at + "- \\d LDC-0105"), 0) << watch.Out();
  DWORD status = 0;
  const auto took = Press(CTRL_C_EVENT, watch, status);
  ASSERT_TRUE(took) << "watch did not end";
  std::printf("watch ended %llu ms after Ctrl+C\n", *took);
  EXPECT_EQ(status, 0u) << watch.Err();
  EXPECT_EQ(watch.Err(), "");
}

std::size_t ThreadsOf(DWORD process) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  std::size_t count = 0;
  THREADENTRY32 thread{sizeof thread};
  for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread))
    count += thread.th32OwnerProcessID == process;
  CloseHandle(snapshot);
  return count;
}

// In the middle of a call into the component: the process ends, and so does its
// hold on the instrument.
TEST_F(CtrlC, EndsAQueryInTheMiddleAndLeavesTheInstrumentUsable) {
  sim_->MarkLog();
  Tool query(L"query DEMO3001 --op 1 --code 0 --repeat 1000000");
  // Past the identity query of the opening: the queries are running.
  ASSERT_TRUE(WaitFor([&] { return sim_->RequestsOf("DEMO3001").size() > 20; }, kPatienceMs)) << query.Err();
  const std::size_t threads = ThreadsOf(query.Id());
  DWORD status = 0;
  const auto took = Press(CTRL_C_EVENT, query, status);
  // Which step stopped short: no new thread, the event never reached it; no report,
  // its handler did not get that far; a report, ending the process did not work
  // (and when it still queries, its main thread survived).
  if (!took) {
    const std::size_t asked = sim_->RequestsOf("DEMO3001").size();
    Sleep(1000);
    FAIL() << "query did not end; its threads: " << threads << " before, " << ThreadsOf(query.Id())
           << " after; requests in the last second: " << sim_->RequestsOf("DEMO3001").size() - asked
           << "; it printed:\n"
           << query.Out();
  }
  std::printf("query ended %llu ms after Ctrl+C\n", *took);
  EXPECT_EQ(status, 130u);
  // What it did until then, as at its end.
  EXPECT_TRUE(std::regex_match(
      query.Out(),
      std::regex("DevType:[^]*\nData:     LDI-3001\nstopped by Ctrl\\+C after \\d+ of 1000000 queries, 0 "
                 "failed; round trip min \\d+\\.\\d{3} ms, median \\d+\\.\\d{3} ms, max \\d+\\.\\d{3} ms\n")))
      << query.Out();
  ASSERT_TRUE(sim_->WaitUntilFree("DEMO3001"));
  Tool after(Expand(L"info {path:DEMO3001}"));
  EXPECT_EQ(after.Wait(), 0u) << after.Err();
}

// A reader that goes away ends `watch` as Ctrl+C does: it does not run on unseen.
TEST_F(Cli, WatchEndsWhenItsReaderHasGone) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  ASSERT_TRUE(CreatePipe(&read, &write, &inherit, 0));
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  Tool watch(L"watch", "", 0, write);
  DWORD waiting = 0;
  ASSERT_TRUE(
      WaitFor([&] { return PeekNamedPipe(read, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0; }, kPatienceMs));
  CloseHandle(read);
  ASSERT_TRUE(sim_->Unplug("DEMO1102"));  // a change it must print
  EXPECT_EQ(watch.Wait(kPatienceMs), 0u) << watch.Err();
  ASSERT_TRUE(sim_->Plug("DEMO1102"));
}

HWND DialogOf(DWORD process) {
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"#32770", L"Select Device"));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process) return window;
  }
  return nullptr;
}

// The dialog is another process's: it is found and driven by its window.
TEST_F(Cli, DialogChoosePrintsThePathOrRecordAndCancelIsStatus1) {
  const struct {
    bool open;
    const wchar_t* args;
    const char* out;
  } cases[] = {{false, L"choose --json", "null\n"},
               {true, L"choose", "\\\\\\\\\\?\\\\usb#[^\n]*\n"},
               {true, L"choose --json", "\\{\"Index\": \\d, \"State\": \"ready\", \"ModelNumber\": [^\n]*\\}\n"}};
  for (const auto& c : cases) {
    Tool choose(c.args);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (dialog = DialogOf(choose.Id())) != nullptr; }, kPatienceMs));
    if (c.open) {
      // The tree fills after the window shows, between any two of our messages:
      // a step from a missing node must not restart at the top (a child of none is the root).
      HWND tree = nullptr;
      auto child = [&](HTREEITEM of) { return of ? TreeView_GetChild(tree, of) : nullptr; };
      HTREEITEM device = nullptr;
      ASSERT_TRUE(WaitFor(
          [&] {
            tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
            return (device = child(child(TreeView_GetRoot(tree)))) != nullptr;
          },
          kPatienceMs));
      TreeView_SelectItem(tree, device);
      SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    } else {
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(choose.Wait(), c.open ? 0u : 1u) << choose.Err();
    EXPECT_TRUE(std::regex_match(choose.Out(), std::regex(c.out))) << choose.Out();
    WaitUntilAllFree();
  }
}

// A component error ends the tool with status 3, its number and description:
// under a double-byte code page a character of two bytes cannot be sent.
TEST(CliErrors, ComponentErrorIsStatus3) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932 (LC_ALL=ja_JP.UTF-8)";
  SimClient sim("[a]\nserial = CP932\n");
  Tool tool(L"query CP932 --op 2 --code 7 --data \u65E5");
  EXPECT_EQ(tool.Wait(), 3u);
  EXPECT_TRUE(std::regex_search(tool.Err(), std::regex("^velcorin: the component raised error 6: .+\n$")))
      << tool.Err();
}

// The assembly manifest activated on this thread while the object lives.
class Activated {
 public:
  explicit Activated(const std::wstring& manifest) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.lpSource = manifest.c_str();
    context_ = CreateActCtxW(&request);
    active_ = context_ != INVALID_HANDLE_VALUE && ActivateActCtx(context_, &cookie_);
  }
  ~Activated() {
    if (active_) DeactivateActCtx(0, cookie_);
    if (context_ != INVALID_HANDLE_VALUE) ReleaseActCtx(context_);
  }
  bool active() const { return active_; }

 private:
  HANDLE context_ = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

template <class T>
HRESULT Create(const wchar_t* progId, T** object) {
  CLSID clsid{};
  const HRESULT hr = CLSIDFromProgID(progId, &clsid);
  return FAILED(hr)
             ? hr
             : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), reinterpret_cast<void**>(object));
}

// With nothing registered, the assembly manifest alone makes every class creatable.
TEST(CliUnregistered, ManifestDeclaresEveryClass) {
  const std::wstring manifest = WindowsPath("VELCORIN_ASSEMBLY");
  if (manifest.empty()) GTEST_SKIP() << "registered run";
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  IDispatch* object = nullptr;
  ASSERT_NE(Create(L"Velcorin.Device", &object), S_OK) << "the prefix has Velcorin registered";
  {
    const Activated activated(manifest);
    ASSERT_TRUE(activated.active());
    for (const wchar_t* progId :
         {L"Velcorin.Device", L"Velcorin.Packet", L"Velcorin.Chooser", L"Velcorin.DevInfo", L"Velcorin.EnumFilter"}) {
      ITypeInfo* type = nullptr;
      ASSERT_EQ(Create(progId, &object), S_OK) << progId;
      EXPECT_EQ(object->GetTypeInfo(0, 0x409, &type), S_OK);
      if (type) type->Release();
      object->Release();
    }
  }
  CoUninitialize();
}

// A filter reached from another apartment goes through the DLL's own proxy,
// which the manifest names: through the type library's marshaller the members
// before its undescribed slot would land one slot late.
TEST(CliUnregistered, FilterCrossesApartmentsThroughTheDllsProxy) {
  const std::wstring manifest = WindowsPath("VELCORIN_ASSEMBLY");
  if (manifest.empty()) GTEST_SKIP() << "registered run";
  IStream* stream = nullptr;
  const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread home([&] {
    const Activated activated(manifest);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    _EnumFilter* filter = nullptr;
    if (SUCCEEDED(Create(L"Velcorin.EnumFilter", &filter))) {
      CoMarshalInterThreadInterfaceInStream(IID__EnumFilter, filter, &stream);
      filter->Release();
    }
    SetEvent(ready);
    for (MSG message; MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1;)
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    CoUninitialize();
  });
  {
    const Activated activated(manifest);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    WaitForSingleObject(ready, INFINITE);
    _EnumFilter* proxy = nullptr;
    ASSERT_TRUE(stream);
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, IID__EnumFilter, reinterpret_cast<void**>(&proxy)), S_OK);
    FilterActionEnum action = IncludeDevs;
    FilterTargetEnum target = FilterByDeviceId;
    EXPECT_EQ(proxy->put_FilterAction(ExcludeDevs), S_OK);
    EXPECT_EQ(proxy->get_FilterAction(&action), S_OK);
    EXPECT_EQ(proxy->get_FilterTarget(&target), S_OK);
    EXPECT_EQ(action, ExcludeDevs);
    EXPECT_EQ(target, FilterByDeviceClass);
    proxy->Release();
    CoUninitialize();
  }
  SetEvent(done);
  home.join();
  CloseHandle(ready);
  CloseHandle(done);
}

// --- the same instruments from velcorin-sim.exe and from the component itself ----

std::wstring WriteTemp(const TempFile& file, const std::string& text) {
  std::ofstream(std::filesystem::path(file.Path()), std::ios::binary) << text;
  return file.Path();
}

// Each instrument's exchanges as a trace saw them, by path: opens, and every
// write and read with its outcome and bytes. `simulated`: how many lines said so.
std::map<std::string, std::vector<std::string>> Exchanges(const std::wstring& traceFile, std::size_t& simulated) {
  using velcorin::trace::EventKind;
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> pathOf;
  std::map<std::string, std::vector<std::string>> exchanges;
  simulated = 0;
  for (const auto& e : velcorin::trace::ParseTrace(Slurp(traceFile))) {
    simulated += e.simulated;
    const std::string outcome(velcorin::trace::OutcomeName(e.outcome));
    if (e.kind == EventKind::Open) {
      std::string path = e.path;
      for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      pathOf[{e.pid, e.handle}] = path;
      exchanges[path].push_back("open " + outcome);
    } else if (e.kind == EventKind::Write || e.kind == EventKind::Read) {
      const std::string kind = e.kind == EventKind::Write ? "write " : "read ";
      const bool reply = e.kind == EventKind::Read;
      exchanges[pathOf[{e.pid, e.handle}]].push_back(kind + outcome + " " +
                                                     velcorin::trace::HexOf(e.bytes, e.masked, reply));
    }
  }
  return exchanges;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

struct ToolRun {
  DWORD status;
  std::string out, err;
  std::map<std::string, std::vector<std::string>> exchanges;
  std::size_t simulatedLines;
  std::size_t lines;
};

ToolRun RunTraced(const std::wstring& globalOptions, const std::wstring& args, const std::string& input) {
  TempFile trace;
  Tool tool(globalOptions + L"--trace \"" + trace.Path() + L"\" " + args, input);
  ToolRun run{tool.Wait(120000), tool.Out(), tool.Err(), {}, 0, 0};
  run.exchanges = Exchanges(trace.Path(), run.simulatedLines);
  run.lines = velcorin::trace::ParseTrace(Slurp(trace.Path())).size();
  return run;
}

const std::string kPair =
    "[a]\nmodel = LDI-3001\nserial = SIMA3001\nfirmware = 2.14\ntype = 0x3001\nchannels = 2\n"
    "channel1 = Laser A\nchannel2 = Laser B\npassword = factory\nfree_on_close = yes\n"
    "[b]\nmodel = TCM-1102\nserial = SIMB1102\ntype = 0x1102\npadding = zeros\nfree_on_close = yes\n";
// One channel: opening takes 7 exchanges, so a shell's first command is transfer 8.
std::string One(const std::string& serial, const std::string& faults) {
  return "[x]\nmodel = FLT-7000\nserial = " + serial + "\ntype = 0x7000\nchannels = 1\nfree_on_close = yes\n" + faults;
}

struct Scenario {
  const char* name;
  std::string config;
  std::wstring args;
  std::string input;
};

// Each row runs once against velcorin-sim.exe through the system's device list
// and once against the component's own simulation of the same configuration,
// each in a process of its own: what the tool prints, its status, and every
// exchange each instrument saw must be the same.
TEST(SimulateBuiltIn, BehavesAsTheSimulatorThroughTheSystem) {
  const std::string shell = "query 1 2\nread\nquery 1 1\nquery 1 2\nquit\n";
  const Scenario rows[] = {
      {"healthy", kPair, L"list", ""},
      {"healthy, one record", kPair, L"info SIMB1102 --json", ""},
      {"healthy, a session", kPair, L"shell SIMA3001",
       "query 1 0\nquery 1 6 0 2\nquery 1 6 0 9\ncal enter wrong\ncal enter factory\ncal exit\n"
       "write 1 7 0 0 echo\nread\nread\nquit\n"},
      {"class filter", kPair, L"list --class 0x3000", ""},
      {"id filter", kPair, L"list --exclude-id 0x1102", ""},
      {"silent", kPair + "[s]\nserial = SIMS7003\ntype = 0x7003\nsilent = yes\n", L"list", ""},
      {"late, in time", One("SIML7004", "delay_ms = 300\n"), L"shell SIML7004", shell},
      {"late, after the bound", One("SIML7005", "delay_ms = 1500\ndelay_transfers = 8\n"), L"shell SIML7005", shell},
      {"failing, empty", One("SIMF7006", "fail_transfers = 8,10\nfail_mode = empty\n"), L"shell SIMF7006", shell},
      {"failing, no reply", One("SIMF7007", "fail_transfers = 8\n"), L"shell SIMF7007", shell},
      {"unplugging in a session", One("SIMU7008", "unplug_after = 9\n"), L"shell SIMU7008", shell},
      {"unplugging while listed", kPair + One("SIMU7009", "unplug_after = 3\n"), L"list", ""},
      {"random replies",
       One("SIMR7010",
           "random_replies = yes\nrandom_sizes = yes\nrandom_seed = 5\n"
           "random_transfers = 8,9,10,11\n"),
       // What an overlong reply leaves is read before the next command: with a request
       // out, the simulator's next reply may or may not have joined it.
       L"shell SIMR7010", "query 1 2\nread\nquery 1 1\nread\nquery 1 2\nread\nquit\n"},
      {"text overrides", kPair + One("SIMT7011", "chanct_text = many\n") + One("SIMT7012", "devtype_text = \" 7\"\n"),
       L"list", ""},
      {"channels unanswered", One("SIMC7013", "answer_channels = no\n"), L"info SIMC7013", ""},
  };
  for (const Scenario& row : rows) {
    SCOPED_TRACE(row.name);
    ToolRun real;
    {
      SimClient sim(row.config);
      real = RunTraced(L"", row.args, row.input);
    }
    TempFile config;
    ToolRun simulated = RunTraced(L"--simulate \"" + WriteTemp(config, row.config) + L"\" ", row.args, row.input);
    EXPECT_EQ(simulated.status, real.status);
    EXPECT_EQ(simulated.out, real.out);
    EXPECT_EQ(simulated.err, real.err);
    EXPECT_EQ(simulated.exchanges.size(), real.exchanges.size());
    for (const auto& [path, seen] : real.exchanges) EXPECT_EQ(Joined(simulated.exchanges[path]), Joined(seen)) << path;
    EXPECT_EQ(real.simulatedLines, 0u);
    EXPECT_EQ(simulated.simulatedLines, simulated.lines);
    EXPECT_GT(simulated.lines, 0u);
  }
}

// A simulation asked for but not to be had: the calls that would reach an
// instrument raise error 5 naming the file (and the line), and no instrument,
// though one is attached, is touched; one that is had reaches only its own.
TEST(SimulateBuiltIn, FileThatCannotBeUsedReachesNoInstrument) {
  SimClient attached(kPair);
  const std::string path = attached.DevicePath("SIMA3001");
  TempFile badKey, noInstrument;
  WriteTemp(badKey, "[a]\nserial = SIMA3001\n\ncolour = red\n");
  WriteTemp(noInstrument, "{\"t\":1,\"pid\":1,\"tid\":1,\"ev\":\"close\",\"h\":1}\n");
  const std::string missing = "Z:\\no\\such\\simulation.ini";
  const struct {
    std::wstring file;
    std::string why;
  } files[] = {{Wide(missing), "cannot be read \\(system error 3\\)"},
               {badKey.Path(), "line 4: unknown key colour"},
               {noInstrument.Path(), "the trace names no instrument"}};
  for (const auto& f : files) {
    for (const std::wstring& command :
         {std::wstring(L"list"), L"info " + Wide(path), L"query " + Wide(path) + L" --op 1 --code 1"}) {
      Tool tool(L"--simulate \"" + f.file + L"\" " + command);
      const std::string file(f.file.begin(), f.file.end());
      Check({command, "", 3, "^$",
             "^velcorin: the component raised error 5: Simulated instruments \\(VELCORIN_SIMULATE\\): " +
                 std::regex_replace(file, std::regex("[\\\\.]"), "\\$&") + ": " + f.why + "; no instrument is used\n$"},
            tool);
    }
  }
  // Nor does a simulation that works: the attached instrument is neither listed nor opened at its path.
  TempFile other;
  WriteTemp(other, One("SIMZ7015", ""));
  Tool listed(L"--simulate \"" + other.Path() + L"\" list");
  Check({L"list, simulated", "", 0, "^#.*\n1  FLT-7000  SIMZ7015  [^\n]*\n$", "^$"}, listed);
  Tool opened(L"--simulate \"" + other.Path() + L"\" info " + Wide(path));
  Check({L"info, simulated", "", 1, "^$", "^velcorin: no instrument is attached at "}, opened);
  EXPECT_TRUE(attached.RequestsOf("SIMA3001").empty());
  EXPECT_TRUE(attached.RequestsOf("SIMB1102").empty());
  // The user's setting, where an environment variable is awkward, is read the same way.
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Velcorin", L"Simulate", REG_SZ, badKey.Path().c_str(),
                            static_cast<DWORD>((badKey.Path().size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  Tool fromSetting(L"list");
  const DWORD status = fromSetting.Wait();
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Velcorin", L"Simulate");
  EXPECT_EQ(status, 3u);
  EXPECT_TRUE(
      std::regex_search(fromSetting.Err(), std::regex("\\(HKCU\\\\Software\\\\Velcorin\\\\Simulate\\): .*line 4")))
      << fromSetting.Err();
  EXPECT_TRUE(attached.RequestsOf("SIMA3001").empty());
}

// A trace of the C++ sample against velcorin-sim.exe, replayed inside the
// component with no simulator running, gives the sample's output byte for byte.
TEST(SimulateBuiltIn, ReplayedTraceReproducesTheSampleExactly) {
  const std::filesystem::path tool(WindowsPath("VELCORIN_CLI"));
  const bool beside = !WindowsPath("VELCORIN_ASSEMBLY").empty();
  const Program sample{(beside ? tool.parent_path() : tool.parent_path().parent_path() / L"samples") /
                       L"list_devices.exe"};
  TempFile trace;
  std::string recorded;
  {
    SimClient demo(Slurp(WindowsPath("VELCORIN_DEMO_INI")));
    SetEnvironmentVariableW(L"VELCORIN_TRACE", trace.Path().c_str());
    Tool run(sample, L"");
    SetEnvironmentVariableW(L"VELCORIN_TRACE", nullptr);
    ASSERT_EQ(run.Wait(), 0u) << run.Out() << run.Err();
    recorded = run.Out();
  }
  ASSERT_TRUE(std::regex_search(recorded, std::regex("Instruments: 3\r?\n[^]*DONE")));
  SetEnvironmentVariableW(L"VELCORIN_SIMULATE", trace.Path().c_str());
  Tool replayed(sample, L"");
  SetEnvironmentVariableW(L"VELCORIN_SIMULATE", nullptr);
  EXPECT_EQ(replayed.Wait(), 0u) << replayed.Err();
  EXPECT_EQ(replayed.Out(), recorded);
}

// The other process's dialog, read through buffers in that process.
std::vector<std::wstring> TreeTexts(HWND tree, DWORD process) {
  std::vector<std::wstring> texts;
  const HANDLE target = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
  if (!target) return texts;
  constexpr int kChars = 512;
  auto* remote = static_cast<std::uint8_t*>(
      VirtualAllocEx(target, nullptr, sizeof(TVITEMW) + kChars * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
  std::function<void(HTREEITEM)> walk = [&](HTREEITEM item) {
    for (; item; item = TreeView_GetNextSibling(tree, item)) {
      TVITEMW request{};
      request.mask = TVIF_TEXT | TVIF_HANDLE;
      request.hItem = item;
      request.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(TVITEMW));
      request.cchTextMax = kChars;
      wchar_t text[kChars] = {};
      WriteProcessMemory(target, remote, &request, sizeof request, nullptr);
      SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote));
      ReadProcessMemory(target, remote + sizeof(TVITEMW), text, sizeof text - sizeof(wchar_t), nullptr);
      texts.push_back(text);
      walk(TreeView_GetChild(tree, item));
    }
  };
  if (remote) walk(TreeView_GetRoot(tree));
  if (remote) VirtualFreeEx(target, remote, 0, MEM_RELEASE);
  CloseHandle(target);
  return texts;
}

// The tree once it shows an instrument (or, failing that, anything at all), then cancelled.
std::vector<std::wstring> DialogTree(const std::wstring& globalOptions, std::size_t nodes) {
  Tool choose(globalOptions + L"choose");
  HWND dialog = nullptr, tree = nullptr;
  std::vector<std::wstring> texts;
  EXPECT_TRUE(WaitFor([&] { return (dialog = DialogOf(choose.Id())) != nullptr; }, kPatienceMs));
  if (!dialog) return texts;
  EXPECT_TRUE(WaitFor(
      [&] {
        tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
        return tree && (texts = TreeTexts(tree, choose.Id())).size() >= nodes;
      },
      kPatienceMs));
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(choose.Wait(), 1u);
  return texts;
}

TEST(SimulateBuiltIn, DialogListsTheSameOrSaysWhyNot) {
  const std::string config = kPair + One("SIMS7014", "silent = yes\n");
  std::vector<std::wstring> real;
  {
    SimClient sim(config);
    real = DialogTree(L"", 5);  // My Computer, two classes, two instruments
  }
  TempFile file, bad;
  EXPECT_EQ(DialogTree(L"--simulate \"" + WriteTemp(file, config) + L"\" ", 5), real);
  const auto failure = DialogTree(L"--simulate \"" + WriteTemp(bad, "[a]\nserial = A\ncolour = red\n") + L"\" ", 1);
  ASSERT_EQ(failure.size(), 1u);
  EXPECT_NE(failure[0].find(bad.Path() + L": line 3: unknown key colour"), std::wstring::npos) << failure[0];
}

// The samples as a user tries them: the shipped configuration, no simulator
// running, and nothing written under HKEY_LOCAL_MACHINE (where velcorin-sim.exe
// has to write its instruments).
TEST(SimulateBuiltIn, SamplesRunWithNoSimulatorAndWriteNothingMachineWide) {
  const std::filesystem::path source =
      std::filesystem::path(WindowsPath("VELCORIN_DEMO_INI")).parent_path().parent_path();
  const std::filesystem::path tool(WindowsPath("VELCORIN_CLI"));
  const bool beside = !WindowsPath("VELCORIN_ASSEMBLY").empty();
  std::vector<std::pair<Program, std::wstring>> runs = {
      {Program{((beside ? tool.parent_path() : tool.parent_path().parent_path() / L"samples") / L"list_devices.exe")
                   .wstring()},
       L""}};
  // Script hosts find the component only registered.
  if (!beside)
    runs.push_back(
        {Program{L"cscript.exe"}, L"//nologo \"" + (source / L"samples" / L"list-devices.vbs").wstring() + L"\""});
  const auto machineWide = [] {
    Snapshot all = TakeWholeSnapshot({L"HKLM\\Hardware", L"\\Control\\ServiceCurrent", L"\\Control\\Video"});
    std::erase_if(all, [](const auto& entry) { return !entry.first.starts_with(L"HKLM"); });
    return all;
  };
  const Snapshot before = machineWide();
  SetEnvironmentVariableW(L"VELCORIN_SIMULATE", (source / L"samples" / L"simulated-instruments.ini").c_str());
  for (const auto& [program, args] : runs) {
    Tool run(program, args);
    EXPECT_EQ(run.Wait(120000), 0u) << run.Err();
    EXPECT_TRUE(std::regex_search(run.Out(), std::regex("Instruments: 3\r?\n[^]*DONE"))) << run.Out() << run.Err();
  }
  SetEnvironmentVariableW(L"VELCORIN_SIMULATE", nullptr);
  EXPECT_EQ(Differences(before, machineWide()), L"");
}

}  // namespace
