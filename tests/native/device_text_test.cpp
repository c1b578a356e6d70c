#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/runtime_error.h"
#include "device/core/text.h"

namespace velcorin {
namespace {

TEST(Trim, RemovesOnlyOuterSpaces) {
  EXPECT_EQ(Trim(u"  a b  "), u"a b");
  EXPECT_EQ(Trim(u"    "), u"");
  EXPECT_EQ(Trim(u"\tx\t"), u"\tx\t");
  const std::u16string zeroPadded = std::u16string(u" abc") + std::u16string(3, u'\0');
  EXPECT_EQ(Trim(zeroPadded), zeroPadded.substr(1));
}

struct NumberCase {
  std::u16string text;
  std::optional<std::int32_t> value;  // none: raises `error`
  std::int32_t error = 0;
};

TEST(ParseReplyNumber, Table) {
  const std::u16string zeros(17, u'\0');
  const NumberCase cases[] = {
      {u"0", 0},
      {u"+5", 5},
      {u"-0", 0},
      {u"007", 7},
      {u" 12 ", 12},
      {u"4660" + std::u16string(13, u'\0'), 4660},
      {std::u16string(u"  2\0junk", 8), 2},
      {u"2147483647", 2147483647},
      {u"-2147483648", -2147483647 - 1},
      {u"00000000002147483647", 2147483647},
      {u"2147483648", {}, kErrOverflow},
      {u"-2147483649", {}, kErrOverflow},
      {u"99999999999999999999", {}, kErrOverflow},
      {u"-99999999999999999999999999999", {}, kErrOverflow},
      {u"", {}, kErrTypeMismatch},
      {u"   ", {}, kErrTypeMismatch},
      {zeros, {}, kErrTypeMismatch},
      {u"1 2", {}, kErrTypeMismatch},
      {u"12abc", {}, kErrTypeMismatch},
      {u"99999999999999999999x", {}, kErrTypeMismatch},
      {u"+", {}, kErrTypeMismatch},
      {u"- 5", {}, kErrTypeMismatch},
      {u"--5", {}, kErrTypeMismatch},
      {u"\t5", {}, kErrTypeMismatch},
      {u"5\t", {}, kErrTypeMismatch},
      {u"&H10", {}, kErrTypeMismatch},
      {u"1.5", {}, kErrTypeMismatch},
      {u"1,000", {}, kErrTypeMismatch},
      {u"\uFF15", {}, kErrTypeMismatch},
  };
  for (const NumberCase& c : cases) {
    const std::string shown(c.text.begin(), c.text.end());
    if (c.value) {
      EXPECT_EQ(ParseReplyNumber(c.text), *c.value) << shown;
      continue;
    }
    try {
      ParseReplyNumber(c.text);
      ADD_FAILURE() << "no error for '" << shown << "'";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number, c.error) << shown;
    }
  }
}

}  // namespace
}  // namespace velcorin
