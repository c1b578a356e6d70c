// The trace file's form: JSON Lines, one flat object per event, for instance
//   {"t":1796716818123456,"pid":412,"tid":88,"h":3,"ev":"write","outcome":"done",
//    "us":41,"n":36,"bytes":"0000...","DevType":0,"Channel":0,"OpType":1,"OpCode":1,"Data":""}
// The decoded fields after "bytes" are for people; a reader needs only the bytes.
// A line of a session with simulated instruments carries "simulated":true.
// A withheld byte is written "**".
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "trace/core/trace_event.h"

namespace velcorin::trace {

// With the line end.
std::string FormatLine(const TraceEvent& event);

// nullopt for a line that is not an event (a torn or foreign line).
std::optional<TraceEvent> ParseLine(std::string_view line);

// Every event of a trace file's text, in file order; lines that are not events are
// counted in `skipped` when given.
std::vector<TraceEvent> ParseTrace(std::string_view text, std::size_t* skipped = nullptr);

// Upper-case hex, the Data field as "**" when masked.
std::string HexOf(std::span<const std::uint8_t> bytes, bool masked, bool reply);

// A JSON string of any bytes, in ASCII: bytes outside printable ASCII as \u00XX.
std::string JsonText(std::string_view bytes);

// The last line a trace gets when it reaches its size limit.
TraceEvent LimitEvent(std::uint32_t limitMb);

}  // namespace velcorin::trace
