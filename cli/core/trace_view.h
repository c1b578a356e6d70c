// `velcorin trace show` and `velcorin --trace FILE`: reading their arguments,
// and a trace turned into one line per exchange, command and reply side by
// side, for people (a table) or programs (JSON Lines). No Windows here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "trace/core/trace_event.h"

namespace velcorin::cli {

struct TraceShowOptions {
  std::u16string file;
  std::u16string instrument;            // serial number; empty: all
  std::optional<std::u16string> since;  // as given: HH:MM:SS[.ffffff] or YYYY-MM-DDTHH:MM:SS[.ffffff], UTC
  bool json = false;
};

// A global option in front of the command: removes "OPTION FILE" (or
// "OPTION=FILE") from args and returns FILE. Throws UsageError without FILE.
std::optional<std::u16string> TakeFileOption(std::vector<std::u16string>& args, std::u16string_view option);
std::optional<std::u16string> TakeTraceOption(std::vector<std::u16string>& args);

// Whether args, after the global options, ask for the trace command.
bool IsTraceCommand(const std::vector<std::u16string>& args);
// args: "trace", "show", FILE and options. Throws UsageError.
TraceShowOptions ParseTraceShow(const std::vector<std::u16string>& args);

// Throws UsageError for a --since it cannot read.
std::string ShowTrace(const std::vector<trace::TraceEvent>& events, const TraceShowOptions& options);

}  // namespace velcorin::cli
