// How a trace is switched on and bounded, without the system: the file name
// with {pid} filled in, and the size limit's bookkeeping.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velcorin::trace {

inline constexpr std::uint32_t kDefaultLimitMb = 100;

// Every "{pid}" replaced by the process id.
std::u16string ExpandFileName(std::u16string_view name, std::uint32_t pid);

// The limit a TraceLimitMB setting asks for: a whole number of megabytes, 1 or
// more; anything else leaves the default.
std::uint32_t LimitMbFrom(std::optional<std::uint64_t> setting);

// Decides line by line whether the file may still grow. The limit line is
// reserved for from the start, so that the file, grown by this process alone,
// never passes the limit.
class SizeBudget {
 public:
  enum class Verdict { Write, WriteLimitLineAndStop };
  explicit SizeBudget(std::uint32_t limitMb) : limitMb_(limitMb) {}

  // `fileSize`: the file's size now, other processes' lines included.
  Verdict Judge(std::uint64_t fileSize, std::size_t lineSize) const;
  std::uint32_t LimitMb() const { return limitMb_; }

 private:
  std::uint32_t limitMb_;
};

}  // namespace velcorin::trace
