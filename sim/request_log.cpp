#include "sim/request_log.h"

#include <stdexcept>

#include "simulation/core/log_line.h"

namespace velcorin::sim {

RequestLog::RequestLog(const std::wstring& path) {
  if (path.empty()) return;
  file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) throw std::runtime_error("cannot create the log file");
}

void RequestLog::Record(std::string_view serial, std::span<const std::uint8_t> bytes, bool unrecorded) {
  if (!file_) return;
  const std::string line = FormatLogLine(serial, bytes, unrecorded) + "\n";
  const std::lock_guard lock(mutex_);
  DWORD written = 0;
  WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace velcorin::sim
