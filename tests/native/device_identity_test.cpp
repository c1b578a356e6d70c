#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/runtime_error.h"
#include "device/core/identity.h"
#include "wire/report.h"

namespace velcorin {
namespace {

using namespace codes;

// An instrument at byte level: answers each request with a reply report whose
// text is looked up by (op code, channel) and padded to 17 bytes.
class ScriptedInstrument : public PacketPort {
 public:
  std::map<std::pair<std::int32_t, std::int32_t>, std::string> texts;
  std::set<std::size_t> failingExchanges;  // 0-based exchange numbers
  std::function<bool(const PacketFields&)> fails = [](const PacketFields&) { return false; };
  char pad = ' ';
  std::vector<PacketFields> requests;

  bool Query(PacketFields& packet) override {
    requests.push_back(packet);
    if (failingExchanges.count(requests.size() - 1) || fails(packet)) return false;
    ReplyReport reply{};
    reply[0] = 0x34;  // DevType 0x1234 and OpType 7 in every reply
    reply[1] = 0x12;
    reply[8] = 7;
    reply[12] = static_cast<std::uint8_t>(packet.opCode);
    const std::string text = texts[{packet.opCode, packet.channel}];
    for (std::size_t i = 0; i < kReportDataSize; ++i) reply[20 + i] = i < text.size() ? text[i] : pad;
    ApplyReplyReport(reply, packet, Latin1DecodeBytes);
    return true;
  }
};

ScriptedInstrument TwoChannelInstrument() {
  ScriptedInstrument device;
  device.texts = {{{CmdModel, 0}, " LD-5"},      {{CmdSerial, 0}, "SN 42"},   {{CmdFwVer, 0}, "  1.2.3"},
                  {{CmdChanCt, 0}, "  2"},       {{CmdDevType, 0}, "4660"},   {{CmdDevDesc, 0}, " Laser driver"},
                  {{CmdDevDesc, 1}, " Diode A"}, {{CmdDevDesc, 2}, "Diode B"}};
  return device;
}

std::int32_t RaisedError(ScriptedInstrument& device, Identity& out) {
  try {
    QueryDeviceInfo(device, out);
  } catch (const RuntimeError& e) {
    return e.number;
  }
  return 0;
}

TEST(QueryDeviceInfo, SpacePaddedTwoChannelInstrument) {
  ScriptedInstrument device = TwoChannelInstrument();
  Identity id;
  ASSERT_TRUE(QueryDeviceInfo(device, id));
  EXPECT_EQ(id.modelNumber, u"LD-5");
  EXPECT_EQ(id.serialNumber, u"SN 42");
  EXPECT_EQ(id.firmwareVersion, u"1.2.3");
  EXPECT_EQ(id.productId, 4660);
  EXPECT_EQ(id.channelCount, 2);
  EXPECT_EQ(id.description, u"Laser driver");
  EXPECT_EQ(id.channelNames, (std::vector<std::u16string>{u"Diode A", u"Diode B"}));

  const std::int32_t wireOrder[] = {CmdModel,   CmdSerial,  CmdFwVer,   CmdChanCt,
                                    CmdDevType, CmdDevDesc, CmdDevDesc, CmdDevDesc};
  ASSERT_EQ(device.requests.size(), std::size(wireOrder));
  for (std::size_t i = 0; i < device.requests.size(); ++i) {
    const PacketFields& request = device.requests[i];
    const bool perChannel = i >= 6;
    EXPECT_EQ(request.opCode, wireOrder[i]) << i;
    EXPECT_EQ(request.channel, perChannel ? static_cast<std::int32_t>(i) - 5 : 0) << i;
    EXPECT_EQ(request.data, u"") << i;
    // Per-channel requests keep DevType and OpType of the previous reply.
    EXPECT_EQ(request.opType, perChannel ? 7 : TypeRead) << i;
    EXPECT_EQ(request.devType, perChannel ? 0x1234 : 0) << i;
  }
}

TEST(QueryDeviceInfo, FailedIdentityExchangeStillSendsAllSixAndLeavesOutUntouched) {
  ScriptedInstrument device = TwoChannelInstrument();
  device.failingExchanges = {2};
  Identity id;
  EXPECT_FALSE(QueryDeviceInfo(device, id));
  EXPECT_EQ(device.requests.size(), 6u);
  EXPECT_FALSE(id.modelNumber || id.productId || id.channelNames);
}

TEST(QueryDeviceInfo, ChannelFailuresLeaveNamesEmptyAndThreeInARowStop) {
  struct Case {
    std::set<std::int32_t> failing;
    std::size_t requestsSent;
    std::vector<std::u16string> names;
  };
  const Case cases[] = {
      {{2}, 6 + 5, {u"C1", u"", u"C3", u"C4", u"C5"}},
      {{1, 2, 4, 5}, 6 + 5, {u"", u"", u"C3", u"", u""}},
      {{2, 3, 4}, 6 + 4, {u"C1", u"", u"", u"", u""}},
  };
  for (const Case& c : cases) {
    ScriptedInstrument device;
    device.texts = {{{CmdChanCt, 0}, "5"}, {{CmdDevType, 0}, "1"}};
    for (std::int32_t ch = 1; ch <= 5; ++ch) device.texts[{CmdDevDesc, ch}] = "C" + std::to_string(ch);
    device.fails = [&c](const PacketFields& p) { return p.channel > 0 && c.failing.count(p.channel) > 0; };
    Identity id;
    ASSERT_TRUE(QueryDeviceInfo(device, id));
    EXPECT_EQ(device.requests.size(), c.requestsSent);
    EXPECT_EQ(id.channelNames, c.names);
  }
}

TEST(QueryDeviceInfo, ChannelCountLimits) {
  struct Case {
    std::string count;
    std::int32_t error;
    std::size_t names;
  };
  const Case cases[] = {{"0", 0, 0}, {"32767", 0, 32767}, {"-1", kErrSubscript, 0}, {"32768", kErrOverflow, 0}};
  for (const Case& c : cases) {
    ScriptedInstrument device = TwoChannelInstrument();
    device.texts[{CmdChanCt, 0}] = c.count;
    Identity id;
    EXPECT_EQ(RaisedError(device, id), c.error) << c.count;
    EXPECT_EQ(id.description, u"Laser driver") << c.count;
    if (c.error != 0) {
      EXPECT_FALSE(id.channelNames) << c.count;
      EXPECT_EQ(device.requests.size(), 6u);
      continue;
    }
    ASSERT_TRUE(id.channelNames) << c.count;
    EXPECT_EQ(id.channelNames->size(), c.names);
    EXPECT_EQ(device.requests.size(), 6 + c.names);
    if (c.names > 0) {
      EXPECT_EQ(device.requests.back().channel, 32767);
    }
  }
}

TEST(QueryDeviceInfo, ZeroPaddedNonNumericDeviceTypeStopsAfterFirmware) {
  ScriptedInstrument device = TwoChannelInstrument();
  device.pad = '\0';
  device.texts[{CmdDevType, 0}] = "";
  Identity id;
  EXPECT_EQ(RaisedError(device, id), kErrTypeMismatch);
  EXPECT_EQ(id.modelNumber, u"LD-5" + std::u16string(12, u'\0'));  // zero bytes are not trimmed
  EXPECT_TRUE(id.serialNumber && id.firmwareVersion);
  EXPECT_FALSE(id.productId || id.channelCount || id.description || id.channelNames);
}

}  // namespace
}  // namespace velcorin
