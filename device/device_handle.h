// Bounded report transfers on an instrument's handle. Every write and every
// read gets one time limit; a transfer that does not finish in time counts as
// failed, and a reply that arrives later is read by the next read.
#pragma once

#include <windows.h>

#include <optional>
#include <span>

#include "common/owners.h"
#include "common/waits.h"
#include "simulation/simulation.h"
#include "trace/trace.h"
#include "wire/report.h"

namespace velcorin {

constexpr DWORD kTransferTimeLimitMs = 1000;

// Owns an instrument's file handle (opened for overlapped I/O) and the event its
// transfers wait on. The event outlives the openings: one per Device, not per open.
// With simulation on, it holds a session on a simulated instrument instead, whose
// transfers take the same time limit and end the same ways.
class DeviceHandle {
 public:
  // Opens name exclusively; refuses files and volumes, which are never instruments.
  bool Open(const char* name);
  // No CancelIo: every transfer has finished or been cancelled before it returned.
  void Close();
  bool IsOpen() const { return file_ || session_ != 0; }
  // From now on a transfer also ends, as failed, once `abandoned` (an event
  // this handle does not own) is signalled, and once seen no transfer starts;
  // transfers wait through `wait`.
  void EndTransfersOn(HANDLE abandoned, WaitForAny wait) {
    abandoned_ = abandoned;
    wait_ = wait;
  }

  // True only when all 36 bytes went out in time.
  bool Write(const CommandReport& report);
  // True when at least one byte arrived in time; bytes that did not arrive read as zero.
  bool Read(ReplyReport& reply);

 private:
  struct Transferred {
    DWORD done = 0;
    DWORD error = 0;
    bool timedOut = false;
  };
  trace::Outcome OpenFile(const char* name, DWORD& error);
  trace::Outcome OpenSimulated(const char* name, DWORD& error);
  bool Transfer(bool write, void* buffer, DWORD size, Transferred& result);
  bool SimulatedTransfer(bool write, void* buffer, DWORD size, Transferred& result);
  bool SimulatedRead(std::span<std::uint8_t> bytes, Transferred& result);
  bool Finished();
  static std::optional<trace::Stopwatch> WatchIfTraced();

  UniqueKernelHandle event_;
  UniqueKernelHandle file_;
  HANDLE abandoned_ = nullptr;
  WaitForAny wait_ = WaitForAnyObject;
  bool sawAbandoned_ = false;
  std::uint64_t session_ = 0;  // a simulated instrument's, while open
  trace::Opening traced_;      // only while a trace is being written
};

}  // namespace velcorin
