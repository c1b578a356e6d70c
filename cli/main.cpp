// velcorin: lists, identifies and commands the instruments from a console,
// through the component's public classes only.
#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/activation.h"
#include "cli/component.h"
#include "cli/console.h"
#include "cli/core/arguments.h"
#include "cli/core/report.h"
#include "common/module_file.h"
#include "server/version.h"
#include "cli/trace_show.h"
#include "simulation/simulation.h"

namespace velcorin::cli {
namespace {

enum Status : DWORD { kDone = 0, kNotFound = 1, kBadUsage = 2, kComponentError = 3, kInterrupted = 130 };
constexpr DWORD kWatchIntervalMs = 500;

// Not found, in use, not answering or refused: status 1, with the message saying which.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What every command gets: what was asked, and the component once it is needed.
struct Context {
  const Invocation& in;
  const BesideAssembly& assembly;
  std::optional<Component> component;
  Component& Get() {
    if (!component) component.emplace();
    return *component;
  }
};

std::string Named(const Instrument& i) {
  return i.serial.empty() ? Shown(i.plainPath) : Shown(i.model) + " " + Shown(i.serial);
}

void CheckOpened(OpenOutcome outcome, const std::string& name) {
  switch (outcome) {
    case OpenOutcome::Opened: return;
    case OpenOutcome::Absent: throw Failure("no instrument is attached at " + name);
    case OpenOutcome::InUse: throw Failure(name + " is in use by another program");
    case OpenOutcome::Silent: throw Failure(name + " does not answer");
  }
}

std::string MissingMessage(const std::vector<Instrument>& list, std::u16string_view device) {
  const auto unusable = std::count_if(list.begin(), list.end(), [](const Instrument& i) { return !i.usable; });
  std::string message = "no attached instrument has the serial number or index '" + Utf8(device) + "'";
  if (unusable)
    message += "; " + std::to_string(unusable) + " present instrument" + (unusable > 1 ? "s are " : " is ") +
               std::string(kUnavailable) + " (velcorin list shows " + (unusable > 1 ? "them)" : "it)");
  return message;
}

// The instrument DEVICE names; opened when `open`. A path is opened directly:
// no enumeration, so no other instrument can slow it down.
Instrument Find(Component& component, std::u16string_view device, bool open) {
  if (IsDevicePath(device)) {
    CheckOpened(component.Open(DevicePathOf(device), false), Utf8(device));
    return component.OpenInstrument();
  }
  const auto list = component.List();
  const Match match = FindInstrument(list, device);
  switch (match.how) {
    case Found::Missing: throw Failure(MissingMessage(list, device));
    case Found::Ambiguous:
      throw UsageError("more than one instrument has the serial number '" + Utf8(device) +
                       "' in some case; give it exactly");
    case Found::Unusable:
      throw Failure("instrument " + std::to_string(match.instrument->index) + " (" +
                    Shown(match.instrument->plainPath) + ") is " + std::string(kUnavailable));
    case Found::Usable: break;
  }
  if (open) CheckOpened(component.Open(match.instrument->path, true), Named(*match.instrument));
  return *match.instrument;
}

std::optional<Enumerations> NamesIfLoaded(Context& c) {
  try {
    return c.Get().Names();
  } catch (const ComError&) {
    return std::nullopt;
  }
}

DWORD HelpCommand(Context& c) {
  const bool wantsNames = c.in.helpFor == Verb::Query || c.in.helpFor == Verb::Shell;
  const auto names = wantsNames ? NamesIfLoaded(c) : std::nullopt;
  Print(HelpText(c.in.helpFor, names ? &*names : nullptr));
  return kDone;
}

std::string Bitness(int bits) { return bits ? std::to_string(bits) + "-bit" : "unknown bitness"; }

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

std::string Utf8Of(const std::wstring& text) { return Utf8(std::u16string(text.begin(), text.end())); }

DWORD VersionCommand(Context& c) {
  Print("velcorin " VELCORIN_VERSION_TEXT " (" + Bitness(sizeof(void*) * 8) + ")\n");
  const LoadedDll dll = c.Get().Dll();
  const bool beside =
      c.assembly.active() && CompareStringOrdinal(FolderOf(dll.path).c_str(), -1,
                                                  FolderOf(ModuleFileName(nullptr)).c_str(), -1, TRUE) == CSTR_EQUAL;
  Print("Velcorin.dll " + (dll.version.empty() ? std::string("(no version)") : dll.version) + " (" + Bitness(dll.bits) +
        ")\n  " + Utf8Of(dll.path) + "\n  " +
        (beside ? "beside velcorin.exe, through " + Utf8Of(kAssemblyManifest) : std::string("registered")) + "\n");
  return kDone;
}

DWORD ListCommand(Context& c) {
  const auto list = c.Get().List(c.in.filters);
  Print(c.in.json ? ListJson(list) : list.empty() ? "" : ListText(list));
  if (list.empty()) throw Failure("no instruments found");
  if (std::none_of(list.begin(), list.end(), [](const Instrument& i) { return i.usable; }))
    throw Failure("every instrument found is " + std::string(kUnavailable));
  return kDone;
}

DWORD InfoCommand(Context& c) {
  const Instrument instrument = Find(c.Get(), c.in.device, false);
  Print(c.in.json ? InfoJson(instrument) : InfoText(instrument));
  return kDone;
}

void CheckReply(const Reply& reply, const Instrument& instrument, const Enumerations& names) {
  if (reply.endCode == 0) return;
  const std::string name = NameOf(reply.endCode, names.endCodes);
  throw Failure(Named(instrument) + " refused the command: end code " + std::to_string(reply.endCode) +
                (name.empty() ? "" : " (" + name + ")"));
}

// The component sends each data character as its byte in the ANSI code page,
// best fit or the code page's default character where there is none: say so
// rather than let a text change on its way unseen.
void WarnOfChangedData(std::u16string_view data) {
  for (char16_t c : data) {
    char bytes[2];
    wchar_t back = 0;
    const wchar_t wide = c;
    if (WideCharToMultiByte(CP_ACP, 0, &wide, 1, bytes, 2, nullptr, nullptr) != 1 ||
        MultiByteToWideChar(CP_ACP, 0, bytes, 1, &back, 1) != 1 || back == wide)
      continue;  // the same character, or two bytes: the component refuses those itself
    PrintError("velcorin: warning: '" + Utf8(std::u16string(1, c)) + "' has no byte of its own in code page " +
               std::to_string(GetACP()) + " and goes out as '" + Utf8(std::u16string(1, static_cast<char16_t>(back))) +
               "'\n");
  }
}

// query's sends so far: a stop reports them from a thread of its own.
struct Sent {
  std::mutex lock;
  std::vector<double> times;  // of the replies
  std::size_t failed = 0;
  bool unanswered = false;  // the last one: that ends the run (a late reply would answer the next)
  std::optional<Reply> last;
};

std::string Report(const Context& c, Sent& sent, const Enumerations& names, std::optional<std::size_t> stoppedOf) {
  const std::lock_guard<std::mutex> hold(sent.lock);
  RoundTrips timing = Summarize(sent.times);
  timing.runs += sent.unanswered;
  timing.failed = sent.failed;
  timing.stoppedOf = stoppedOf;
  if (c.in.repeat > 1) return RepeatReport(sent.last, timing, &names, c.in.json);
  if (!sent.last) return "";
  return c.in.json ? ReplyJson(*sent.last, std::nullopt, &names) : ReplyText(*sent.last, std::nullopt, &names);
}

DWORD QueryCommand(Context& c) {
  const Enumerations names = c.Get().Names();
  const ResolvedPacket packet = Resolve(c.in.packet, names);
  WarnOfChangedData(packet.data);
  const Instrument instrument = Find(c.Get(), c.in.device, true);
  Sent sent;
  std::optional<WordsOnStop> onStop;
  if (c.in.repeat > 1) onStop.emplace([&] { return Report(c, sent, names, c.in.repeat); });
  bool stopped = false;
  for (std::uint32_t run = 0; run < c.in.repeat; ++run) {
    // Between two queries a stop ends the run here, with nothing in flight.
    if ((stopped = WaitForSingleObject(StopRequested(), 0) == WAIT_OBJECT_0)) break;
    double ms = 0;
    const auto reply = c.Get().Query(packet, ms);
    const std::lock_guard<std::mutex> hold(sent.lock);
    sent.unanswered = !reply;
    sent.failed += !reply || reply->endCode != 0;
    if (!reply) break;
    sent.times.push_back(ms);
    sent.last = reply;
  }
  if (onStop) onStop->Withdraw();
  Print(Report(c, sent, names, stopped ? std::optional<std::size_t>(c.in.repeat) : std::nullopt));
  if (stopped) return kInterrupted;
  if (sent.unanswered) throw Failure(Named(instrument) + " did not reply");
  CheckReply(*sent.last, instrument, names);
  if (sent.failed)
    throw Failure(Named(instrument) + " refused " + std::to_string(sent.failed) + " of " +
                  std::to_string(sent.times.size()) + " commands");
  return kDone;
}

std::u16string AskPassword() {
  if (IsConsole(STD_INPUT_HANDLE)) PrintError("Password: ");
  const auto line = ReadLine(true);
  if (!line) throw UsageError("cal DEVICE enter: no PASSWORD given and none on standard input");
  return *line;
}

void Calibrate(Component& component, const Instrument& instrument, bool enter, const std::u16string& password,
               bool json) {
  if (!(enter ? component.EnterCalMode(password) : component.ExitCalMode()))
    throw Failure(Named(instrument) + (enter ? " refused the password" : " refused to leave calibration mode") +
                  " or did not reply");
  Print(json ? CalibrationJson(enter) : enter ? "calibration mode entered\n" : "calibration mode left\n");
}

DWORD CalCommand(Context& c) {
  const std::u16string password = !c.in.enterCalMode ? u"" : c.in.password ? *c.in.password : AskPassword();
  const Instrument instrument = Find(c.Get(), c.in.device, true);
  Calibrate(c.Get(), instrument, c.in.enterCalMode, password, c.in.json);
  return kDone;
}

DWORD ChooseCommand(Context& c) {
  const auto path = c.Get().Choose();
  if (!path) {
    if (c.in.json) Print("null\n");
    throw Failure("no instrument chosen");
  }
  if (!c.in.json) {
    Print(Shown(PlainPath(*path)) + "\n");
    return kDone;
  }
  Instrument chosen;
  if (c.Get().Open(*path, false) == OpenOutcome::Opened) {
    chosen = c.Get().OpenInstrument();
  } else {
    chosen.usable = false;
    SetPath(chosen, *path);
  }
  Print(InfoJson(chosen));
  return kDone;
}

Stamp Now() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

DWORD WatchCommand(Context& c) {
  std::vector<Instrument> before;
  do {
    auto now = c.Get().List();
    for (const auto& change : Compare(before, now)) Print(ChangeLine(change, Now(), c.in.json));
    before = std::move(now);
  } while (WaitForSingleObject(StopRequested(), kWatchIntervalMs) == WAIT_TIMEOUT);
  return kDone;
}

std::string Hresult(HRESULT hr) {
  char text[16];
  wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

DWORD ReportComponentError(const ComError& e) {
  std::string message = "velcorin: ";
  if (HRESULT_FACILITY(e.hr) == FACILITY_CONTROL)
    message += "the component raised error " + std::to_string(HRESULT_CODE(e.hr));
  else
    message += "the component failed with " + Hresult(e.hr);
  if (!e.description.empty()) message += ": " + e.description;
  if (e.hr == REGDB_E_CLASSNOTREG || e.hr == CO_E_CLASSSTRING)
    message += " (Velcorin.dll is not registered, and " + Utf8Of(kAssemblyManifest) + " is not beside velcorin.exe)";
  PrintError(message + "\n");
  return kComponentError;
}

// One line of the shell; throws as a command would.
bool ShellStep(Context& c, const Instrument& instrument, const Enumerations& names, std::u16string_view text) {
  const ShellLine line = ParseShellLine(text);
  Component& component = c.Get();
  switch (line.verb) {
    case ShellVerb::Nothing: break;
    case ShellVerb::Quit: return false;
    case ShellVerb::Help: Print(ShellHelpText()); break;
    case ShellVerb::Info: {
      Instrument now = component.OpenInstrument();
      Print(c.in.json ? InfoJson(now) : InfoText(now));
      break;
    }
    case ShellVerb::Query: {
      double ms = 0;
      WarnOfChangedData(line.packet.data);
      const auto reply = component.Query(Resolve(line.packet, names), ms);
      if (!reply) throw Failure(Named(instrument) + " did not reply");
      Print(c.in.json ? ReplyJson(*reply, std::nullopt, &names) : ReplyText(*reply, std::nullopt, &names));
      CheckReply(*reply, instrument, names);
      break;
    }
    case ShellVerb::Write:
      WarnOfChangedData(line.packet.data);
      if (!component.Write(Resolve(line.packet, names))) throw Failure("the packet could not be sent");
      break;
    case ShellVerb::Read: {
      const auto reply = component.Read();
      if (!reply) throw Failure(Named(instrument) + " sent no reply");
      Print(c.in.json ? ReplyJson(*reply, std::nullopt, &names) : ReplyText(*reply, std::nullopt, &names));
      break;
    }
    case ShellVerb::CalEnter:
    case ShellVerb::CalExit: {
      const bool enter = line.verb == ShellVerb::CalEnter;
      const std::u16string password = !enter ? u"" : line.password ? *line.password : AskPassword();
      Calibrate(component, instrument, enter, password, c.in.json);
      break;
    }
  }
  return true;
}

DWORD ShellCommand(Context& c) {
  const Enumerations names = c.Get().Names();
  const Instrument instrument = Find(c.Get(), c.in.device, true);
  const bool console = IsConsole(STD_INPUT_HANDLE);
  if (console) PrintError(Named(instrument) + " is open; type help for the commands, quit to end\n");
  DWORD status = kDone;
  auto failed = [&](DWORD s, const std::string& message) {
    PrintError("velcorin: " + message + "\n");
    if (status == kDone) status = s;
  };
  for (;;) {
    if (console) PrintError("velcorin> ");
    const auto text = ReadLine();
    if (!text) break;
    try {
      if (!ShellStep(c, instrument, names, *text)) break;
    } catch (const UsageError& e) {
      failed(kBadUsage, e.what());
    } catch (const Failure& e) {
      failed(kNotFound, e.what());
    } catch (const ComError& e) {
      const DWORD s = ReportComponentError(e);
      if (status == kDone) status = s;
    }
  }
  return status;
}

DWORD TraceCommand(Context& c) { return static_cast<DWORD>(TraceShowCommand(c.in.traceShow, c.in.json)); }

// The commands and what runs them; their names, words and help are in Commands().
const std::vector<std::pair<Verb, std::function<DWORD(Context&)>>>& Handlers() {
  static const std::vector<std::pair<Verb, std::function<DWORD(Context&)>>> handlers = {
      {Verb::Help, HelpCommand},     {Verb::Version, VersionCommand}, {Verb::List, ListCommand},
      {Verb::Info, InfoCommand},     {Verb::Query, QueryCommand},     {Verb::Cal, CalCommand},
      {Verb::Choose, ChooseCommand}, {Verb::Watch, WatchCommand},     {Verb::Shell, ShellCommand},
      {Verb::Trace, TraceCommand},
  };
  return handlers;
}

DWORD Run(Context& c) {
  for (const auto& [verb, handler] : Handlers())
    if (verb == c.in.verb) return handler(c);
  return kBadUsage;
}

class Apartment {
 public:
  Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

DWORD Main(const std::vector<std::u16string>& given) {
  try {
    const Invocation in = ParseArguments(given);
    if (in.traceTo) TraceThisProcess(*in.traceTo);
    if (in.simulateFrom) SimulateInThisProcess(*in.simulateFrom);
    simulation::StartOnce();
    const bool endsByCtrlC = in.verb == Verb::Watch || in.verb == Verb::Shell;
    CatchStopRequests(endsByCtrlC ? kDone : kInterrupted);
    const BesideAssembly assembly;
    if (assembly.failure())
      PrintError("velcorin: " + Utf8Of(kAssemblyManifest) + " beside this program is unusable (error " +
                 std::to_string(assembly.failure()) + "); trying the registered component\n");
    const Apartment apartment;
    if (FAILED(apartment.hr())) throw ComError(apartment.hr(), "cannot initialise COM");
    Context context{in, assembly, std::nullopt};
    return Run(context);
  } catch (const UsageError& e) {
    PrintError(std::string("velcorin: ") + e.what() + "; see velcorin --help\n");
    return kBadUsage;
  } catch (const Failure& e) {
    PrintError(std::string("velcorin: ") + e.what() + "\n");
    return kNotFound;
  } catch (const ComError& e) {
    return ReportComponentError(e);
  } catch (const std::exception& e) {
    PrintError(std::string("velcorin: ") + e.what() + "\n");
    return kComponentError;
  }
}

}  // namespace
}  // namespace velcorin::cli

// Arguments as UTF-16, as the command line holds them: no code page in between.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  return static_cast<int>(velcorin::cli::Main(args));
}
