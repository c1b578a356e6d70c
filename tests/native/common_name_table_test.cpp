#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/core/name_table.h"

namespace velcorin {
namespace {

TEST(NameTable, FindsAnyCaseAndRefusesWhatItCannotJudge) {
  NameTable table;
  const char16_t* names[] = {u"DevType",  u"Channel",      u"OpType",       u"OpCode",         u"EndCode", u"Data",
                             u"_NewEnum", u"ChannelCount", u"ChannelNames", u"QueryInterface", u"A1",      u"x"};
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(table.Add(names[i], 100 + i));
  EXPECT_FALSE(table.Add(u"Dev-Type", 1));
  EXPECT_FALSE(table.Add(u"", 1));
  EXPECT_EQ(table.size(), 12u);
  const struct {
    const char16_t* name;
    int want;  // -1: not found here
  } cases[] = {
      {u"DevType", 100},
      {u"devtype", 100},
      {u"DEVTYPE", 100},
      {u"_newenum", 106},
      {u"channelnames", 108},
      {u"ChannelName", -1},
      {u"ChannelNamesX", -1},
      {u"Channel", 101},
      {u"a1", 110},
      {u"X", 111},
      {u"", -1},
      {u"Dev Type", -1},
      {u"DevTyp\u00e9", -1},
      {u"Dev\u0000Type", -1},
      {u"OpCode\u212a", -1},
  };
  for (const auto& c : cases) {
    const auto found = table.Find(c.name);
    EXPECT_EQ(found ? *found : -1, c.want) << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
  }
  EXPECT_FALSE(table.Find(nullptr));
  EXPECT_FALSE(NameTable().Find(u"DevType"));
}

// More names than ever get a slot each: those whose hashes meet share a run.
TEST(NameTable, ManyNamesAllFound) {
  NameTable table;
  std::vector<std::u16string> names;
  for (int i = 0; i < 500; ++i) {
    std::string name = "Member" + std::to_string(i);
    names.emplace_back(name.begin(), name.end());
    ASSERT_TRUE(table.Add(names.back(), i));
  }
  for (int i = 0; i < 500; ++i) {
    std::u16string upper = names[static_cast<size_t>(i)];
    for (char16_t& c : upper) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    EXPECT_EQ(table.Find(upper.c_str()), i);
  }
  EXPECT_FALSE(table.Find(u"Member500"));
  EXPECT_FALSE(table.Add(std::u16string(300, u'a'), 1));
  EXPECT_FALSE(table.Find(std::u16string(300, u'a').c_str()));
}

}  // namespace
}  // namespace velcorin
