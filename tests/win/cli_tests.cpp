// The velcorin tool as a user runs it, against simulated instruments: the copy
// that VELCORIN_CLI names, registered or from a folder with nothing registered.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "Velcorin_h.h"
#include "chooser_dialog.h"
#include "sim/sim_client.h"

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

// One run of the tool, its output going to files that can be read while it runs.
class Tool {
 public:
  explicit Tool(const std::wstring& args, DWORD flags = 0) {
    std::wstring line = L"\"" + WindowsPath("VELCORIN_CLI") + L"\" " + args;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = Inheritable(out_.Path());
    startup.hStdError = Inheritable(err_.Path());
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &p_);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
  }
  ~Tool() {
    if (!started_) return;
    TerminateProcess(p_.hProcess, 99);
    CloseHandle(p_.hThread);
    CloseHandle(p_.hProcess);
  }
  // The exit status, or 99 when it had to be ended after the time limit.
  DWORD Wait(DWORD timeoutMs = 30000) {
    DWORD status = 99;
    if (started_ && WaitForSingleObject(p_.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(p_.hProcess, &status);
    return status;
  }
  std::string Out() const { return Slurp(out_.Path()); }
  std::string Err() const { return Slurp(err_.Path()); }
  DWORD Id() const { return p_.dwProcessId; }

 private:
  TempFile out_, err_;
  PROCESS_INFORMATION p_{};
  bool started_ = false;
};

// Waits for another process on a machine that may be busy.
constexpr DWORD kPatienceMs = 30000;

std::wstring Wide(const std::string& text) { return {text.begin(), text.end()}; }

class Cli : public testing::Test {
 protected:
  static void SetUpTestSuite() { sim_ = new SimClient(Slurp(WindowsPath("VELCORIN_DEMO_INI"))); }
  static void TearDownTestSuite() { delete sim_; }
  static SimClient* sim_;
};
SimClient* Cli::sim_ = nullptr;

TEST_F(Cli, CommandLinesAndWhatTheyPrint) {
  const std::string row = "\\d  ";
  const struct { std::wstring args; DWORD status; std::string out, err; } cases[] = {
      {L"list", 0, "^#  Model     Serial    Firmware  Type    Channels\n(\\d  (LDI-3001  DEMO3001  2\\.14      0x3001  2|"
                   "TCM-1102  DEMO1102  1\\.07      0x1102  1|LDC-0105  DEMO0105  0\\.93      0x0105  3)\n){3}$", "^$"},
      {L"list --class 0x3000", 0, "^#.*\n" + row + "LDI-3001 [^\n]*\n$", "^$"},
      {L"list --exclude-class &H3000", 0, "^#.*\n(" + row + "(TCM-1102|LDC-0105) [^\n]*\n){2}$", "^$"},
      {L"list --exclude-id 0x1102 --class 0x1100 --json", 1, "^\\[\\]\n$", "no instruments found"},
      {L"list --id 4354 --json", 0, "^\\[\\{\"Index\": \\d, \"ModelNumber\": \"TCM-1102(\\\\u0000){9}\", "
                                   "\"SerialNumber\": \"DEMO1102(\\\\u0000){9}\", \"FirmwareVersion\": \"1\\.07(\\\\u0000){13}\", "
                                   "\"ProductID\": 4354, \"VendorID\": 27227, \"ChannelCount\": 1, .*"
                                   "\"DevicePath\": \"(\\\\\\\\\\\\u0000){2}\\?\\\\u0000.*\"ChannelNames\": \\[\"TEC(\\\\u0000){14}\"\\]\\}\\]\n$", "^$"},
      {L"info DEMO1102", 0, "^Model:        TCM-1102\nSerial:       DEMO1102\nFirmware:     1\\.07\nType:         0x1102\n"
                           "Vendor:       0x6A5B\nChannels:     1\nDescription:  TEC Module\nPath:         \\\\\\\\\\?\\\\usb#"
                           "[^\n]*demo1102[^\n]*\nChannel 1:    TEC\n$", "^$"},
      {L"info {path} --json", 0, "\"SerialNumber\": \"DEMO0105\".*\"ChannelNames\": \\[\"Bias\", \"Modulation\", \"Monitor\"\\]", ""},
      {L"query DEMO3001 --op 1 --code 2", 0, "^DevType:  0 \\(0x0000\\)\nChannel:  0\nOpType:   1\nOpCode:   2\nEndCode:  0\n"
                                             "Data:     2\\.14 {13}\n$", "^$"},
      {L"query DEMO1102 --op &H1 --code 0x2 --type 0x1102 --json", 0, "^\\{\"DevType\": 4354, \"Channel\": 0, \"OpType\": 1, "
                                                   "\"OpCode\": 2, \"EndCode\": 0, \"Data\": \"1\\.07(\\\\u0000){13}\"\\}\n$", "^$"},
      {L"query DEMO3001 --op 1 --code 7 --data \"echo \\\"me\\\"\" --json", 0, "\"Data\": \"echo \\\\\"me\\\\\"(\\\\u0000){8}\"", "^$"},
      {L"query DEMO3001 --op 1 --code 6 --channel 9", 1, "EndCode:  2\n", "^velcorin: LDI-3001 DEMO3001 refused the command: end code 2\n$"},
      {L"query DEMO3001 --op 1 --code 0 --repeat 5", 0, "Data:     LDI-3001 {9}\nRound trip over 5 queries: min \\d+\\.\\d{3} ms, "
                                                        "median \\d+\\.\\d{3} ms, max \\d+\\.\\d{3} ms\n$", "^$"},
      {L"cal DEMO3001 enter wrong", 1, "^$", "^velcorin: LDI-3001 DEMO3001 refused the password or did not reply\n$"},
      {L"cal DEMO3001 enter factory", 0, "^calibration mode entered\n$", "^$"},
      {L"cal DEMO3001 exit", 0, "^calibration mode left\n$", "^$"},
      {L"info NOSUCH", 2, "^$", "^velcorin: no attached instrument has the serial number, index or path 'NOSUCH'; see velcorin --help\n$"},
      {L"info 7", 2, "^$", "'7'"},
      {L"list --class 0x30G0", 2, "^$", "^velcorin: --class: '0x30G0' is not a 32-bit number .*--help"},
      {L"query DEMO3001 --op 1", 2, "^$", "query needs --code N"},
      {L"info", 2, "^$", "info needs DEVICE"},
      {L"list --verbose", 2, "^$", "unknown option '--verbose' for list"},
      {L"", 2, "^$", "a command is needed"},
      {L"--help", 0, "^usage: velcorin COMMAND", "^$"},
  };
  for (const auto& c : cases) {
    std::wstring args = c.args;
    if (auto at = args.find(L"{path}"); at != args.npos) args.replace(at, 6, Wide(sim_->DevicePath("DEMO0105")));
    Tool tool(args);
    const DWORD status = tool.Wait();
    const std::string out = tool.Out(), err = tool.Err(), name(c.args.begin(), c.args.end());
    EXPECT_EQ(status, c.status) << name << "\n" << out << err;
    EXPECT_TRUE(std::regex_search(out, std::regex(c.out))) << name << " printed:\n" << out;
    EXPECT_TRUE(std::regex_search(err, std::regex(c.err))) << name << " complained:\n" << err;
    for (const char* serial : {"DEMO3001", "DEMO1102", "DEMO0105"}) sim_->WaitUntilFree(serial);
  }
}

// Ctrl+C as a user presses it: to every process on the console, this one ignoring it.
TEST_F(Cli, WatchReportsChangesUntilCtrlC) {
  FreeConsole();  // run from a pipe, Wine gives this process a stand-in without one
  ASSERT_TRUE(AllocConsole()) << GetLastError();
  Tool watch(L"watch");
  SetConsoleCtrlHandler(nullptr, TRUE);  // after the start: children inherit it
  auto lines = [&](const char* pattern) {
    const std::regex line(pattern);
    const std::string out = watch.Out();
    return std::distance(std::sregex_iterator(out.begin(), out.end(), line), std::sregex_iterator());
  };
  ASSERT_TRUE(WaitFor([&] { return lines("\\+ \\d [^\n]*\n") == 3; }, kPatienceMs)) << watch.Out();
  ASSERT_TRUE(sim_->Unplug("DEMO1102"));
  EXPECT_TRUE(WaitFor([&] { return lines("- \\d TCM-1102 DEMO1102 1\\.07 0x1102 1\n") == 1; }, kPatienceMs)) << watch.Out();
  ASSERT_TRUE(sim_->Plug("DEMO1102"));
  EXPECT_TRUE(WaitFor([&] { return lines("\\+ \\d TCM-1102 DEMO1102 ") == 2; }, kPatienceMs)) << watch.Out();
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
  EXPECT_EQ(watch.Wait(10000), 0u) << watch.Err();
  EXPECT_EQ(watch.Err(), "");
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
TEST_F(Cli, DialogChoosePrintsThePathAndCancelIsStatus1) {
  for (bool open : {false, true}) {
    Tool choose(L"choose");
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (dialog = DialogOf(choose.Id())) != nullptr; }, kPatienceMs));
    if (open) {
      // The window is there before its tree is filled: wait for the first instrument.
      HWND tree = nullptr;
      HTREEITEM device = nullptr;
      auto next = [&](HTREEITEM from) { return TreeView_GetChild(tree, from); };
      ASSERT_TRUE(WaitFor([&] {
        tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
        return (device = next(next(TreeView_GetRoot(tree)))) != nullptr;
      }, kPatienceMs));
      TreeView_SelectItem(tree, device);
      SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    } else {
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(choose.Wait(), open ? 0u : 1u) << choose.Err();
    EXPECT_TRUE(std::regex_match(choose.Out(), std::regex(open ? "\\\\\\\\\\?\\\\usb#[^\n]*\n" : ""))) << choose.Out();
  }
}

// A component error ends the tool with status 3, its number and description:
// under a double-byte code page a character of two bytes cannot be sent.
TEST(CliErrors, ComponentErrorIsStatus3) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932 (LC_ALL=ja_JP.UTF-8)";
  SimClient sim("[a]\nserial = CP932\n");
  Tool tool(L"query CP932 --op 2 --code 7 --data \u65E5");
  EXPECT_EQ(tool.Wait(), 3u);
  EXPECT_TRUE(std::regex_search(tool.Err(), std::regex("^velcorin: the component raised error 6: .+\n$"))) << tool.Err();
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
  return FAILED(hr) ? hr : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), reinterpret_cast<void**>(object));
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
    for (const wchar_t* progId : {L"Velcorin.Device", L"Velcorin.Packet", L"Velcorin.Chooser", L"Velcorin.DevInfo",
                                  L"Velcorin.EnumFilter"}) {
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
