// The command-line tool's reading of arguments and its output forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "cli/core/arguments.h"
#include "cli/core/report.h"

namespace velcorin::cli {
namespace {

std::vector<std::u16string> Words(std::u16string_view line) {
  std::vector<std::u16string> words;
  std::u16string word;
  for (char16_t c : line) {
    if (c == u' ') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else
      word += c;
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

TEST(CliArguments, NumbersInEveryNotationAndNothingElse) {
  const struct {
    std::u16string_view text;
    std::optional<std::int32_t> value;
  } cases[] = {{u"12", 12},
               {u"-12", -12},
               {u"+7", 7},
               {u"0x3001", 0x3001},
               {u"0X3001", 0x3001},
               {u"&H3000", 0x3000},
               {u"&hff", 255},
               {u"2147483647", 2147483647},
               {u"-2147483648", INT32_MIN},
               {u"0xFFFFFFFF", -1},
               {u"&H80000000", INT32_MIN},
               {u"2147483648", std::nullopt},
               {u"0x100000000", std::nullopt},
               {u"0x", std::nullopt},
               {u"&H", std::nullopt},
               {u"", std::nullopt},
               {u"-", std::nullopt},
               {u"12a", std::nullopt},
               {u"0x12g", std::nullopt},
               {u" 1", std::nullopt},
               {u"1.5", std::nullopt},
               {u"\uFF11", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << Utf8(c.text);
}

TEST(CliArguments, GoodCommandLines) {
  auto in = ParseArguments(Words(u"LIST --Exclude-Id 0x3001 --class=&H3000 --JSON"));
  EXPECT_EQ(in.verb, Verb::List);
  EXPECT_TRUE(in.json);
  ASSERT_EQ(in.filters.size(), 2u);
  EXPECT_TRUE(in.filters[0].exclude && in.filters[0].byId && in.filters[0].token == 0x3001);
  EXPECT_TRUE(!in.filters[1].exclude && !in.filters[1].byId && in.filters[1].token == 0x3000);

  in = ParseArguments(Words(u"query 2 --op read --code=0x2 --channel -1 --data 12345678901234567 --repeat 5"));
  EXPECT_EQ(in.device, u"2");
  EXPECT_EQ(in.packet.opType, u"read");
  EXPECT_EQ(in.packet.opCode, u"0x2");
  EXPECT_EQ(in.packet.channel, -1);
  EXPECT_EQ(in.packet.data, u"12345678901234567");
  EXPECT_EQ(in.repeat, 5u);

  in = ParseArguments(Words(u"cal SN1 enter -- -secret"));
  EXPECT_TRUE(in.enterCalMode);
  EXPECT_EQ(in.password, u"-secret");
  in = ParseArguments(Words(u"Cal SN1 ENTER"));
  EXPECT_TRUE(in.enterCalMode);
  EXPECT_FALSE(in.password);
  EXPECT_FALSE(ParseArguments(Words(u"cal SN1 exit --json")).enterCalMode);
  EXPECT_EQ(ParseArguments(Words(u"shell \\\\?\\usb#x --json")).device, u"\\\\?\\usb#x");
  EXPECT_EQ(ParseArguments(Words(u"--VERSION")).verb, Verb::Version);

  in = ParseArguments(Words(u"TRACE Show t.jsonl --Instrument SN1 --SINCE=07:00:00 --json"));
  EXPECT_EQ(in.verb, Verb::Trace);
  EXPECT_EQ(in.traceShow.file, u"t.jsonl");
  EXPECT_EQ(in.traceShow.instrument, u"SN1");
  EXPECT_EQ(in.traceShow.since, u"07:00:00");
  EXPECT_TRUE(in.json);
  EXPECT_FALSE(in.traceTo);
  for (const auto* line :
       {u"--trace t.jsonl list --json", u"--TRACE=t.jsonl list --json", u"list --Trace t.jsonl --json"}) {
    in = ParseArguments(Words(line));
    EXPECT_EQ(in.verb, Verb::List) << Utf8(line);
    EXPECT_EQ(in.traceTo, u"t.jsonl") << Utf8(line);
    EXPECT_TRUE(in.json) << Utf8(line);
  }
}

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
  return out;
}

// One table for every command of the tool: in any case it is that command, and
// help on it comes every way there is to ask.
TEST(CliArguments, EveryCommandInAnyCaseWithItsHelp) {
  const struct {
    Verb verb;
    std::u16string_view line;  // the command with what it needs
  } cases[] = {{Verb::List, u"list"},
               {Verb::Info, u"info SN1"},
               {Verb::Query, u"query SN1 --op 1 --code 2"},
               {Verb::Cal, u"cal SN1 exit"},
               {Verb::Choose, u"choose"},
               {Verb::Watch, u"watch"},
               {Verb::Shell, u"shell SN1"},
               {Verb::Trace, u"trace show t.jsonl"},
               {Verb::Help, u"help"}};
  const std::string overview = HelpText(std::nullopt, nullptr);
  EXPECT_NE(overview.find("--trace FILE COMMAND"), std::string::npos) << overview;
  ASSERT_EQ(std::size(cases), Commands().size());
  for (const auto& command : Commands()) {
    const auto c = std::find_if(std::begin(cases), std::end(cases), [&](auto& c) { return c.verb == command.verb; });
    ASSERT_NE(c, std::end(cases)) << Utf8(command.name) << " has no row";
    const std::u16string line(c->line), name(command.name);
    EXPECT_EQ(ParseArguments(Words(line)).verb, command.verb) << Utf8(line);
    EXPECT_EQ(ParseArguments(Words(Upper(line))).verb, command.verb) << Utf8(Upper(line));
    EXPECT_NE(overview.find("\n  " + Utf8(name) + " "), std::string::npos) << Utf8(name);
    if (command.verb == Verb::Help) continue;
    const std::string usage = "usage: velcorin " + Utf8(name) + " ";
    EXPECT_EQ(HelpText(command.verb, nullptr).rfind(usage, 0), 0u) << HelpText(command.verb, nullptr);
    for (const std::u16string& asking : {u"help " + name, u"HELP " + Upper(name), line + u" --help",
                                         Upper(line) + u" -H", line + u" /?", u"--HELP " + name}) {
      const auto in = ParseArguments(Words(asking));
      EXPECT_EQ(in.verb, Verb::Help) << Utf8(asking);
      EXPECT_EQ(in.helpFor, command.verb) << Utf8(asking);
    }
  }
  EXPECT_NE(HelpText(Verb::Trace, nullptr).find("--since TIME"), std::string::npos);
  EXPECT_NE(HelpText(Verb::Query, nullptr).find("\n  --trace FILE "), std::string::npos);
  EXPECT_EQ(HelpText(Verb::Trace, nullptr).find("\n  --trace FILE "), std::string::npos);
}

TEST(CliArguments, EveryWayToAskForHelp) {
  const struct {
    std::u16string_view line;
    std::optional<Verb> about;
  } cases[] = {{u"--help", std::nullopt},      {u"-h", std::nullopt},
               {u"/?", std::nullopt},          {u"help", std::nullopt},
               {u"help query", Verb::Query},   {u"HELP Cal", Verb::Cal},
               {u"watch --help", Verb::Watch}, {u"query -H", Verb::Query},
               {u"info /?", Verb::Info},       {u"cal DEV enter --help", Verb::Cal},
               {u"--help shell", Verb::Shell}};
  for (const auto& c : cases) {
    const auto in = ParseArguments(Words(c.line));
    EXPECT_EQ(in.verb, Verb::Help) << Utf8(c.line);
    EXPECT_EQ(in.helpFor, c.about) << Utf8(c.line);
  }
  const Enumerations names{{{u"TypeRead", 1}}, {{u"CmdFwVer", 2}}, {{u"ErrChannel", 2}}};
  const std::string query = HelpText(Verb::Query, &names);
  for (const char* part : {"usage: velcorin query DEVICE [options]", "--op OP", "--data TEXT", "TypeRead=1",
                           "CmdFwVer=2", "ErrChannel=2", "--help, -h, /?"})
    EXPECT_NE(query.find(part), std::string::npos) << part;
  EXPECT_NE(HelpText(Verb::Query, nullptr).find("did not load"), std::string::npos);
  EXPECT_EQ(HelpText(Verb::List, &names).find("--op"), std::string::npos);
  for (const auto& command : Commands())
    EXPECT_NE(HelpText(std::nullopt, nullptr).find(Utf8(command.name)), std::string::npos);
}

TEST(CliArguments, BadUsageNamesWhatIsWrong) {
  const struct {
    std::u16string_view line;
    const char* message;
  } cases[] = {
      {u"", "a command is needed"},
      {u"lst", "unknown command 'lst'"},
      {u"help lst", "unknown command 'lst'"},
      {u"list --colour", "unknown option '--colour' for list"},
      {u"info SN1 --class 1", "unknown option '--class' for info"},
      {u"list --JSON=1", "--json takes no value"},
      {u"list --class", "--class needs N"},
      {u"list --class 0xZZ", "--class: '0xZZ' is not a 32-bit number"},
      {u"info", "info needs DEVICE"},
      {u"info SN1 SN2", "unexpected argument 'SN2' for info"},
      {u"query SN1 --code 1", "query needs --op OP"},
      {u"query SN1 --op 1", "query needs --code CODE"},
      {u"query SN1 --op 1 --code 2 --repeat 0", "--repeat must be 1 to 1000000, not 0"},
      {u"query SN1 --op 1 --code 2 --data", "--data needs TEXT"},
      {u"query SN1 --op 1 --code 2 --data 123456789012345678", "--data holds at most 17 characters"},
      {u"cal SN1", "cal DEVICE needs 'enter [PASSWORD]' or 'exit'"},
      {u"cal SN1 leave", "cal: 'leave' is neither 'enter' nor 'exit'"},
      {u"cal SN1 exit extra", "unexpected argument 'extra' after cal DEVICE exit"},
      {u"cal SN1 enter pw more", "unexpected argument 'more' for cal"},
      {u"--version now", "unexpected argument 'now' after --version"},
      {u"trace", "trace needs 'show FILE'"},
      {u"trace list", "trace needs 'show FILE'"},
      {u"trace show", "trace show needs the trace FILE"},
      {u"trace show a b", "unexpected argument 'b' for trace show"},
      {u"trace show a --since", "--since needs TIME"},
      {u"trace show a --colour", "unknown option '--colour' for trace"},
      {u"trace show a --op 1", "unknown option '--op' for trace"},
      {u"--trace", "--trace needs FILE"},
      {u"--trace t.jsonl", "a command is needed after --trace FILE"},
      {u"list --trace=", "--trace needs FILE"},
      {u"--trace t.jsonl trace show a", "unknown option '--trace' for trace"},
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

TEST(CliArguments, OpAndCodeByNumberOrName) {
  const NamedValues codes = {{u"CmdModel", 0}, {u"CmdFwVer", 2}, {u"CmdPasswd", 14}};
  const struct {
    std::u16string_view text;
    std::optional<std::int32_t> value;
  } cases[] = {{u"2", 2},       {u"&HE", 14},  {u"CmdFwVer", 2},       {u"cmdfwver", 2},        {u"FwVer", 2},
               {u"PASSWD", 14}, {u"Model", 0}, {u"Cmd", std::nullopt}, {u"FwVe", std::nullopt}, {u"", std::nullopt}};
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(NumberOrName(c.text, codes, "CODE"), c.value) << Utf8(c.text);
    } catch (const UsageError& e) {
      EXPECT_FALSE(c.value) << Utf8(c.text);
      EXPECT_NE(std::string(e.what()).find("velcorin help query"), std::string::npos);
    }
  }
  EXPECT_EQ(NameOf(14, codes), "CmdPasswd");
  EXPECT_EQ(NameOf(7, codes), "");
}

TEST(CliArguments, ShellLines) {
  const struct {
    std::u16string_view line;
    ShellVerb verb;
    std::u16string_view data;
    const char* error;
  } cases[] = {
      {u"", ShellVerb::Nothing, u"", nullptr},
      {u"   # a comment", ShellVerb::Nothing, u"", nullptr},
      {u"QUERY read FwVer", ShellVerb::Query, u"", nullptr},
      {u"write 1 7 0 0 \"a \\\"b\\\" c\"", ShellVerb::Write, u"a \"b\" c", nullptr},
      {u"query 1 7 0 0 x y", ShellVerb::Nothing, u"", "unexpected argument 'y'"},
      {u"query 1", ShellVerb::Nothing, u"", "query needs OP and CODE"},
      {u"query 1 7 zero", ShellVerb::Nothing, u"", "TYPE: 'zero' is not a 32-bit number"},
      {u"query 1 7 0 0 123456789012345678", ShellVerb::Nothing, u"", "at most 17"},
      {u"query 1 7 0 0 \"open", ShellVerb::Nothing, u"", "quote is not closed"},
      {u"read", ShellVerb::Read, u"", nullptr},
      {u"info", ShellVerb::Info, u"", nullptr},
      {u"cal enter", ShellVerb::CalEnter, u"", nullptr},
      {u"cal exit", ShellVerb::CalExit, u"", nullptr},
      {u"cal exit now", ShellVerb::Nothing, u"", "unexpected argument 'now'"},
      {u"cal", ShellVerb::Nothing, u"", "cal needs"},
      {u"help", ShellVerb::Help, u"", nullptr},
      {u"quit", ShellVerb::Quit, u"", nullptr},
      {u"frob", ShellVerb::Nothing, u"", "unknown command 'frob'"},
  };
  for (const auto& c : cases) {
    try {
      const ShellLine line = ParseShellLine(c.line);
      EXPECT_FALSE(c.error) << Utf8(c.line) << " was accepted";
      EXPECT_EQ(line.verb, c.verb) << Utf8(c.line);
      EXPECT_EQ(line.packet.data, c.data) << Utf8(c.line);
    } catch (const UsageError& e) {
      ASSERT_TRUE(c.error) << Utf8(c.line) << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << Utf8(c.line) << ": " << e.what();
    }
  }
  EXPECT_EQ(ParseShellLine(u"cal enter pw").password, u"pw");
  const auto packet =
      Resolve(ParseShellLine(u"query read fwver 0x1102 3").packet, {{{u"TypeRead", 1}}, {{u"CmdFwVer", 2}}, {}});
  EXPECT_EQ(packet.opType, 1);
  EXPECT_EQ(packet.opCode, 2);
  EXPECT_EQ(packet.devType, 0x1102);
  EXPECT_EQ(packet.channel, 3);
}

TEST(CliArguments, Utf8BothWays) {
  const std::u16string text = u"a\u00e9\u65e5\U0001F600";
  EXPECT_EQ(FromUtf8(Utf8(text)), text);
  EXPECT_EQ(FromUtf8("\xff"
                     "a\xc3"),
            u"\uFFFDa\uFFFD");
  EXPECT_EQ(FromUtf8("\xc0\x80"), u"\uFFFD\uFFFD");  // an overlong zero is not a zero
}

TEST(CliReport, TextsShownPlainAndJsonExact) {
  const std::u16string padded(u"TCM-1102\0\0\0", 11);
  EXPECT_EQ(Shown(padded), "TCM-1102");
  EXPECT_EQ(Shown(u"2.14   "), "2.14");
  EXPECT_EQ(JsonString(padded), "\"TCM-1102\\u0000\\u0000\\u0000\"");
  EXPECT_EQ(Shown(u"a\x1b[2Jb\x7f"), "a\\x1B[2Jb\\x7F");
  EXPECT_EQ(JsonString(u"q\"\\\n\t\x1b\u00e9\U0001F600"), "\"q\\\"\\\\\\n\\t\\u001b\xC3\xA9\xF0\x9F\x98\x80\"");
  EXPECT_EQ(JsonString(std::u16string(1, char16_t(0xD800))), "\"\\ud800\"");
  // C1 controls (CSI, NEL) and bidirectional overrides and isolates, which a terminal obeys.
  EXPECT_EQ(Shown(u"a\u009b31m\u0085\u202eb\u2066\u00e9"), "a\\x9B31m\\x85\\u202Eb\\u2066\xC3\xA9");
  EXPECT_EQ(JsonString(u"\u009b\u202e\u00a0"), "\"\\u009b\\u202e\xC2\xA0\"");
  EXPECT_EQ(Hex(0x1102), "0x1102");
  EXPECT_EQ(Hex(-1), "0xFFFFFFFF");
}

Instrument Sample() {
  return {1,
          true,
          u"LDI-3001",
          std::u16string(u"DEMO3001\0", 9),
          u"2.14",
          u"LD",
          std::u16string(u"\\\0\\\0?\0", 6),
          u"\\\\?",
          0x3001,
          0x6A5B,
          2,
          {u"Laser A", std::u16string(u"Laser B\0", 8)}};
}

Instrument Unusable(int index, std::u16string path) {
  Instrument i;
  i.index = index;
  i.usable = false;
  i.path = path;
  i.plainPath = path;
  return i;
}

TEST(CliReport, ListInfoAndReplyForms) {
  const Instrument a = Sample();
  const Instrument busy = Unusable(2, u"\\\\?\\usb#vid_6a5b&pid_1102#demo1102#{guid}");
  EXPECT_EQ(ListText({a, busy}),
            "#  Model     Serial    Firmware  Type    Channels\n"
            "1  LDI-3001  DEMO3001  2.14      0x3001  2\n"
            "2  in use or not answering: \\\\?\\usb#vid_6a5b&pid_1102#demo1102#{guid}\n");
  EXPECT_NE(InfoText(a).find("Index:        1\nModel:        LDI-3001\n"), std::string::npos) << InfoText(a);
  EXPECT_NE(InfoText(a).find("Path:         \\\\?\nChannel 1:    Laser A\nChannel 2:    Laser B\n"), std::string::npos);
  // Under Exact only what the shown form does not give back.
  EXPECT_EQ(
      InfoJson(a),
      "{\"Index\": 1, \"State\": \"ready\", \"ModelNumber\": \"LDI-3001\", \"SerialNumber\": \"DEMO3001\", "
      "\"FirmwareVersion\": \"2.14\", \"ProductID\": 12289, \"VendorID\": 27227, \"ChannelCount\": 2, "
      "\"Description\": \"LD\", \"DevicePath\": \"\\\\\\\\?\", \"ChannelNames\": [\"Laser A\", \"Laser B\"], "
      "\"Exact\": {\"SerialNumber\": \"DEMO3001\\u0000\", \"ChannelNames\": [\"Laser A\", \"Laser B\\u0000\"]}}\n");
  Instrument odd = a;
  odd.serial = u"DEMO3001";
  odd.channelNames = {u"Laser A"};
  odd.plainPathSuffices = false;
  EXPECT_NE(InfoJson(odd).find("\"Exact\": {\"DevicePath\": \"\\\\\\u0000\\\\\\u0000?\\u0000\"}}"), std::string::npos)
      << InfoJson(odd);
  odd.plainPathSuffices = true;
  odd.firmware = u"2.14 ";
  EXPECT_NE(InfoJson(odd).find("\"Exact\": {\"FirmwareVersion\": \"2.14 \"}}"), std::string::npos) << InfoJson(odd);
  EXPECT_EQ(ListJson({busy}),
            "[{\"Index\": 2, \"State\": \"unavailable\", \"DevicePath\": "
            "\"\\\\\\\\?\\\\usb#vid_6a5b&pid_1102#demo1102#{guid}\", \"Exact\": {}}]\n");
  EXPECT_EQ(ListJson({}), "[]\n");
  const Enumerations names{{{u"TypeRead", 1}}, {{u"CmdFwVer", 2}}, {{u"ErrOk", 0}}};
  const Reply r{0x3001, 0, 1, 2, 0, std::u16string(u"2.14\0  ", 7)};
  const auto timing = Summarize({3.0, 1.0, 2.0, 10.0});
  EXPECT_EQ(timing.runs, 4u);
  EXPECT_EQ(timing.medianMs, 2.5);
  EXPECT_EQ(
      ReplyText(r, timing, &names),
      "DevType:  12289 (0x3001)\nChannel:  0\nOpType:   1 (TypeRead)\nOpCode:   2 (CmdFwVer)\nEndCode:  0 (ErrOk)\n"
      "Data:     2.14\n4 queries, 0 failed; round trip min 1.000 ms, median 2.500 ms, max 10.000 ms\n");
  EXPECT_NE(ReplyText(r, std::nullopt, nullptr).find("OpType:   1\nOpCode:   2\nEndCode:  0\n"), std::string::npos);
  EXPECT_EQ(ReplyJson(r, std::nullopt, &names),
            "{\"DevType\": 12289, \"Channel\": 0, \"OpType\": 1, \"OpTypeName\": \"TypeRead\", \"OpCode\": 2, "
            "\"OpCodeName\": \"CmdFwVer\", \"EndCode\": 0, \"EndCodeName\": \"ErrOk\", \"Data\": \"2.14\", "
            "\"Exact\": {\"Data\": \"2.14\\u0000  \"}}\n");
  EXPECT_NE(ReplyJson(r, std::nullopt, nullptr).find("\"OpTypeName\": null"), std::string::npos);
  EXPECT_NE(ReplyJson({0, 0, 1, 2, 0, u"2.14"}, std::nullopt, nullptr).find("\"Exact\": {}}"), std::string::npos);
}

// query --repeat's report, at its end or stopped by Ctrl+C, with or without a reply.
TEST(CliReport, RepeatedQueryReport) {
  const Reply r{0, 0, 1, 2, 9, u"x"};
  RoundTrips some = Summarize({2.0, 1.0, 4.0});
  some.failed = 1;
  some.stoppedOf = 1000;
  RoundTrips none;
  none.runs = none.failed = 1;
  const struct {
    std::optional<Reply> last;
    RoundTrips timing;
    bool json;
    std::string report;  // its end
  } cases[] = {
      {r, some, false,
       "Data:     x\nstopped by Ctrl+C after 3 of 1000 queries, 1 failed; round trip min 1.000 ms, median 2.000 ms, "
       "max 4.000 ms\n"},
      {r, some, true,
       "\"RoundTripMs\": {\"runs\": 3, \"failed\": 1, \"stopped\": true, \"min\": 1.000, \"median\": 2.000, "
       "\"max\": 4.000}}\n"},
      {std::nullopt, none, false, "^1 query, 1 failed\n"},
      {std::nullopt, none, true,
       "^{\"RoundTripMs\": {\"runs\": 1, \"failed\": 1, \"stopped\": false, \"min\": null, \"median\": null, "
       "\"max\": null}}\n"},
  };
  for (const auto& c : cases) {
    const std::string out = RepeatReport(c.last, c.timing, nullptr, c.json);
    if (c.report.starts_with("^"))
      EXPECT_EQ(out, c.report.substr(1));
    else
      EXPECT_TRUE(out.ends_with(c.report)) << out;
  }
}

TEST(CliReport, DeviceNamedBySerialIndexOrPath) {
  const std::u16string path(u"\\\0\\\0?\0\\\0U\0s\0b\0\0\0\0", 18);
  std::vector<Instrument> list(5);
  list[0] = {1, true, u"", std::u16string(u"S1\0", 3), u"", u"", path, u"\\\\?\\Usb", 0, 0, 0, {}};
  list[1] = {2, true, u"", u"3", u"", u"", u"p2", u"p2", 0, 0, 0, {}};
  list[2] = Unusable(3, u"p3");
  list[3] = {4, true, u"", u"ab", u"", u"", u"p4", u"p4", 0, 0, 0, {}};
  list[4] = {5, true, u"", u"AB", u"", u"", u"p5", u"p5", 0, 0, 0, {}};
  const struct {
    std::u16string_view device;
    Found how;
    int index;
  } cases[] = {{u"S1", Found::Usable, 1}, {u"s1", Found::Usable, 1},   {u"3", Found::Usable, 2},
               {u"2", Found::Usable, 2},  {u"1", Found::Usable, 1},    {u"\\\\?\\usb", Found::Usable, 1},
               {path, Found::Usable, 1},  {u"3 ", Found::Missing, 0},  {u"p3", Found::Unusable, 3},
               {u"AB", Found::Usable, 5}, {u"ab", Found::Usable, 4},   {u"Ab", Found::Ambiguous, 0},
               {u"6", Found::Missing, 0}, {u"0x1", Found::Missing, 0}, {u"", Found::Missing, 0}};
  for (const auto& c : cases) {
    const Match match = FindInstrument(list, c.device);
    EXPECT_EQ(match.how, c.how) << Utf8(c.device);
    EXPECT_EQ(match.instrument ? match.instrument->index : 0, c.index) << Utf8(c.device);
  }
  EXPECT_TRUE(IsDevicePath(u"\\\\?\\usb#x"));
  EXPECT_TRUE(IsDevicePath(u"\\\\.\\pipe"));
  EXPECT_FALSE(IsDevicePath(u"DEMO3001"));
}

TEST(CliReport, WatchSeesComingGoingAndTakenByPath) {
  const Instrument a = Sample();
  Instrument b = a;
  b.index = 2;
  b.path = b.plainPath = u"pb";
  b.serial = u"B";
  const Stamp at{2026, 12, 8, 9, 5, 7};
  auto marks = [&](std::vector<Instrument> before, std::vector<Instrument> now) {
    std::string out;
    for (const auto& change : Compare(before, now)) out += ChangeLine(change, at, false);
    return out;
  };
  EXPECT_EQ(marks({}, {a}), "09:05:07 + 1 LDI-3001 DEMO3001 2.14 0x3001 2\n");
  EXPECT_EQ(marks({a, b}, {b}), "09:05:07 - 1 LDI-3001 DEMO3001 2.14 0x3001 2\n");
  EXPECT_EQ(marks({a, b}, {a, Unusable(2, u"pb")}), "09:05:07 ! 2 LDI-3001 B 2.14 0x3001 2 in use or not answering\n");
  EXPECT_EQ(marks({a, Unusable(2, u"pb")}, {a, b}), "09:05:07 + 2 LDI-3001 B 2.14 0x3001 2\n");
  EXPECT_EQ(marks({}, {Unusable(2, u"pb")}), "09:05:07 ! 2 in use or not answering: pb\n");
  EXPECT_EQ(marks({Unusable(2, u"pb")}, {}), "09:05:07 - 2 pb\n");
  EXPECT_EQ(marks({a}, {a}), "");
  std::vector<Instrument> now = {Unusable(2, u"pb")};
  const auto changes = Compare({b}, now);
  EXPECT_EQ(now[0].serial, u"B");  // what was known stays known while it is taken
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(ChangeLine(changes[0], at, true)
                  .starts_with("{\"Time\": \"2026-12-08T09:05:07\", \"Event\": \"unavailable\", \"Instrument\": {"));
}

}  // namespace
}  // namespace velcorin::cli
