// The I/O trace end to end: switched on for a script host or the tool, read
// back, and replayed by the simulator as the instruments it recorded.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "sim/sim_client.h"
#include "sim/start_process.h"
#include "trace/core/trace_line.h"

namespace {

using velcorin::sim::SimClient;
using velcorin::sim::TempFile;
namespace trace = velcorin::trace;

constexpr DWORD kPatienceMs = 60000;

std::string Slurp(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::wstring SourceDir() { return VELCORIN_SOURCE_DIR; }

std::wstring BuildDir() {
  wchar_t folder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

// VELCORIN_TRACE for the programs this test starts, and gone again afterwards.
class TraceSetting {
 public:
  explicit TraceSetting(const std::wstring& file) { SetEnvironmentVariableW(L"VELCORIN_TRACE", file.c_str()); }
  ~TraceSetting() { SetEnvironmentVariableW(L"VELCORIN_TRACE", nullptr); }
};

// A program run to its end; its output and error output together.
class Program {
 public:
  Program(std::wstring commandLine, const std::wstring& folder) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(out_.Path().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = out;
    started_ = velcorin::sim::StartProcess(nullptr, commandLine.data(), TRUE, 0, folder.c_str(), &startup, &process_);
    CloseHandle(out);
  }
  ~Program() {
    if (!started_) return;
    TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  DWORD Wait() {
    DWORD status = 99;
    if (started_ && WaitForSingleObject(process_.hProcess, kPatienceMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.hProcess, &status);
    return status;
  }
  std::string Output() { return Wait(), Slurp(out_.Path()); }

 private:
  TempFile out_;
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

// The script host of this test's bitness, as with_sim starts it.
std::string Script(const std::wstring& folder, const std::wstring& script, const std::wstring& args = L"") {
  return Program(L"cscript.exe //nologo " + script + (args.empty() ? L"" : L" " + args), folder).Output();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What a trace several processes wrote into tells: the reads of each, the writes
// without their read or reads without their write (a line lost), and the lines
// that are not events (torn, or mixed with another line).
struct Readings {
  std::map<std::uint32_t, int> readsByProcess;
  std::map<std::uint32_t, int> unpairedByProcess;
  std::vector<std::string> torn;
};

Readings ReadBack(const std::string& text) {
  Readings readings;
  if (!text.empty() && text.back() != '\n') readings.torn.push_back("(no line end at the end)");
  std::map<std::uint32_t, bool> awaitingRead;
  for (const std::string& line : Lines(text)) {
    const auto event = trace::ParseLine(line);
    if (!event) {
      readings.torn.push_back(line);
      continue;
    }
    const bool isRead = event->kind == trace::EventKind::Read;
    if (event->kind != trace::EventKind::Write && !isRead) continue;
    if (awaitingRead[event->pid] != isRead) ++readings.unpairedByProcess[event->pid];
    awaitingRead[event->pid] = !isRead;
    if (isRead) ++readings.readsByProcess[event->pid];
  }
  return readings;
}

// Right after a client ends, an instrument takes a moment to listen again: on
// a busy machine, more than a moment.
void WaitAllFree(SimClient& sim) {
  for (const char* serial : {"DEMO3001", "DEMO1102", "DEMO0105"})
    ASSERT_TRUE(sim.WaitUntilFree(serial, kPatienceMs)) << serial;
}

struct Sample {
  std::wstring folder, script;
};

// The samples a user would trace: the demo (with its calibration password) and
// the README's listing.
std::vector<Sample> Samples() {
  return {{SourceDir() + L"\\samples", L"list-devices.vbs"}, {BuildDir() + L"\\samples", L"readme-listing.vbs"}};
}

TEST(Trace, ASampleTracedThenReplayedGivesTheSameOutput) {
  const std::string demo = Slurp(SourceDir() + L"\\sim\\demo.ini");
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(std::string(sample.script.begin(), sample.script.end()));
    TempFile trace;
    std::string plain, traced, unwritable;
    {
      SimClient sim(demo);
      plain = Script(sample.folder, sample.script);
      WaitAllFree(sim);
      {
        const TraceSetting on(trace.Path());
        traced = Script(sample.folder, sample.script);
      }
      WaitAllFree(sim);
      const TraceSetting nowhere(L"Z:\\no\\such\\folder\\{pid}\\trace.jsonl");
      unwritable = Script(sample.folder, sample.script);
    }
    ASSERT_NE(plain.find("TCM-1102"), std::string::npos) << plain;
    EXPECT_EQ(traced, plain);
    EXPECT_EQ(unwritable, plain);

    const std::string text = Slurp(trace.Path());
    std::size_t skipped = 0;
    EXPECT_GT(trace::ParseTrace(text, &skipped).size(), 30u);
    EXPECT_EQ(skipped, 0u);
    // The demo enters calibration mode with the password "factory".
    EXPECT_EQ(text.find("factory"), std::string::npos);
    EXPECT_EQ(text.find("666163746F7279"), std::string::npos);

    SimClient replay(SimClient::Replaying{trace.Path()});
    EXPECT_EQ(Script(sample.folder, sample.script), plain);
  }
}

TEST(Trace, TwoProcessesIntoOneFileWriteWholeLines) {
  SimClient sim(Slurp(SourceDir() + L"\\sim\\demo.ini"));
  TempFile file;
  constexpr int kQueries = 300;
  std::string out[2];
  {
    const TraceSetting on(file.Path());
    const std::wstring folder = SourceDir() + L"\\tests\\win\\scripts";
    auto start = [&](const char* serial) {
      const std::string path = sim.DevicePath(serial);
      return std::make_unique<Program>(L"cscript.exe //nologo trace_queries.vbs " +
                                           std::wstring(path.begin(), path.end()) + L" " + std::to_wstring(kQueries),
                                       folder);
    };
    auto first = start("DEMO3001"), second = start("DEMO0105");
    out[0] = first->Output(), out[1] = second->Output();
  }
  EXPECT_EQ(out[0], "DONE\r\n");
  EXPECT_EQ(out[1], "DONE\r\n");
  const Readings readings = ReadBack(Slurp(file.Path()));
  EXPECT_EQ(readings.torn, std::vector<std::string>{});
  EXPECT_EQ(readings.unpairedByProcess, (std::map<std::uint32_t, int>{}));
  ASSERT_EQ(readings.readsByProcess.size(), 2u);
  // The identity query's eight or nine exchanges, then the script's own.
  for (const auto& [pid, reads] : readings.readsByProcess) EXPECT_GE(reads, kQueries + 8) << pid;
}

// The same file as Wine's drive Z: (the whole Unix tree) names it; "" outside Wine.
std::wstring ThroughDriveZ(const std::wstring& path) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  const auto unixFileName = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unixName = unixFileName ? unixFileName(path.c_str()) : nullptr;
  if (!unixName) return L"";
  std::wstring name = L"Z:";
  for (const char* c = unixName; *c; ++c) name += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  HeapFree(GetProcessHeap(), 0, unixName);
  return name;
}

// The tool of the other bitness where this build knows one (the 64-bit build, the
// 32-bit folder that needs nothing registered), else this build's own.
std::wstring OtherBitnessTool() {
#ifdef VELCORIN_WIN32_CLI
  return VELCORIN_WIN32_CLI;
#else
  return VELCORIN_CLI;
#endif
}

// By path: by serial, each tool would list the instruments and could find the one
// the other examines busy.
std::wstring TracedQueries(const std::wstring& tool, const std::wstring& traceFile, const std::string& path,
                           int count) {
  return L"\"" + tool + L"\" --trace \"" + traceFile + L"\" query " + std::wstring(path.begin(), path.end()) +
         L" --op 1 --code 0 --repeat " + std::to_wstring(count);
}

// Processes take turns by the file itself, however each names it.
TEST(Trace, TwoProgramsNamingOneFileTwoWaysWriteWholeLines) {
  SimClient sim(Slurp(SourceDir() + L"\\sim\\demo.ini"));
  constexpr int kQueries = 1000;
  const struct {
    const char* how;
    std::wstring (*spell)(const std::wstring&);
  } spellings[] = {
      {"\\\\?\\ in front", [](const std::wstring& path) { return L"\\\\?\\" + path; }},
      {"through drive Z:", ThroughDriveZ},
  };
  for (const auto& [how, spell] : spellings) {
    SCOPED_TRACE(how);
    TempFile file;
    const std::wstring otherName = spell(file.Path());
    ASSERT_FALSE(otherName.empty());
    WaitAllFree(sim);
    Program first(TracedQueries(OtherBitnessTool(), file.Path(), sim.DevicePath("DEMO3001"), kQueries), BuildDir());
    Program second(TracedQueries(VELCORIN_CLI, otherName, sim.DevicePath("DEMO0105"), kQueries), BuildDir());
    EXPECT_EQ(first.Wait(), 0u) << first.Output();
    EXPECT_EQ(second.Wait(), 0u) << second.Output();
    const Readings readings = ReadBack(Slurp(file.Path()));
    EXPECT_EQ(readings.torn, std::vector<std::string>{});
    EXPECT_EQ(readings.unpairedByProcess, (std::map<std::uint32_t, int>{}));
    ASSERT_EQ(readings.readsByProcess.size(), 2u);
    for (const auto& [pid, reads] : readings.readsByProcess) EXPECT_GE(reads, kQueries) << pid;
  }
}

// The limit comes from the registry, beside the file name the tool passes on.
class LimitSetting {
 public:
  explicit LimitSetting(DWORD megabytes) {
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Velcorin", L"TraceLimitMB", REG_DWORD, &megabytes, sizeof megabytes);
  }
  ~LimitSetting() { RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Velcorin", L"TraceLimitMB"); }
};

TEST(Trace, StopsAtItsSizeLimitWithALastLineSayingSo) {
  SimClient sim(Slurp(SourceDir() + L"\\sim\\demo.ini"));
  TempFile file;
  const std::wstring tool = L"\"" + std::wstring(VELCORIN_CLI) + L"\" --trace \"" + file.Path() + L"\" ";
  {
    const LimitSetting oneMegabyte(1);
    // About 300 bytes a line, two lines a query: well past 1 MB.
    Program run(tool + L"query DEMO3001 --op 1 --code 0 --repeat 2500", BuildDir());
    EXPECT_EQ(run.Wait(), 0u) << run.Output();
  }
  const std::string text = Slurp(file.Path());
  EXPECT_LE(text.size(), 1024u * 1024u);
  EXPECT_GT(text.size(), 1000u * 1000u);
  const auto lines = Lines(text);
  ASSERT_FALSE(lines.empty());
  const auto last = trace::ParseLine(lines.back());
  ASSERT_TRUE(last);
  EXPECT_EQ(last->kind, trace::EventKind::Limit);
  EXPECT_EQ(last->limitMb, 1u);
}

}  // namespace
