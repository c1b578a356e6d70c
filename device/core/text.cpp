#include "device/core/text.h"

#include <limits>

#include "common/runtime_error.h"

namespace velcorin {
namespace {

std::u16string_view TrimView(std::u16string_view text) {
  const auto first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  const auto last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

std::u16string_view UpToFirstZero(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

bool IsAsciiDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

// Magnitude of a digit string, capped just above the largest 32-bit magnitude
// so that arbitrarily long input cannot overflow the accumulator.
std::int64_t DigitsMagnitude(std::u16string_view digits) {
  constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 2;
  if (digits.empty()) Raise(kErrTypeMismatch);
  std::int64_t magnitude = 0;
  for (char16_t unit : digits) {
    if (!IsAsciiDigit(unit)) Raise(kErrTypeMismatch);
    if (magnitude < kCap) magnitude = magnitude * 10 + (unit - u'0');
  }
  return magnitude;
}

}  // namespace

std::u16string Trim(std::u16string_view text) { return std::u16string(TrimView(text)); }

std::int32_t ParseReplyNumber(std::u16string_view text) {
  std::u16string_view body = TrimView(UpToFirstZero(text));
  const bool negative = !body.empty() && body.front() == u'-';
  if (!body.empty() && (body.front() == u'-' || body.front() == u'+')) body.remove_prefix(1);
  const std::int64_t magnitude = DigitsMagnitude(body);
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    Raise(kErrOverflow);
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace velcorin
