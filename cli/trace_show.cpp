#include "cli/trace_show.h"

#include <windows.h>

#include "cli/console.h"
#include "cli/core/arguments.h"
#include "cli/core/trace_view.h"
#include "common/file_text.h"
#include "trace/core/trace_line.h"

namespace velcorin::cli {
namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace

void TraceThisProcess(const std::u16string& file) { SetEnvironmentVariableW(L"VELCORIN_TRACE", Wide(file)); }

void SimulateInThisProcess(const std::u16string& file) { SetEnvironmentVariableW(L"VELCORIN_SIMULATE", Wide(file)); }

int TraceShowCommand(const TraceShowOptions& options, bool json) {
  const auto text = ReadWholeFile(Wide(options.file));
  if (!text) {
    PrintError("velcorin: cannot read " + Utf8(options.file) + "\n");
    return 1;
  }
  std::size_t skipped = 0;
  const auto events = trace::ParseTrace(*text, &skipped);
  Print(ShowTrace(events, options, json));
  if (skipped)
    PrintError("velcorin: " + std::to_string(skipped) + " line(s) of " + Utf8(options.file) +
               " are not trace events\n");
  return 0;
}

}  // namespace velcorin::cli
