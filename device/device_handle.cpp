#include "device/device_handle.h"

namespace velcorin {

trace::Outcome DeviceHandle::OpenFile(const char* name, DWORD& error) {
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
  if (file_ && trace::IsOn()) trace::RecordClose(traced_);
  file_.reset();
}

bool DeviceHandle::Transfer(bool write, void* buffer, DWORD size, Transferred& result) {
  result = {};
  if (sawAbandoned_) return false;
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

bool DeviceHandle::Write(const CommandReport& report) {
  if (trace::IsOn()) return TracedWrite(report);
  CommandReport buffer = report;
  Transferred result;
  return Transfer(true, buffer.data(), static_cast<DWORD>(buffer.size()), result) && result.done == buffer.size();
}

bool DeviceHandle::Read(ReplyReport& reply) {
  if (trace::IsOn()) return TracedRead(reply);
  reply.fill(0);
  Transferred result;
  return Transfer(false, reply.data(), static_cast<DWORD>(reply.size()), result) && result.done > 0;
}

bool DeviceHandle::TracedWrite(const CommandReport& report) {
  CommandReport buffer = report;
  const trace::Stopwatch watch;
  Transferred result;
  const bool finished = Transfer(true, buffer.data(), static_cast<DWORD>(buffer.size()), result);
  const auto outcome = trace::TransferOutcome(finished, result.timedOut, result.done, buffer.size());
  trace::RecordWrite(traced_, report, result.done, outcome, result.error, watch);
  return outcome == trace::Outcome::Done;
}

bool DeviceHandle::TracedRead(ReplyReport& reply) {
  reply.fill(0);
  const trace::Stopwatch watch;
  Transferred result;
  const bool finished = Transfer(false, reply.data(), static_cast<DWORD>(reply.size()), result);
  const auto outcome = trace::TransferOutcome(finished, result.timedOut, result.done, reply.size());
  trace::RecordRead(traced_, std::span(reply).first(result.done), outcome, result.error, watch);
  return outcome == trace::Outcome::Done || outcome == trace::Outcome::Short;
}

}  // namespace velcorin
