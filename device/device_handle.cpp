#include "device/device_handle.h"

namespace velcorin {

bool DeviceHandle::Open(const char* name) {
  Close();
  if (!event_) event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event_) return false;
  file_.Reset(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
  if (!file_) return false;
  // The identity query writes reports: never into a file or a volume.
  if (GetFileType(file_.get()) == FILE_TYPE_DISK) {
    Close();
    return false;
  }
  return true;
}

bool DeviceHandle::Transfer(bool write, void* buffer, DWORD size, DWORD& done) {
  done = 0;
  if (sawAbandoned_) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_.get();  // the call itself resets it
  const BOOL finished = write ? WriteFile(file_.get(), buffer, size, nullptr, &overlapped)
                              : ReadFile(file_.get(), buffer, size, nullptr, &overlapped);
  if (finished) {
    done = static_cast<DWORD>(overlapped.InternalHigh);
    return true;
  }
  const DWORD error = GetLastError();
  // A reply longer than a report fills the report; the rest stays for the next read.
  if (error == ERROR_MORE_DATA) {
    done = static_cast<DWORD>(overlapped.InternalHigh);
    return true;
  }
  if (error != ERROR_IO_PENDING) return false;
  if (!Finished()) {
    CancelIo(file_.get());
    // Wait for the cancellation: the system must be done with the buffer before it is reused.
    GetOverlappedResult(file_.get(), &overlapped, &done, TRUE);
    done = 0;
    return false;
  }
  return GetOverlappedResult(file_.get(), &overlapped, &done, FALSE) || GetLastError() == ERROR_MORE_DATA;
}

// Whether the pending transfer finished in time and before it was abandoned.
bool DeviceHandle::Finished() {
  const HANDLE events[] = {event_.get(), abandoned_};
  const DWORD woken = wait_(abandoned_ ? 2 : 1, events, kTransferTimeLimitMs);
  sawAbandoned_ = woken == WAIT_OBJECT_0 + 1;
  return woken == WAIT_OBJECT_0;
}

bool DeviceHandle::Write(const CommandReport& report) {
  CommandReport buffer = report;
  DWORD done = 0;
  return Transfer(true, buffer.data(), static_cast<DWORD>(buffer.size()), done) && done == buffer.size();
}

bool DeviceHandle::Read(ReplyReport& reply) {
  reply.fill(0);
  DWORD done = 0;
  return Transfer(false, reply.data(), static_cast<DWORD>(reply.size()), done) && done > 0;
}

}  // namespace velcorin
