// One event of an I/O trace: what the component did on the wire, as a value.
// The trace file holds one JSON line per event (trace_line.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velcorin::trace {

enum class EventKind { Walk, Open, Write, Read, Close, Limit };

enum class Outcome {
  None,
  Done,      // write/read: the whole report
  Short,     // write/read: part of it
  Failed,    // write/read: nothing, with an error or at once
  TimedOut,  // write/read: nothing within the time limit
  Opened,
  NotFound,  // open: no such device (any more)
  InUse,     // open: the exclusive open was refused
  DiskFile,  // open: refused, the name is a file or a volume
  OpenFailed,
};

struct TraceEvent {
  EventKind kind = EventKind::Write;
  std::int64_t time = 0;  // microseconds since 1970-01-01 UTC, when the event began
  std::uint32_t pid = 0;
  std::uint32_t tid = 0;
  std::uint32_t handle = 0;  // short id of one opening; 0 for walk and limit
  std::int64_t micros = 0;   // how long it took
  Outcome outcome = Outcome::None;
  std::uint32_t error = 0;          // the system's error code, when it gave one
  std::string path;                 // walk, open: the interface path, as the open names it
  std::int32_t index = 0;           // walk: position in the system's list
  std::uint32_t count = 0;          // write, read: bytes transferred
  std::vector<std::uint8_t> bytes;  // write: the report; read: what came in
  bool masked = false;              // the data field of `bytes` is withheld (zeros)
  std::uint32_t limitMb = 0;        // limit
  bool simulated = false;           // a simulated instrument's, or a simulated session's
};

std::string_view OutcomeName(Outcome outcome);
std::optional<Outcome> OutcomeNamed(std::string_view name);

// A transfer of `size` bytes that finished (or failed, or ran out of time) with `done` of them.
Outcome TransferOutcome(bool finished, bool timedOut, std::uint32_t done, std::size_t size);
// Why an open failed, from the system's error code.
Outcome OpenRefusal(std::uint32_t systemError);

// The fields of a command (36 bytes) or reply (40) report; missing bytes read as zero.
struct ReportFields {
  std::int32_t devType = 0, channel = 0, opType = 0, opCode = 0, endCode = 0;
  std::string data;  // the Data field's bytes, trailing zero bytes dropped
};
ReportFields DecodeReport(std::span<const std::uint8_t> bytes, bool reply);

// Calibration passwords never reach a trace: a command report carrying one, and
// the reply to it, have their Data field zeroed. True when it was one.
bool IsPasswordReport(std::span<const std::uint8_t> bytes);
void MaskData(std::vector<std::uint8_t>& bytes, bool reply);

}  // namespace velcorin::trace
