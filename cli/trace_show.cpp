#include "cli/trace_show.h"

#include <windows.h>

#include "cli/console.h"
#include "cli/core/arguments.h"
#include "cli/core/trace_view.h"
#include "common/owners.h"
#include "trace/core/trace_line.h"

namespace velcorin::cli {
namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Shared for writing too: a trace can be read while a program still writes it.
bool ReadWholeFile(const std::u16string& path, std::string& text) {
  const UniqueKernelHandle file(CreateFileW(Wide(path), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  return true;
}

}  // namespace

void TraceThisProcess(const std::u16string& file) { SetEnvironmentVariableW(L"VELCORIN_TRACE", Wide(file)); }

void SimulateInThisProcess(const std::u16string& file) { SetEnvironmentVariableW(L"VELCORIN_SIMULATE", Wide(file)); }

int TraceShowCommand(const TraceShowOptions& options, bool json) {
  std::string text;
  if (!ReadWholeFile(options.file, text)) {
    PrintError("velcorin: cannot read " + Utf8(options.file) + "\n");
    return 1;
  }
  std::size_t skipped = 0;
  const auto events = trace::ParseTrace(text, &skipped);
  Print(ShowTrace(events, options, json));
  if (skipped)
    PrintError("velcorin: " + std::to_string(skipped) + " line(s) of " + Utf8(options.file) +
               " are not trace events\n");
  return 0;
}

}  // namespace velcorin::cli
