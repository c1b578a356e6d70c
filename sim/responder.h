// The firmware of a simulated instrument: turns one request report into its reply,
// with the configured faults applied. Portable: no <windows.h>.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "sim/config.h"

namespace velcorin::sim {

constexpr std::size_t kRequestSize = 36;
constexpr std::size_t kReplySize = 40;
constexpr std::size_t kDataSize = 17;
constexpr std::size_t kRequestDataOffset = 16;
constexpr std::size_t kReplyDataOffset = 20;

enum class ReplyKind {
  Report,  // the 40 bytes
  None,    // nothing is sent
  Empty,   // a zero-length message
};

struct Reply {
  ReplyKind kind = ReplyKind::Report;
  std::array<std::uint8_t, kReplySize> bytes{};
  std::uint32_t delayMs = 0;  // wait this long before sending
};

class Responder {
 public:
  explicit Responder(const InstrumentConfig& config) : config_(config) {}

  // A new client has opened the instrument: transfer numbers start again at 1.
  void StartConnection() { transfers_ = 0; }

  // Bytes missing from a short request read as zero; extra bytes are ignored.
  Reply Answer(std::span<const std::uint8_t> request);

  bool InCalMode() const { return calMode_; }

 private:
  Reply Execute(const std::array<std::uint8_t, kRequestSize>& request);
  bool IsUnansweredChannelQuery(const std::array<std::uint8_t, kRequestSize>& request) const;

  const InstrumentConfig& config_;
  std::int64_t transfers_ = 0;
  bool calMode_ = false;
};

}  // namespace velcorin::sim
