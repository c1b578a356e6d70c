#include "device/core/identity.h"

#include <array>
#include <cstddef>

#include "common/runtime_error.h"
#include "device/core/text.h"

namespace velcorin {
namespace {

// Wire order of the identity commands.
enum IdentitySlot : std::size_t { kModel, kSerial, kFirmware, kChannelCount, kDeviceType, kDescription, kSlotCount };

constexpr std::array<std::int32_t, kSlotCount> kIdentityOpCodes = {
    codes::CmdModel, codes::CmdSerial, codes::CmdFwVer, codes::CmdChanCt, codes::CmdDevType, codes::CmdDevDesc};

using IdentityPackets = std::array<PacketFields, kSlotCount>;

bool SendAll(PacketPort& port, IdentityPackets& packets) {
  bool allAnswered = true;
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
    packets[slot].opCode = kIdentityOpCodes[slot];
    if (!port.Query(packets[slot])) allAnswered = false;
  }
  return allAnswered;
}

void FillFixedFields(const IdentityPackets& replies, Identity& out) {
  out.modelNumber = Trim(replies[kModel].data);
  out.serialNumber = Trim(replies[kSerial].data);
  out.firmwareVersion = Trim(replies[kFirmware].data);
  out.productId = ParseReplyNumber(replies[kDeviceType].data);
  out.channelCount = ParseReplyNumber(replies[kChannelCount].data);
  out.description = Trim(replies[kDescription].data);
}

void CheckChannelCount(std::int32_t count) {
  if (count < 0) Raise(kErrSubscript);
  if (count > kMaxChannelCount) Raise(kErrOverflow);
}

// Reuses the description packet: DevType and OpType keep what its last reply
// left in them, as instruments expect.
std::vector<std::u16string> QueryChannelNames(PacketPort& port, PacketFields& packet, std::int32_t count) {
  std::vector<std::u16string> names(static_cast<std::size_t>(count));
  int failuresInARow = 0;
  for (std::int32_t channel = 1; channel <= count; ++channel) {
    packet.channel = channel;
    packet.data.clear();
    packet.opCode = codes::CmdDevDesc;
    if (port.Query(packet)) {
      names[static_cast<std::size_t>(channel - 1)] = Trim(packet.data);
      failuresInARow = 0;
    } else if (++failuresInARow == kChannelFailuresBeforeGivingUp) {
      break;  // the instrument has gone; waiting out every channel would hang the open
    }
  }
  return names;
}

}  // namespace

bool QueryDeviceInfo(PacketPort& port, Identity& out) {
  IdentityPackets packets{};
  if (!SendAll(port, packets)) return false;
  FillFixedFields(packets, out);
  CheckChannelCount(*out.channelCount);
  out.channelNames = QueryChannelNames(port, packets[kDescription], *out.channelCount);
  return true;
}

}  // namespace velcorin
