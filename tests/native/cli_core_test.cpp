// The command-line tool's reading of arguments and its output forms.
#include <gtest/gtest.h>

#include "cli/core/arguments.h"
#include "cli/core/report.h"

namespace velcorin::cli {
namespace {

std::vector<std::u16string> Words(std::u16string_view line) {
  std::vector<std::u16string> words;
  std::u16string word;
  for (char16_t c : line) {
    if (c == u' ') { if (!word.empty()) words.push_back(std::move(word)); word.clear(); }
    else word += c;
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

TEST(CliArguments, NumbersInEveryNotationAndNothingElse) {
  const struct { std::u16string_view text; std::optional<std::int32_t> value; } cases[] = {
      {u"12", 12}, {u"-12", -12}, {u"+7", 7}, {u"0x3001", 0x3001}, {u"0X3001", 0x3001}, {u"&H3000", 0x3000},
      {u"&hff", 255}, {u"2147483647", 2147483647}, {u"-2147483648", INT32_MIN}, {u"0xFFFFFFFF", -1},
      {u"&H80000000", INT32_MIN}, {u"2147483648", std::nullopt}, {u"0x100000000", std::nullopt},
      {u"0x", std::nullopt}, {u"&H", std::nullopt}, {u"", std::nullopt}, {u"-", std::nullopt},
      {u"12a", std::nullopt}, {u"0x12g", std::nullopt}, {u" 1", std::nullopt}, {u"1.5", std::nullopt},
      {u"\uFF11", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << Utf8(c.text);
}

TEST(CliArguments, GoodCommandLines) {
  auto in = ParseArguments(Words(u"list --exclude-id 0x3001 --class=&H3000 --json"));
  EXPECT_EQ(in.verb, Verb::List);
  EXPECT_TRUE(in.json);
  ASSERT_EQ(in.filters.size(), 2u);
  EXPECT_TRUE(in.filters[0].exclude && in.filters[0].byId && in.filters[0].token == 0x3001);
  EXPECT_TRUE(!in.filters[1].exclude && !in.filters[1].byId && in.filters[1].token == 0x3000);

  in = ParseArguments(Words(u"query 2 --op 1 --code=0x2 --channel -1 --data ab --repeat 5"));
  EXPECT_EQ(in.device, u"2");
  EXPECT_EQ(in.query.opType, 1);
  EXPECT_EQ(in.query.opCode, 2);
  EXPECT_EQ(in.query.channel, -1);
  EXPECT_EQ(in.query.data, u"ab");
  EXPECT_EQ(in.query.repeat, 5u);

  in = ParseArguments(Words(u"cal SN1 enter -- -secret"));
  EXPECT_TRUE(in.enterCalMode);
  EXPECT_EQ(in.password, u"-secret");
  EXPECT_FALSE(ParseArguments(Words(u"cal SN1 exit")).enterCalMode);
  EXPECT_EQ(ParseArguments(Words(u"watch --help")).verb, Verb::Help);
}

TEST(CliArguments, BadUsageNamesWhatIsWrong) {
  const struct { std::u16string_view line; const char* message; } cases[] = {
      {u"", "a command is needed"},
      {u"lst", "unknown command 'lst'"},
      {u"list --colour", "unknown option '--colour' for list"},
      {u"info SN1 --class 1", "unknown option '--class' for info"},
      {u"list --json=1", "--json takes no value"},
      {u"choose --json", "unknown option '--json' for choose"},
      {u"list --class", "--class needs a number"},
      {u"list --class 0xZZ", "--class: '0xZZ' is not a 32-bit number"},
      {u"info", "info needs DEVICE"},
      {u"info SN1 SN2", "unexpected argument 'SN2' for info"},
      {u"query SN1 --code 1", "query needs --op N"},
      {u"query SN1 --op 1", "query needs --code N"},
      {u"query SN1 --op 1 --code 2 --repeat 0", "--repeat must be 1 to 1000000, not 0"},
      {u"query SN1 --op 1 --code 2 --data", "--data needs a value"},
      {u"cal SN1", "cal DEVICE needs 'enter PASSWORD' or 'exit'"},
      {u"cal SN1 enter", "cal DEVICE enter needs the PASSWORD"},
      {u"cal SN1 leave", "cal: 'leave' is neither"},
      {u"cal SN1 exit now", "cal: 'exit' is neither"},
  };
  for (const auto& c : cases) {
    try {
      ParseArguments(Words(c.line));
      ADD_FAILURE() << Utf8(c.line) << " was accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << Utf8(c.line) << ": " << e.what();
    }
  }
}

TEST(CliReport, TextsShownPlainAndJsonExact) {
  const std::u16string padded(u"TCM-1102\0\0\0", 11);
  EXPECT_EQ(Shown(padded), "TCM-1102");
  EXPECT_EQ(JsonString(padded), "\"TCM-1102\\u0000\\u0000\\u0000\"");
  EXPECT_EQ(Shown(u"a\x1b[2Jb\x7f"), "a\\x1B[2Jb\\x7F");
  EXPECT_EQ(JsonString(u"q\"\\\n\t\x1b\u00e9\U0001F600"), "\"q\\\"\\\\\\n\\t\\u001b\xC3\xA9\xF0\x9F\x98\x80\"");
  EXPECT_EQ(JsonString(std::u16string(1, char16_t(0xD800))), "\"\\ud800\"");
  EXPECT_EQ(Hex(0x1102), "0x1102");
  EXPECT_EQ(Hex(-1), "0xFFFFFFFF");
}

TEST(CliReport, ListInfoAndReplyForms) {
  Instrument a{1, u"LDI-3001", u"DEMO3001", u"2.14", u"LD", std::u16string(u"\\\0\\\0?\0", 6), 0x3001, 0x6A5B, 2,
               {u"Laser A", u"Laser B"}};
  EXPECT_EQ(ListText({a}),
            "#  Model     Serial    Firmware  Type    Channels\n"
            "1  LDI-3001  DEMO3001  2.14      0x3001  2\n");
  EXPECT_NE(InfoText(a).find("Path:         \\\\?\nChannel 1:    Laser A\nChannel 2:    Laser B\n"), std::string::npos);
  EXPECT_EQ(InfoJson(a),
            "{\"ModelNumber\": \"LDI-3001\", \"SerialNumber\": \"DEMO3001\", \"FirmwareVersion\": \"2.14\", "
            "\"ProductID\": 12289, \"VendorID\": 27227, \"ChannelCount\": 2, \"Description\": \"LD\", "
            "\"DevicePath\": \"\\\\\\u0000\\\\\\u0000?\\u0000\", \"ChannelNames\": [\"Laser A\", \"Laser B\"]}\n");
  EXPECT_EQ(ListJson({}), "[]\n");
  EXPECT_EQ(ChangeLine(false, a), "- 1 LDI-3001 DEMO3001 2.14 0x3001 2\n");
  const Reply r{0x3001, 0, 1, 2, 0, std::u16string(u"2.14\0", 5)};
  const auto timing = Summarize({3.0, 1.0, 2.0, 10.0});
  EXPECT_EQ(timing.runs, 4u);
  EXPECT_EQ(timing.medianMs, 2.5);
  EXPECT_NE(ReplyText(r, timing).find("Data:     2.14\nRound trip over 4 queries: min 1.000 ms, median 2.500 ms, "
                                      "max 10.000 ms\n"), std::string::npos);
  EXPECT_EQ(ReplyJson(r, std::nullopt), "{\"DevType\": 12289, \"Channel\": 0, \"OpType\": 1, \"OpCode\": 2, "
                                        "\"EndCode\": 0, \"Data\": \"2.14\\u0000\"}\n");
}

TEST(CliReport, DeviceNamedBySerialIndexOrPathAndChangesByPath) {
  const std::u16string path(u"\\\0\\\0?\0\\\0U\0s\0b\0\0\0\0", 18);
  std::vector<Instrument> list(3);
  list[0] = {1, u"", std::u16string(u"S1\0", 3), u"", u"", path, 0, 0, 0, {}};
  list[1] = {2, u"", u"3", u"", u"", u"p2", 0, 0, 0, {}};
  list[2] = {3, u"", u"S3", u"", u"", u"p3", 0, 0, 0, {}};
  const struct { std::u16string_view device; int index; } cases[] = {
      {u"S1", 1}, {u"3", 2}, {u"2", 2}, {u"1", 1}, {u"\\\\?\\usb", 1}, {u"\\\\?\\USB", 1}, {path, 1},
      {u"p3", 3}, {u"4", 0}, {u"0x1", 0}, {u"s1", 0}, {u"", 0}};
  for (const auto& c : cases) {
    const Instrument* found = FindInstrument(list, c.device);
    EXPECT_EQ(found ? found->index : 0, c.index) << Utf8(c.device);
  }
  const auto changes = Compare({list[0], list[1]}, {list[1], list[2]});
  ASSERT_EQ(changes.appeared.size(), 1u);
  ASSERT_EQ(changes.gone.size(), 1u);
  EXPECT_EQ(changes.appeared[0].index, 3);
  EXPECT_EQ(changes.gone[0].index, 1);
}

}  // namespace
}  // namespace velcorin::cli
