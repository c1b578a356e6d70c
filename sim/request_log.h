// The wire-level log: one line per request received, written through at once so that a
// test reading the file sees every request whose reply it already has.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "common/owners.h"

namespace velcorin::sim {

class RequestLog {
 public:
  // Truncates the file; an empty path logs nothing. Throws std::runtime_error.
  explicit RequestLog(const std::wstring& path);

  void Record(std::string_view serial, std::span<const std::uint8_t> bytes, bool unrecorded = false);

 private:
  std::mutex mutex_;
  UniqueKernelHandle file_;
};

}  // namespace velcorin::sim
