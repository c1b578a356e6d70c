// A trace file is whatever a user hands over: any bytes read back, shown and
// replayed without a fault, and the line every event read writes reads back as
// an event that writes the same line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/core/trace_view.h"
#include "simulation/core/replay_book.h"
#include "trace/core/trace_line.h"

using namespace velcorin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto events = trace::ParseTrace(text);
  for (const auto& event : events) {
    const std::string line = trace::FormatLine(event);
    const auto again = trace::ParseLine(line);
    if (!again || trace::FormatLine(*again) != line) std::abort();
  }
  cli::ShowTrace(events, {}, false);
  cli::ShowTrace(events, {u"f", u"", std::nullopt}, true);
  for (auto& instrument : sim::ReplayInstruments(events))
    for (const auto& event : events)
      if (event.kind == trace::EventKind::Write) instrument.script.Answer(event.bytes);
  return 0;
}
