#include <gtest/gtest.h>

#include <string>

#include "common/runtime_error.h"
#include "wire/report.h"

namespace velcorin {
namespace {

CommandReport Build(const PacketFields& packet) { return BuildCommandReport(packet, Latin1EncodeChar); }

TEST(CommandReport, HeaderFieldsAreLittleEndianAndEndCodeIsNotSent) {
  CommandReport fresh{};
  fresh[8] = 1;
  EXPECT_EQ(Build(PacketFields{}), fresh);

  PacketFields packet;
  packet.devType = -1;
  packet.channel = 0x01020304;
  packet.opCode = 14;
  packet.endCode = 9;
  CommandReport expected{0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 1, 0, 0, 0, 0x0E};
  EXPECT_EQ(Build(packet), expected);
}

TEST(CommandReport, DataFieldTakesAtMost17Characters) {
  for (std::size_t length : {0, 3, 17, 25}) {
    PacketFields packet;
    for (std::size_t i = 0; i < length; ++i) packet.data.push_back(u'A' + i);
    const CommandReport report = Build(packet);
    for (std::size_t i = 0; i < 20; ++i) {
      EXPECT_EQ(report[16 + i], i < length && i < 17 ? 'A' + i : 0) << "length " << length << " offset " << 16 + i;
    }
  }
}

TEST(CommandReport, CharactersGoThroughTheCodePage) {
  PacketFields packet;
  packet.data = u"\u00E9\u4E00";
  const CommandReport report = Build(packet);
  EXPECT_EQ(report[16], 0xE9);
  EXPECT_EQ(report[17], '?');

  // A double-byte character is an overflow, but only among the first 17.
  const AnsiEncoder doubleByte = [](char16_t unit) { return unit == u'\u4E00' ? 0x88EA : Latin1EncodeChar(unit); };
  packet.data = std::u16string(17, u'x') + u'\u4E00';
  EXPECT_NO_THROW(BuildCommandReport(packet, doubleByte));
  packet.data.erase(0, 1);
  try {
    BuildCommandReport(packet, doubleByte);
    FAIL() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number, kErrOverflow);
  }
}

TEST(ReplyReport, AppliesEveryFieldAndKeepsZeroBytes) {
  ReplyReport reply{0xFE, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 1, 0, 0, 0, 0x2A, 0, 0, 0, 9, 0, 0, 0, 'O', 'K'};
  reply[37] = 'X';  // fill bytes are not looked at
  PacketFields packet;
  packet.data = u"previous";
  ApplyReplyReport(reply, packet, Latin1DecodeBytes);
  EXPECT_EQ(packet.devType, -2);
  EXPECT_EQ(packet.channel, 2);
  EXPECT_EQ(packet.opType, 1);
  EXPECT_EQ(packet.opCode, 42);
  EXPECT_EQ(packet.endCode, 9);
  EXPECT_EQ(packet.data, u"OK" + std::u16string(15, u'\0'));
}

}  // namespace
}  // namespace velcorin
