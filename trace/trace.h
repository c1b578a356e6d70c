// The I/O trace as the device layer calls it. Off unless VELCORIN_TRACE or
// HKCU\Software\Velcorin\Trace names a file; then every walk, open, transfer
// and close appends one line to it, from any thread. With tracing off, a
// transfer pays for one test of a flag.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>

#include "trace/core/trace_event.h"

namespace velcorin::trace {

extern std::atomic<bool> gTracing;

inline bool IsOn() { return gTracing.load(std::memory_order_relaxed); }

// Reads the settings and opens the file; the first call does it, later ones
// nothing. Not from DllMain: it reads the registry.
void StartOnce();

// Every line from now on says that the instruments are simulated.
void MarkLinesSimulated();

// When an event began, and how long it took.
class Stopwatch {
 public:
  Stopwatch();
  std::int64_t StartTime() const { return startTime_; }
  std::int64_t ElapsedMicros() const;

 private:
  std::int64_t startTime_;
  LARGE_INTEGER startCount_;
};

// One opening of an instrument, as its lines name it.
struct Opening {
  std::uint32_t id = 0;
  bool replyIsSecret = false;  // the last command carried a password
};

void RecordWalk(std::int32_t index, std::string_view path);
Opening RecordOpen(std::string_view path, Outcome outcome, DWORD error, const Stopwatch& watch);
// `bytes`: the command sent, or the part of the reply that arrived.
void RecordWrite(Opening& opening, std::span<const std::uint8_t> bytes, DWORD done, Outcome outcome, DWORD error,
                 const Stopwatch& watch);
void RecordRead(Opening& opening, std::span<const std::uint8_t> bytes, Outcome outcome, DWORD error,
                const Stopwatch& watch);
void RecordClose(const Opening& opening);

}  // namespace velcorin::trace
