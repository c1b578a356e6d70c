// Simulated instruments inside a process: the same firmware as velcorin-sim.exe,
// reached through calls instead of pipes, with the pipe's behaviour kept: a
// request is answered in the order it came, a late reply holds back the ones
// after it, a reply that comes after the reader gave up is read by the next
// read, replies waiting run together as the bytes of a pipe read in byte mode
// do (a reply longer than the read's buffer leaves the rest for the next read),
// and an instrument that unplugs itself breaks its open handle. Time is
// passed in, so that this stays portable and testable; the caller waits.
// Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "simulation/core/config.h"
#include "simulation/core/responder.h"

namespace velcorin::sim {

using SimClock = std::chrono::steady_clock;

// The system's error codes a real instrument's handle gives in the same case.
inline constexpr std::uint32_t kNotFoundError = 2;  // the path opens nothing (any more)
inline constexpr std::uint32_t kBrokenError = 109;  // read: the instrument went away
inline constexpr std::uint32_t kBusyError = 231;    // open: another handle has it
inline constexpr std::uint32_t kNoDataError = 232;  // write: the instrument went away

struct ReadOutcome {
  std::size_t done = 0;                           // bytes placed in the buffer
  std::uint32_t error = 0;                        // nonzero: failed at once
  std::optional<SimClock::time_point> waitUntil;  // nothing yet: ask again then (max: never)
};

// The instruments a simulation file describes: a configuration, or a trace to
// replay (JSON lines: its first character is '{'). Throws ConfigError.
std::vector<InstrumentConfig> ReadInstruments(std::string_view fileText);

class InstrumentSet {
 public:
  explicit InstrumentSet(std::vector<InstrumentConfig> configs);
  ~InstrumentSet();
  InstrumentSet(const InstrumentSet&) = delete;
  InstrumentSet& operator=(const InstrumentSet&) = delete;

  // The device paths of the instruments present at `now`, in the order of their paths.
  std::vector<std::string> PresentPaths(SimClock::time_point now);

  // An exclusive session on the instrument at `path` (any case), or the error
  // a real open gives.
  std::uint32_t Open(std::string_view path, SimClock::time_point now, std::uint64_t& session);
  void Close(std::uint64_t session);
  // 0 when the request went out (whole, at once), else the error.
  std::uint32_t Write(std::uint64_t session, std::span<const std::uint8_t> request, SimClock::time_point now);
  ReadOutcome Read(std::uint64_t session, std::span<std::uint8_t> buffer, SimClock::time_point now);

 private:
  struct Instrument;
  Instrument* Session(std::uint64_t session);
  void Serve(Instrument& instrument, std::span<const std::uint8_t> request, SimClock::time_point now);

  std::vector<InstrumentConfig> configs_;
  std::vector<std::unique_ptr<Instrument>> instruments_;
  std::mutex mutex_;
  std::uint64_t lastSession_ = 0;
};

}  // namespace velcorin::sim
