#include "device/device_handle.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

namespace velcorin {

trace::Outcome DeviceHandle::OpenFile(const char* name, DWORD& error) {
  if (simulation::IsOn()) return OpenSimulated(name, error);
  file_.reset(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
  if (!file_) {
    error = GetLastError();
    return trace::OpenRefusal(error);
  }
  // The identity query writes reports: never into a file or a volume.
  if (GetFileType(file_.get()) == FILE_TYPE_DISK) {
    file_.reset();
    return trace::Outcome::DiskFile;
  }
  return trace::Outcome::Opened;
}

// Only a simulated instrument's path opens; any other, a real one's too, is not found.
trace::Outcome DeviceHandle::OpenSimulated(const char* name, DWORD& error) {
  error = simulation::Instruments().Open(name, sim::SimClock::now(), session_);
  return error == 0 ? trace::Outcome::Opened : trace::OpenRefusal(error);
}

bool DeviceHandle::Open(const char* name) {
  Close();
  if (!event_) event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event_) return false;
  DWORD error = 0;
  if (!trace::IsOn()) return OpenFile(name, error) == trace::Outcome::Opened;
  const trace::Stopwatch watch;
  const trace::Outcome outcome = OpenFile(name, error);
  traced_ = trace::RecordOpen(name, outcome, error, watch);
  return outcome == trace::Outcome::Opened;
}

void DeviceHandle::Close() {
  if (IsOpen() && trace::IsOn()) trace::RecordClose(traced_);
  file_.reset();
  if (session_ != 0) simulation::Instruments().Close(std::exchange(session_, 0));
}

bool DeviceHandle::Transfer(bool write, void* buffer, DWORD size, Transferred& result) {
  result = {};
  if (sawAbandoned_) return false;
  if (session_ != 0) return SimulatedTransfer(write, buffer, size, result);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_.get();  // the call itself resets it
  const BOOL finished = write ? WriteFile(file_.get(), buffer, size, nullptr, &overlapped)
                              : ReadFile(file_.get(), buffer, size, nullptr, &overlapped);
  if (finished) {
    result.done = static_cast<DWORD>(overlapped.InternalHigh);
    return true;
  }
  result.error = GetLastError();
  // A reply longer than a report fills the report; the rest stays for the next read.
  if (result.error == ERROR_MORE_DATA) {
    result.done = static_cast<DWORD>(overlapped.InternalHigh);
    result.error = 0;
    return true;
  }
  if (result.error != ERROR_IO_PENDING) return false;
  result.error = 0;
  if (!Finished()) {
    CancelIo(file_.get());
    // Wait for the cancellation: the system must be done with the buffer before it is reused.
    GetOverlappedResult(file_.get(), &overlapped, &result.done, TRUE);
    result.done = 0;
    result.timedOut = !sawAbandoned_;
    return false;
  }
  if (GetOverlappedResult(file_.get(), &overlapped, &result.done, FALSE) || GetLastError() == ERROR_MORE_DATA)
    return true;
  result.error = GetLastError();
  return false;
}

// Whether the pending transfer finished in time and before it was abandoned.
bool DeviceHandle::Finished() {
  const HANDLE events[] = {event_.get(), abandoned_};
  const DWORD woken = wait_(abandoned_ ? 2 : 1, events, kTransferTimeLimitMs);
  sawAbandoned_ = woken == WAIT_OBJECT_0 + 1;
  return woken == WAIT_OBJECT_0;
}

// A write goes out at once, as into a pipe; a read waits for its reply until
// the time limit, or until abandoned, through the same wait a real one uses.
bool DeviceHandle::SimulatedTransfer(bool write, void* buffer, DWORD size, Transferred& result) {
  const std::span bytes(static_cast<std::uint8_t*>(buffer), size);
  if (!write) return SimulatedRead(bytes, result);
  result.error = simulation::Instruments().Write(session_, bytes, sim::SimClock::now());
  result.done = result.error == 0 ? size : 0;
  return result.error == 0;
}

bool DeviceHandle::SimulatedRead(std::span<std::uint8_t> bytes, Transferred& result) {
  sim::InstrumentSet& instruments = simulation::Instruments();
  const auto deadline = sim::SimClock::now() + std::chrono::milliseconds(kTransferTimeLimitMs);
  for (auto now = sim::SimClock::now();; now = sim::SimClock::now()) {
    const sim::ReadOutcome outcome = instruments.Read(session_, bytes, now);
    if (!outcome.waitUntil) {
      result.done = static_cast<DWORD>(outcome.done);
      result.error = outcome.error;
      return outcome.error == 0;
    }
    if (now >= deadline) {
      result.timedOut = true;
      return false;
    }
    const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(std::min(*outcome.waitUntil, deadline) - now);
    const HANDLE events[] = {event_.get(), abandoned_};
    if (wait_(abandoned_ ? 2 : 1, events, static_cast<DWORD>(waitMs.count())) == WAIT_OBJECT_0 + 1) {
      sawAbandoned_ = true;
      return false;
    }
  }
}

// The clock is read only for a trace: a transfer that is not traced costs nothing more.
std::optional<trace::Stopwatch> DeviceHandle::WatchIfTraced() {
  if (!trace::IsOn()) return std::nullopt;
  return std::optional<trace::Stopwatch>(std::in_place);
}

bool DeviceHandle::Write(const CommandReport& report) {
  CommandReport buffer = report;
  const auto watch = WatchIfTraced();
  Transferred result;
  const bool finished = Transfer(true, buffer.data(), static_cast<DWORD>(buffer.size()), result);
  const auto outcome = trace::TransferOutcome(finished, result.timedOut, result.done, buffer.size());
  if (watch) trace::RecordWrite(traced_, report, result.done, outcome, result.error, *watch);
  return outcome == trace::Outcome::Done;
}

// A short reply counts: the bytes that did not arrive read as zero.
bool DeviceHandle::Read(ReplyReport& reply) {
  reply.fill(0);
  const auto watch = WatchIfTraced();
  Transferred result;
  const bool finished = Transfer(false, reply.data(), static_cast<DWORD>(reply.size()), result);
  const auto outcome = trace::TransferOutcome(finished, result.timedOut, result.done, reply.size());
  if (watch) trace::RecordRead(traced_, std::span(reply).first(result.done), outcome, result.error, *watch);
  return outcome == trace::Outcome::Done || outcome == trace::Outcome::Short;
}

}  // namespace velcorin
