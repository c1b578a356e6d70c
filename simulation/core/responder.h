// The firmware of a simulated instrument: turns one request report into its reply,
// with the configured faults applied. Portable: no <windows.h>.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "wire/report.h"
#include "simulation/core/config.h"

namespace velcorin::sim {

// Random replies of random size run from empty to twice a report, so that reads
// see empty, short and overlong messages.
constexpr std::size_t kMaxRandomReplySize = 2 * kReplyReportSize;

enum class ReplyKind {
  Report,  // the 40 bytes
  None,    // nothing is sent
  Empty,   // a zero-length message
  Unplug,  // nothing is sent: the instrument unplugs itself
};

struct Reply {
  ReplyKind kind = ReplyKind::Report;
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kReplyReportSize);
  std::uint32_t delayMs = 0;  // wait this long before sending
  bool unrecorded = false;    // replaying: the trace never saw this request
};

class Responder {
 public:
  explicit Responder(const InstrumentConfig& config) : config_(config) { StartConnection(); }

  // A new client has opened the instrument: transfer numbers and random replies start again.
  void StartConnection();

  // Bytes missing from a short request read as zero; extra bytes are ignored.
  Reply Answer(std::span<const std::uint8_t> request);

  bool InCalMode() const { return calMode_; }
  const InstrumentConfig& Config() const { return config_; }

 private:
  Reply Execute(const CommandReport& request);
  Reply Replay(std::span<const std::uint8_t> request) const;
  bool IsUnansweredChannelQuery(const CommandReport& request) const;
  bool IsRandomTransfer() const;
  Reply RandomReply();
  std::uint64_t NextRandom();

  const InstrumentConfig& config_;
  std::int64_t transfers_ = 0;
  std::uint64_t randomState_ = 0;
  bool calMode_ = false;
};

}  // namespace velcorin::sim
