// A trace read back as instruments: every interface path the trace saw, each
// with the replies its instrument gave, keyed by the exact command bytes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "trace/core/trace_event.h"

namespace velcorin::sim {

struct RecordedReply {
  enum class Kind {
    Report,  // these bytes (a short reply is shorter)
    None,    // nothing came: the read timed out, or no read followed
    Empty,   // the read failed at once
  };
  Kind kind = Kind::None;
  std::vector<std::uint8_t> bytes;
};

// The command bytes as a trace keeps them: a password withheld.
std::string CommandKey(std::span<const std::uint8_t> command);

class InstrumentScript {
 public:
  void Record(const std::string& key, RecordedReply reply);
  // The n-th live request with these bytes gets the n-th reply recorded for
  // them, later ones the last again; nothing when they were never recorded.
  std::optional<RecordedReply> Answer(std::span<const std::uint8_t> request);

 private:
  struct Entry {
    std::vector<RecordedReply> replies;
    std::size_t served = 0;
  };
  std::map<std::string, Entry> entries_;
};

struct ReplayInstrument {
  std::string path;    // as the trace saw it
  std::string serial;  // from its identity reply, else made up; letters, digits, _ - . only, unique
  InstrumentScript script;
};

// In the order the trace first names them. A write pairs with the next read on
// the same opening.
std::vector<ReplayInstrument> ReplayInstruments(const std::vector<trace::TraceEvent>& events);

}  // namespace velcorin::sim
