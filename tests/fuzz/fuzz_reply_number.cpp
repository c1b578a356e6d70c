// Number conversion never crashes, raises only 6 or 13, and a value it
// returns prints back as the digits it read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/runtime_error.h"
#include "device/core/text.h"

using namespace velcorin;

namespace {

std::u16string FromBytes(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return text;
}

// The digits of the text as the parser should see them, without sign and
// leading zeros; empty when the text is no plain number.
std::string CanonicalDigits(std::u16string text, bool& negative) {
  text = Trim(text.substr(0, text.find(u'\0')));
  negative = !text.empty() && text[0] == u'-';
  if (!text.empty() && (text[0] == u'-' || text[0] == u'+')) text.erase(0, 1);
  std::string digits;
  for (char16_t unit : text) {
    if (unit < u'0' || unit > u'9') return {};
    if (!(digits.empty() && unit == u'0')) digits.push_back(static_cast<char>(unit));
  }
  if (digits.empty() && !text.empty()) digits = "0";
  return digits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = FromBytes(data, size);
  bool negative = false;
  const std::string digits = CanonicalDigits(text, negative);
  try {
    const std::int32_t value = ParseReplyNumber(text);
    std::string printed = std::to_string(value);
    if (printed[0] == '-') printed.erase(0, 1);
    if (digits.empty() || printed != digits || (value != 0 && (value < 0) != negative)) std::abort();
  } catch (const RuntimeError& e) {
    if (e.number == kErrTypeMismatch && !digits.empty()) std::abort();
    if (e.number == kErrOverflow && digits.size() < 10) std::abort();
    if (e.number != kErrTypeMismatch && e.number != kErrOverflow) std::abort();
  }
  return 0;
}
