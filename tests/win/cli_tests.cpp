// The velcorin tool as a user runs it, against simulated instruments: the copy
// that VELCORIN_CLI names, registered or from a folder with nothing registered.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Velcorin_h.h"
#include "sim/sim_client.h"
#include "tool_run.h"
#include "wait_for.h"

namespace {

using velcorin::sim::SimClient;

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
  // Each row in turn, every instrument free again before the next.
  static void RunEach(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      Tool tool(Expand(c.args), c.input);
      Check(c, tool);
      WaitUntilAllFree();
    }
  }
  static SimClient* sim_;
  static SimClient* busySim_;
  static Held* busy_;
};
SimClient* Cli::sim_ = nullptr;
SimClient* Cli::busySim_ = nullptr;
Held* Cli::busy_ = nullptr;

const std::string kBusyRow =
    "\\d  in use or not answering: \\\\\\\\\\?\\\\usb#vid_6a5b&pid_7001#busy7001#\\{[-0-9a-f]+\\}\n";
const std::string kRow = "\\d  ";
const std::string kDemoRows =
    "(\\d  (LDI-3001  DEMO3001  2\\.14      0x3001  2|TCM-1102  DEMO1102  1\\.07      0x1102  1|"
    "LDC-0105  DEMO0105  0\\.93      0x0105  3)\n|" +
    kBusyRow + "){4}$";

TEST_F(Cli, ListingAndInfoWhatTheyPrintAndTheirStatus) {
  ASSERT_TRUE(busy_->held());
  RunEach({
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
      {L"info NOSUCH", "", 1, "^$",
       "^velcorin: no attached instrument has the serial number or index 'NOSUCH'; 1 present "
       "instrument is in use or not answering \\(velcorin list shows it\\)\n$"},
      {L"info 9", "", 1, "^$", "'9'"},
      {L"info {path:BUSY7001}", "", 1, "^$",
       "^velcorin: \\\\\\\\\\?\\\\usb#vid_6a5b&pid_7001#busy7001#[^ ]+ is in use by another program\n$"},
      {L"info \\\\?\\usb#vid_6a5b&pid_7002#gone7002#{f27100c7-0000-0000-0000-000000000000}", "", 1, "^$",
       "^velcorin: no instrument is attached at \\\\\\\\\\?\\\\usb#vid_6a5b&pid_7002#gone7002#"},
  });
}

TEST_F(Cli, QueriesCalibrationAndShellWhatTheyPrintAndTheirStatus) {
  ASSERT_TRUE(busy_->held());
  RunEach({
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
      {L"query {path:BUSY7001} --op 1 --code 0", "", 1, "^$", "is in use by another program\n$"},
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
  });
}

TEST_F(Cli, HelpVersionTraceAndUsageErrorsWhatTheyPrintAndTheirStatus) {
  RunEach({
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
  });
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

}  // namespace
