// The simulated firmware and its configuration, without any pipes.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "simulation/core/config.h"
#include "simulation/core/instrument_set.h"
#include "simulation/core/log_line.h"
#include "simulation/core/naming.h"
#include "simulation/core/responder.h"

namespace velcorin::sim {
namespace {

constexpr char kTwoChannelDriver[] = R"(
; a comment
[driver]
model = LDD 3001
serial = SN0001
firmware = 1.02
type = 0x3001
channels = 2
description = Laser diode driver
channel1 = Laser A
channel2 = "  Laser B  "
password = secret
wrong_password_code = 7
)";

std::vector<std::uint8_t> Request(std::int32_t devType, std::int32_t channel, std::int32_t opType, std::int32_t opCode,
                                  std::string data = {}) {
  std::vector<std::uint8_t> bytes(kCommandReportSize, 0);
  const std::int32_t fields[] = {devType, channel, opType, opCode};
  for (int f = 0; f < 4; ++f) {
    for (int i = 0; i < 4; ++i)
      bytes[f * 4 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(fields[f]) >> (8 * i));
  }
  std::copy_n(data.begin(), std::min(data.size(), kReportDataSize), bytes.begin() + kCommandDataOffset);
  return bytes;
}

std::int32_t Field(const Reply& reply, std::size_t offset) {
  return static_cast<std::int32_t>(reply.bytes[offset] | reply.bytes[offset + 1] << 8 | reply.bytes[offset + 2] << 16 |
                                   static_cast<std::uint32_t>(reply.bytes[offset + 3]) << 24);
}

std::string Data(const Reply& reply) {
  return std::string(reply.bytes.begin() + kReplyDataOffset, reply.bytes.begin() + kReplyDataOffset + kReportDataSize);
}

std::string Padded(std::string text, char fill = ' ') {
  text.resize(kReportDataSize, fill);
  return text;
}

InstrumentConfig Parse(const std::string& text) {
  auto configs = ParseConfig(text);
  EXPECT_EQ(configs.size(), 1u);
  return configs.at(0);
}

TEST(SimConfig, ReadsAnInstrument) {
  const InstrumentConfig config = Parse(kTwoChannelDriver);
  EXPECT_EQ(config.section, "driver");
  EXPECT_EQ(config.model, "LDD 3001");
  EXPECT_EQ(config.typeCode, 0x3001);
  EXPECT_EQ(config.channelCount, 2);
  EXPECT_EQ(config.ChannelName(2), "  Laser B  ");
  EXPECT_EQ(config.ChannelName(3), "Channel 3");
  EXPECT_EQ(config.wrongPasswordCode, 7);
  EXPECT_EQ(InstanceId(config), "USB\\VID_6A5B&PID_3001\\SN0001");
  EXPECT_EQ(DevicePath(config), "\\\\?\\usb#vid_6a5b&pid_3001#sn0001#{f27100c7-a139-4c98-9e18-70208a118c03}");
}

TEST(SimConfig, RecognisesInterfaceKeysOfASerial) {
  const std::string guid = "{F27100C7-A139-4C98-9E18-70208A118C03}";
  EXPECT_TRUE(IsInterfaceKeyOf("##?#USB#VID_6A5B&PID_0999#SN0001#" + guid, "sn0001"));
  EXPECT_TRUE(IsInterfaceKeyOf("##?#usb#vid_6a5b&pid_3001#sn0001#" + ToLowerAscii(guid), "SN0001"));
  EXPECT_FALSE(IsInterfaceKeyOf("##?#USB#VID_6A5B&PID_0999#SN00012#" + guid, "SN0001"));
  EXPECT_FALSE(IsInterfaceKeyOf("##?#USB#VID_1234&PID_0999#SN0001#" + guid, "SN0001"));
  EXPECT_FALSE(IsInterfaceKeyOf("##?#USB#VID_6A5B&PID_0999#SN0001#{00000000-0000-0000-0000-000000000000}", "SN0001"));
}

// Only the family's interfaces may be simulated: a replayed path becomes registry keys.
TEST(SimConfig, TellsTheFamilysInterfacePathsFromOthers) {
  const std::string guid = "#{f27100c7-a139-4c98-9e18-70208a118c03}";
  const struct {
    std::string path;
    bool interface, family;
  } cases[] = {
      {"\\\\?\\usb#vid_6a5b&pid_3001#sn0001" + guid, true, true},
      {"\\\\?\\USB#VID_6A5B&PID_3001#SN0001#{F27100C7-A139-4C98-9E18-70208A118C03}", true, true},
      {"\\\\?\\usb#vid_6a5b&pid_3001&mi_00#6&1a2b3c&0&0000" + guid, true, true},
      {"\\\\?\\k4canary#dev#0001" + guid, true, false},
      {"\\\\?\\usb#vid_1234&pid_3001#sn0001" + guid, true, false},
      {"\\\\?\\hid#vid_6a5b&pid_3001#sn0001" + guid, true, false},
      {"\\\\?\\usb#vid_6a5b&pid_3001#sn0001#{00000000-0000-0000-0000-000000000000}", true, false},
      {"\\\\?\\usb#vid_6a5b&pid_300g#sn0001" + guid, true, false},
      {"\\\\?\\usb#vid_6a5b&pid_30011#sn0001" + guid, true, false},
      {"\\\\?\\usb#vid_6a5b&pid_3001&mi_0#sn0001" + guid, true, false},
      {"\\\\?\\usb#vid_6a5b&pid_3001#" + guid, true, false},
      {"\\\\?\\usb#vid_6a5b&pid_3001#a#b" + guid, true, false},
      {"\\\\?\\usb#vid_6a5b&pid_3001#a b" + guid, true, false},
      {"\\\\?\\usb#vid_6a5b&pid_3001#sn0001" + guid + "x", true, false},
      {"\\\\?\\usb#vid_6a5b&pid_3001#..\\..\\sn0001" + guid, false, false},
      {"\\\\.\\usb#vid_6a5b&pid_3001#sn0001" + guid, false, false},
      {"C:\\k4\\file.bin", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsInterfacePath(c.path), c.interface) << c.path;
    EXPECT_EQ(IsFamilyPath(c.path), c.family) << c.path;
  }
}

TEST(SimConfig, QuotedValuesTakeEscapes) {
  const auto config = Parse("[x]\nserial=A\ndevtype_text=\"1\\x002\\\\\\\"\"\nchanct_text=\"\"\n");
  EXPECT_EQ(config.devTypeText, std::string("1\0"
                                            "2\\\"",
                                            5));
  EXPECT_EQ(config.chanCtText, "");
}

TEST(SimConfig, RejectsMistakesWithTheirLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[a]\nmodel = x\n", "line 1: [a] needs a serial"},
      {"[a]\nserial = S 1\n", "needs a serial"},
      {"[a]\nserial = S1\n[b]\nserial = s1\n", "line 3: serial s1 used twice"},
      {"[a]\nserial = S1\ncolour = red\n", "line 3: unknown key colour"},
      {"[a]\nserial = S1\ntype = 0x\n", "line 3: not a number"},
      {"[a]\nserial = S1\ntype = 99999999999999999999\n", "not a number"},
      {"serial = S1\n", "line 1: key before the first [section]"},
      {"[a]\nserial = S1\nmodel = \"x\\q\"\n", "unknown escape"},
      {"[a]\nserial = S1\nmodel = \"x\n", "missing closing quote"},
      {"[a]\nserial = S1\npadding = tabs\n", "padding is spaces or zeros"},
      {"[a]\nserial = S1\nchannel0 = x\n", "bad channel key"},
      {"[a]\nserial = S1\nfail_transfers = 1, 0\n", "not a number in range"},
      {"[a]\nserial = S1\nrandom_sizes = yes\n", "random_sizes needs random_replies"},
      {"[a]\nserial = S1\nunplug_after = 0\n", "line 3: not a number in range"},
      {"[a]\nserial = S1\nrandom_seed = -1\n", "line 3: not a number in range"},
  };
  for (const auto& c : cases) {
    try {
      ParseConfig(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const ConfigError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
}

TEST(SimResponder, AnswersIdentityCommands) {
  const InstrumentConfig config = Parse(kTwoChannelDriver);
  const struct {
    std::int32_t opCode, channel, endCode;
    std::string data;
  } cases[] = {
      {0, 0, 0, Padded("LDD 3001")},
      {1, 0, 0, Padded("SN0001")},
      {2, 0, 0, Padded("1.02")},
      {3, 0, 0, Padded("12289")},
      {4, 0, 0, Padded("2")},
      {6, 0, 0, Padded("Laser diode driver")},
      {6, 1, 0, Padded("Laser A")},
      {6, 2, 0, Padded("  Laser B  ")},
      {6, 3, 2, std::string(kReportDataSize, '\0')},
      {6, -1, 2, std::string(kReportDataSize, '\0')},
  };
  Responder responder(config);
  for (const auto& c : cases) {
    const Reply reply = responder.Answer(Request(0, c.channel, 1, c.opCode));
    EXPECT_EQ(reply.kind, ReplyKind::Report);
    EXPECT_EQ(Field(reply, 16), c.endCode) << "op code " << c.opCode << " channel " << c.channel;
    EXPECT_EQ(Data(reply), c.data) << "op code " << c.opCode << " channel " << c.channel;
  }
}

TEST(SimResponder, EchoesTheRequestHeader) {
  Responder responder(Parse(kTwoChannelDriver));
  const Reply reply = responder.Answer(Request(-5, 1, 1, 6));
  EXPECT_EQ(Field(reply, 0), -5);
  EXPECT_EQ(Field(reply, 4), 1);
  EXPECT_EQ(Field(reply, 8), 1);
  EXPECT_EQ(Field(reply, 12), 6);
  EXPECT_EQ(reply.bytes[37] | reply.bytes[38] | reply.bytes[39], 0);
}

TEST(SimResponder, PadsWithZerosAndCutsLongTexts) {
  const auto config = Parse("[x]\nserial=A\npadding=zeros\nmodel=ABC\ndescription=12345678901234567890\n");
  Responder responder(config);
  EXPECT_EQ(Data(responder.Answer(Request(0, 0, 1, 0))), Padded("ABC", '\0'));
  EXPECT_EQ(Data(responder.Answer(Request(0, 0, 1, 6))), "12345678901234567");
}

TEST(SimResponder, UsesRawTextsForTypeAndCount) {
  const auto config = Parse("[x]\nserial=A\npadding=zeros\ndevtype_text=\"\"\nchanct_text=\" 4x\"\n");
  Responder responder(config);
  EXPECT_EQ(Data(responder.Answer(Request(0, 0, 1, 3))), std::string(kReportDataSize, '\0'));
  EXPECT_EQ(Data(responder.Answer(Request(0, 0, 1, 4))), Padded(" 4x", '\0'));
}

TEST(SimResponder, JudgesThePassword) {
  const InstrumentConfig config = Parse(kTwoChannelDriver);
  const struct {
    std::int32_t opType, opCode;
    std::string data;
    std::int32_t endCode;
    bool calMode;
  } steps[] = {
      {2, 14, "secrets", 7, false}, {2, 14, "secret", 0, true},
      {2, 14, "wrong", 7, true},  // a wrong try does not end calibration
      {2, 15, "", 0, false},        {1, 14, "secret", 3, false},
      {2, 14, "", 7, false},
  };
  Responder responder(config);
  for (const auto& step : steps) {
    const Reply reply = responder.Answer(Request(0, 0, step.opType, step.opCode, step.data));
    EXPECT_EQ(Field(reply, 16), step.endCode) << step.data;
    EXPECT_EQ(responder.InCalMode(), step.calMode) << step.data;
  }
}

TEST(SimResponder, EchoesTheDataOfOtherCommands) {
  Responder responder(Parse(kTwoChannelDriver));
  const Reply reply = responder.Answer(Request(3, 1, 2, 42, "12345678901234567"));
  EXPECT_EQ(Field(reply, 16), 0);
  EXPECT_EQ(Data(reply), "12345678901234567");
  EXPECT_EQ(Field(responder.Answer(Request(0, 0, 2, 0)), 16), 3);  // identity is read-only
}

TEST(SimResponder, ReadsMissingBytesOfAShortRequestAsZero) {
  Responder responder(Parse(kTwoChannelDriver));
  const std::vector<std::uint8_t> request = {7, 0, 0, 0, 0, 0, 0, 0, 1};
  const Reply reply = responder.Answer(request);
  EXPECT_EQ(Field(reply, 0), 7);
  EXPECT_EQ(Data(reply), Padded("LDD 3001"));
}

std::vector<ReplyKind> Kinds(Responder& responder, int count, std::int32_t channel = 0) {
  std::vector<ReplyKind> kinds;
  for (int i = 0; i < count; ++i) kinds.push_back(responder.Answer(Request(0, channel, 1, 6)).kind);
  return kinds;
}

TEST(SimResponder, InjectsFaultsPerConnection) {
  using enum ReplyKind;
  const struct {
    const char* keys;
    std::vector<ReplyKind> kinds;
  } cases[] = {
      {"silent = yes", {None, None, None}},
      {"fail_transfers = 2", {Report, None, Report}},
      {"fail_transfers = 1,3\nfail_mode = empty", {Empty, Report, Empty}},
  };
  for (const auto& c : cases) {
    const auto config = Parse(std::string("[x]\nserial=A\n") + c.keys + "\n");
    Responder responder(config);
    EXPECT_EQ(Kinds(responder, 3), c.kinds) << c.keys;
    responder.StartConnection();
    EXPECT_EQ(Kinds(responder, 3), c.kinds) << c.keys << " after reconnecting";
  }
}

TEST(SimResponder, CanLeaveChannelQueriesUnanswered) {
  const auto config = Parse("[x]\nserial=A\nchannels=32767\nanswer_channels=no\n");
  Responder responder(config);
  EXPECT_EQ(responder.Answer(Request(0, 0, 1, 6)).kind, ReplyKind::Report);
  EXPECT_EQ(responder.Answer(Request(0, 32767, 1, 6)).kind, ReplyKind::None);
}

TEST(SimResponder, DelaysChosenReplies) {
  const auto config = Parse("[x]\nserial=A\ndelay_ms=250\ndelay_transfers=2\n");
  Responder responder(config);
  EXPECT_EQ(responder.Answer(Request(0, 0, 1, 0)).delayMs, 0u);
  EXPECT_EQ(responder.Answer(Request(0, 0, 1, 0)).delayMs, 250u);
  EXPECT_EQ(responder.Answer(Request(0, 0, 1, 0)).delayMs, 0u);
}

std::vector<Reply> Replies(Responder& responder, int count) {
  std::vector<Reply> replies;
  for (int i = 0; i < count; ++i) replies.push_back(responder.Answer(Request(0, 0, 1, 0)));
  return replies;
}

bool SameReplies(const std::vector<Reply>& a, const std::vector<Reply>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].bytes != b[i].bytes) return false;
  }
  return true;
}

TEST(SimResponder, RandomRepliesRepeatForTheSameSeed) {
  const auto seven = Parse("[x]\nserial=A\nrandom_replies=yes\nrandom_seed=7\n");
  const auto eight = Parse("[x]\nserial=A\nrandom_replies=yes\nrandom_seed=8\n");
  Responder first(seven), second(seven), other(eight);
  const auto replies = Replies(first, 20);
  EXPECT_TRUE(SameReplies(replies, Replies(second, 20)));
  EXPECT_FALSE(SameReplies(replies, Replies(other, 20)));
  first.StartConnection();
  EXPECT_TRUE(SameReplies(replies, Replies(first, 20))) << "a new connection starts the sequence again";
  for (const Reply& reply : replies) {
    EXPECT_EQ(reply.kind, ReplyKind::Report);
    EXPECT_EQ(reply.bytes.size(), kReplyReportSize);
  }
  EXPECT_NE(replies[0].bytes, replies[1].bytes);
  EXPECT_NE(Data(replies[0]), Padded("", ' '));  // not the model text
}

TEST(SimResponder, RandomSizesRunFromEmptyToOverlong) {
  const auto config = Parse("[x]\nserial=A\nrandom_replies=yes\nrandom_sizes=yes\n");
  Responder responder(config);
  int empty = 0, shorter = 0, full = 0, longer = 0;
  for (const Reply& reply : Replies(responder, 2000)) {
    ASSERT_LE(reply.bytes.size(), kMaxRandomReplySize);
    const std::size_t size = reply.bytes.size();
    EXPECT_EQ(reply.kind, size == 0 ? ReplyKind::Empty : ReplyKind::Report);
    (size == 0 ? empty : size < kReplyReportSize ? shorter : size == kReplyReportSize ? full : longer)++;
  }
  EXPECT_GT(empty, 0);
  EXPECT_GT(shorter, 0);
  EXPECT_GT(full, 0);
  EXPECT_GT(longer, 0);
}

TEST(SimResponder, RandomRepliesOnlyForChosenTransfers) {
  const auto config = Parse("[x]\nserial=A\nmodel=M1\nrandom_replies=yes\nrandom_transfers=2\n");
  Responder responder(config);
  const auto replies = Replies(responder, 3);
  EXPECT_EQ(Data(replies[0]), Padded("M1"));
  EXPECT_NE(Data(replies[1]), Padded("M1"));
  EXPECT_EQ(Data(replies[2]), Padded("M1"));
}

TEST(SimResponder, UnplugsItselfAtTheGivenRequestOfEachConnection) {
  using enum ReplyKind;
  const auto config = Parse("[x]\nserial=A\nunplug_after=3\nsilent=yes\n");
  Responder responder(config);
  EXPECT_EQ(Kinds(responder, 4), (std::vector<ReplyKind>{None, None, Unplug, None}));
  responder.StartConnection();
  EXPECT_EQ(Kinds(responder, 3), (std::vector<ReplyKind>{None, None, Unplug}));
}

TEST(SimLogLine, RoundTripsAndMarksOddSizes) {
  const std::vector<std::uint8_t> full(kCommandReportSize, 0xA5);
  const std::vector<std::uint8_t> shortOne = {0x01, 0xFE};
  std::string hex;
  for (std::size_t i = 0; i < kCommandReportSize; ++i) hex += "A5";
  EXPECT_EQ(FormatLogLine("SN1", full), "SN1 " + hex);
  EXPECT_EQ(FormatLogLine("SN1", shortOne), "SN1 01FE short");
  EXPECT_EQ(ParseLogLine("SN1 01FE short\r\n")->bytes, shortOne);
  EXPECT_EQ(ParseLogLine(FormatLogLine("SN1", full))->bytes, full);
  EXPECT_TRUE(ParseLogLine("SN1  short")->bytes.empty());
  EXPECT_FALSE(ParseLogLine("SN1 0G"));
  EXPECT_FALSE(ParseLogLine("garbage"));
}

// Inside a process, in the simulator's time: a late reply holds back the ones
// after it, a reply the reader gave up on is read later, and one that unplugs
// itself goes from the list and breaks its handle.
TEST(SimInstrumentSet, AnswersInTheSimulatorsOrderAndTime) {
  using namespace std::chrono_literals;
  InstrumentSet set(
      ParseConfig("[b]\nserial=B\ndelay_ms=300\ndelay_transfers=1\nunplug_after=3\n"
                  "[a]\nserial=A\n"));
  const auto t0 = SimClock::now();
  const auto paths = set.PresentPaths(t0);
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_LT(paths[0], paths[1]);
  std::uint64_t session = 0, other = 0;
  ASSERT_EQ(set.Open(paths[1], t0, session), 0u);
  EXPECT_EQ(set.Open(paths[1], t0, other), kBusyError);
  std::array<std::uint8_t, kReplyReportSize> reply{};
  const auto request = Request(0, 0, 1, 1);
  EXPECT_EQ(set.Write(session, request, t0), 0u);
  EXPECT_EQ(set.Write(session, request, t0), 0u);
  EXPECT_EQ(set.Read(session, reply, t0 + 299ms).waitUntil, t0 + 300ms);
  const ReadOutcome both = set.Read(session, std::span(reply.data(), 20), t0 + 300ms);
  EXPECT_EQ(both.done, 20u);
  EXPECT_EQ(set.Read(session, reply, t0 + 300ms).done, kReplyReportSize);  // the rest, and the second's start
  EXPECT_EQ(set.Write(session, request, t0 + 400ms), 0u);
  EXPECT_EQ(set.Read(session, reply, t0 + 400ms).error, kBrokenError);
  EXPECT_EQ(set.Write(session, request, t0 + 400ms), kNoDataError);
  EXPECT_EQ(set.PresentPaths(t0 + 400ms).size(), 1u);
  set.Close(session);
  EXPECT_EQ(set.Open(paths[1], t0 + 400ms, session), kNotFoundError);
  EXPECT_EQ(set.Open(paths[0], t0 + 400ms, other), 0u);
}

}  // namespace
}  // namespace velcorin::sim
