// One line of the simulator's request log: "<serial> <hex bytes>", with " short" or
// " long" appended when the request was not 36 bytes, and " unrecorded" when a
// replayed trace has no reply for it. Portable: no <windows.h>.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velcorin::sim {

struct LoggedRequest {
  std::string serial;
  std::vector<std::uint8_t> bytes;
};

// Without the line end.
std::string FormatLogLine(std::string_view serial, std::span<const std::uint8_t> bytes, bool unrecorded = false);

// nullopt for a line that is not of that form.
std::optional<LoggedRequest> ParseLogLine(std::string_view line);

}  // namespace velcorin::sim
