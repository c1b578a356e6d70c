// A trace file is whatever a user hands over: any bytes read back, shown and
// replayed without a fault, and every event read writes back to a line that
// reads as the same event.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/core/trace_view.h"
#include "trace/core/replay_book.h"
#include "trace/core/trace_line.h"

using namespace velcorin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto events = trace::ParseTrace(text);
  for (const auto& event : events) {
    const auto again = trace::ParseLine(trace::FormatLine(event));
    if (!again || again->kind != event.kind || again->bytes != event.bytes || again->path != event.path) std::abort();
  }
  cli::ShowTrace(events, {});
  cli::ShowTrace(events, {u"f", u"", std::nullopt, true});
  for (auto& instrument : trace::ReplayInstruments(events))
    for (const auto& event : events)
      if (event.kind == trace::EventKind::Write) instrument.script.Answer(event.bytes);
  return 0;
}
