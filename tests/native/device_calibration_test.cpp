#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/runtime_error.h"
#include "device/core/calibration.h"
#include "wire/report.h"

namespace velcorin {
namespace {

class RecordingPort : public PacketPort {
 public:
  bool transferOk = true;
  std::int32_t replyEndCode = 0;
  std::vector<CommandReport> sent;

  bool Query(PacketFields& packet) override {
    sent.push_back(BuildCommandReport(packet, Latin1EncodeChar));
    if (!transferOk) return false;
    packet = PacketFields{};
    packet.opCode = 99;
    packet.endCode = replyEndCode;
    return true;
  }
};

TEST(Calibration, RequestsOnTheWire) {
  for (std::u16string passwd : {u"", u"ABCDEFGHIJKLMNOP", u"ABCDEFGHIJKLMNOPQRST"}) {
    RecordingPort port;
    EXPECT_TRUE(EnterCalMode(port, passwd));
    CommandReport expected{0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 14};
    for (std::size_t i = 0; i < passwd.size() && i < 16; ++i) expected[16 + i] = static_cast<std::uint8_t>(passwd[i]);
    EXPECT_EQ(port.sent, std::vector<CommandReport>{expected}) << passwd.size();
  }
  RecordingPort port;
  EXPECT_TRUE(ExitCalMode(port));
  const CommandReport expected{0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 15};
  EXPECT_EQ(port.sent, std::vector<CommandReport>{expected});
}

TEST(Calibration, ResultFollowsTransferAndEndCode) {
  struct Case {
    bool transferOk;
    std::int32_t endCode;
    bool result;
  };
  for (const Case& c : {Case{true, 0, true}, Case{true, 9, false}, Case{true, -1, false}, Case{false, 0, false}}) {
    RecordingPort port;
    port.transferOk = c.transferOk;
    port.replyEndCode = c.endCode;
    EXPECT_EQ(EnterCalMode(port, u"pw"), c.result) << c.endCode;
    EXPECT_EQ(ExitCalMode(port), c.result) << c.endCode;
  }
}

TEST(Calibration, ErrorFromThePortPropagates) {
  class ThrowingPort : public PacketPort {
    bool Query(PacketFields&) override { Raise(kErrOverflow); }
  } port;
  EXPECT_THROW(EnterCalMode(port, u"x"), RuntimeError);
}

}  // namespace
}  // namespace velcorin
