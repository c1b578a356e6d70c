// velcorin: lists, identifies and commands the instruments from a console,
// through the component's public classes only.
#include <windows.h>

#include <string>
#include <vector>

#include "cli/activation.h"
#include "cli/component.h"
#include "cli/console.h"
#include "cli/core/arguments.h"
#include "cli/core/report.h"

namespace velcorin::cli {
namespace {

enum Status { kDone = 0, kNotFound = 1, kBadUsage = 2, kComponentError = 3 };
constexpr DWORD kWatchIntervalMs = 500;

int Fail(const std::string& message) {
  PrintError("velcorin: " + message + "\n");
  return kNotFound;
}

std::string Named(const Instrument& i) { return Shown(i.model) + " " + Shown(i.serial); }

Instrument Resolve(Component& component, std::u16string_view device) {
  const auto list = component.List();
  if (const Instrument* found = FindInstrument(list, device)) return *found;
  throw UsageError("no attached instrument has the serial number, index or path '" + Utf8(device) + "'");
}

int ListCommand(Component& component, const Invocation& in) {
  const auto list = component.List(in.filters);
  Print(in.json ? ListJson(list) : list.empty() ? "" : ListText(list));
  return list.empty() ? Fail("no instruments found") : kDone;
}

int InfoCommand(Component& component, const Invocation& in) {
  const Instrument instrument = Resolve(component, in.device);
  Print(in.json ? InfoJson(instrument) : InfoText(instrument));
  return kDone;
}

int QueryCommand(Component& component, const Invocation& in) {
  const Instrument instrument = Resolve(component, in.device);
  if (!component.Open(instrument)) return Fail("cannot open " + Named(instrument) + ": in use or not answering");
  std::vector<double> times;
  std::optional<Reply> reply;
  for (std::uint32_t run = 0; run < in.query.repeat; ++run) {
    double ms = 0;
    reply = component.Query(in.query, ms);
    if (!reply) return Fail(Named(instrument) + " did not reply");
    times.push_back(ms);
  }
  std::optional<RoundTrips> timing;
  if (in.query.repeat > 1) timing = Summarize(times);
  Print(in.json ? ReplyJson(*reply, timing) : ReplyText(*reply, timing));
  return reply->endCode == 0 ? kDone : Fail(Named(instrument) + " refused the command: end code " +
                                            std::to_string(reply->endCode));
}

int CalCommand(Component& component, const Invocation& in) {
  const Instrument instrument = Resolve(component, in.device);
  if (!component.Open(instrument)) return Fail("cannot open " + Named(instrument) + ": in use or not answering");
  if (in.enterCalMode ? component.EnterCalMode(in.password) : component.ExitCalMode()) {
    Print(in.enterCalMode ? "calibration mode entered\n" : "calibration mode left\n");
    return kDone;
  }
  return Fail(Named(instrument) + (in.enterCalMode ? " refused the password" : " refused to leave calibration mode") +
              " or did not reply");
}

int ChooseCommand(Component& component) {
  const auto path = component.Choose();
  if (!path) return Fail("no instrument chosen");
  Print(Shown(*path) + "\n");
  return kDone;
}

int WatchCommand(Component& component) {
  CatchStopRequests();
  std::vector<Instrument> before;
  do {
    auto now = component.List();
    const Changes changes = Compare(before, now);
    for (const auto& i : changes.gone) Print(ChangeLine(false, i));
    for (const auto& i : changes.appeared) Print(ChangeLine(true, i));
    before = std::move(now);
  } while (WaitForSingleObject(StopRequested(), kWatchIntervalMs) == WAIT_TIMEOUT);
  return kDone;
}

int Run(const Invocation& in) {
  Component component;
  switch (in.verb) {
    case Verb::List: return ListCommand(component, in);
    case Verb::Info: return InfoCommand(component, in);
    case Verb::Query: return QueryCommand(component, in);
    case Verb::Cal: return CalCommand(component, in);
    case Verb::Choose: return ChooseCommand(component);
    case Verb::Watch: return WatchCommand(component);
    case Verb::Help: break;
  }
  Print(UsageText());
  return kDone;
}

std::string Hresult(HRESULT hr) {
  char text[16];
  wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

int ReportComponentError(const ComError& e) {
  std::string message = "velcorin: ";
  if (HRESULT_FACILITY(e.hr) == FACILITY_CONTROL)
    message += "the component raised error " + std::to_string(HRESULT_CODE(e.hr));
  else
    message += "the component failed with " + Hresult(e.hr);
  if (*e.what()) message += std::string(": ") + e.what();
  if (e.hr == REGDB_E_CLASSNOTREG || e.hr == CO_E_CLASSSTRING)
    message += " (Velcorin.dll is not registered, and Halvern.Velcorin.manifest is not beside velcorin.exe)";
  PrintError(message + "\n");
  return kComponentError;
}

class Apartment {
 public:
  Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~Apartment() { if (SUCCEEDED(hr_)) CoUninitialize(); }
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

int Main(std::vector<std::u16string> args) {
  try {
    const Invocation in = ParseArguments(args);
    if (in.verb == Verb::Help) {
      Print(UsageText());
      return kDone;
    }
    const BesideAssembly assembly;
    if (assembly.failure())
      PrintError("velcorin: " + Utf8(reinterpret_cast<const char16_t*>(kAssemblyManifest)) +
                 " beside this program is unusable (error " + std::to_string(assembly.failure()) +
                 "); trying the registered component\n");
    const Apartment apartment;
    if (FAILED(apartment.hr())) throw ComError(apartment.hr(), "cannot initialise COM");
    return Run(in);
  } catch (const UsageError& e) {
    PrintError(std::string("velcorin: ") + e.what() + "; see velcorin --help\n");
    return kBadUsage;
  } catch (const ComError& e) {
    return ReportComponentError(e);
  } catch (const std::exception& e) {
    PrintError(std::string("velcorin: ") + e.what() + "\n");
    return kComponentError;
  }
}

}  // namespace
}  // namespace velcorin::cli

int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  return velcorin::cli::Main(std::move(args));
}
