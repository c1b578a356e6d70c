#include "simulation/core/log_line.h"

#include "wire/report.h"

namespace velcorin::sim {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string FormatLogLine(std::string_view serial, std::span<const std::uint8_t> bytes, bool unrecorded) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string line(serial);
  line += ' ';
  for (const std::uint8_t byte : bytes) {
    line += kDigits[byte >> 4];
    line += kDigits[byte & 0xF];
  }
  if (bytes.size() != kCommandReportSize) line += bytes.size() < kCommandReportSize ? " short" : " long";
  if (unrecorded) line += " unrecorded";
  return line;
}

std::optional<LoggedRequest> ParseLogLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  const auto space = line.find(' ');
  if (space == 0 || space == std::string_view::npos) return std::nullopt;
  LoggedRequest request{std::string(line.substr(0, space)), {}};
  std::string_view hex = line.substr(space + 1);
  hex = hex.substr(0, hex.find(' '));
  if (hex.size() % 2 != 0) return std::nullopt;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]), low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    request.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return request;
}

}  // namespace velcorin::sim
