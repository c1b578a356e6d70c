#include "trace/core/trace_settings.h"

namespace velcorin::trace {
namespace {

// Room for the limit line with the widest numbers it can carry.
constexpr std::size_t kLimitLineReserve = 256;
constexpr std::uint64_t kMegabyte = std::uint64_t{1024} * 1024;
// Beyond what a 64-bit file size could need, and below any overflow of the product.
constexpr std::uint64_t kLargestLimitMb = 1u << 30;

}  // namespace

std::u16string ExpandFileName(std::u16string_view name, std::uint32_t pid) {
  static constexpr std::u16string_view kPid = u"{pid}";
  std::u16string out;
  const std::string digits = std::to_string(pid);
  for (std::size_t at = 0; at < name.size();) {
    if (name.substr(at, kPid.size()) == kPid) {
      out.append(digits.begin(), digits.end());
      at += kPid.size();
    } else {
      out += name[at++];
    }
  }
  return out;
}

std::uint32_t LimitMbFrom(std::optional<std::uint64_t> setting) {
  if (!setting || *setting == 0 || *setting > kLargestLimitMb) return kDefaultLimitMb;
  return static_cast<std::uint32_t>(*setting);
}

SizeBudget::Verdict SizeBudget::Judge(std::uint64_t fileSize, std::size_t lineSize) const {
  const std::uint64_t limit = std::uint64_t{limitMb_} * kMegabyte;
  return fileSize + lineSize + kLimitLineReserve <= limit ? Verdict::Write : Verdict::WriteLimitLineAndStop;
}

}  // namespace velcorin::trace
