#include "device/core/calibration.h"

#include <string>

#include "common/defs.h"

namespace velcorin {
namespace {

bool SendWriteCommand(PacketPort& port, std::int32_t opCode, std::u16string data) {
  PacketFields packet;
  packet.opType = codes::TypeWrite;
  packet.opCode = opCode;
  packet.data = std::move(data);
  return port.Query(packet) && packet.endCode == codes::ErrOk;
}

}  // namespace

bool EnterCalMode(PacketPort& port, std::u16string_view passwd) {
  const std::size_t length = MinOf(kMaxPasswordLength, passwd.size());
  return SendWriteCommand(port, codes::CmdPasswd, std::u16string(passwd.substr(0, length)));
}

bool ExitCalMode(PacketPort& port) { return SendWriteCommand(port, codes::CmdRevert, std::u16string()); }

}  // namespace velcorin
