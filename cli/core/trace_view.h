// `velcorin trace show`: a trace turned into one line per exchange, command and
// reply side by side, for people (a table) or programs (JSON Lines). No Windows here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/core/arguments.h"
#include "trace/core/trace_event.h"

namespace velcorin::cli {

// Every text taken from the trace reaches the table in printable ASCII: a trace
// from elsewhere must not drive the reader's terminal. Throws UsageError for a
// --since it cannot read.
std::string ShowTrace(const std::vector<trace::TraceEvent>& events, const TraceShowOptions& options, bool json);

}  // namespace velcorin::cli
