// The component's own simulated instruments (VELCORIN_SIMULATE, velcorin --simulate)
// beside velcorin-sim.exe: the same configuration gives the tool the same output,
// status, exchanges and dialog; a file that cannot be used reaches no instrument;
// a trace replays a run exactly; the samples run with no simulator.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "registry_snapshot.h"
#include "sim/sim_client.h"
#include "tool_run.h"
#include "trace/core/trace_line.h"
#include "wait_for.h"

namespace {

using velcorin::sim::SimClient;
using velcorin::sim::TempFile;

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
  // A script host's first run in a prefix registers the host's own library: not ours to count.
  if (!beside) {
    const std::filesystem::path script = std::filesystem::temp_directory_path() / L"velcorin-warm-host.vbs";
    std::ofstream(script, std::ios::binary) << "WScript.Quit 0\r\n";
    Tool warm(Program{L"cscript.exe"}, L"//nologo \"" + script.wstring() + L"\"");
    EXPECT_EQ(warm.Wait(120000), 0u) << warm.Err();
    std::filesystem::remove(script);
  }
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
