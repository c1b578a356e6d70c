// The tool's side of tracing: switching it on for this process's component,
// and printing a trace file.
#pragma once

#include <string>

#include "cli/core/arguments.h"

namespace velcorin::cli {

// Before the component loads: it reads the setting once, when it starts.
void TraceThisProcess(const std::u16string& file);
void SimulateInThisProcess(const std::u16string& file);

// Prints the trace; 1 when the file cannot be read.
int TraceShowCommand(const TraceShowOptions& options, bool json);

}  // namespace velcorin::cli
