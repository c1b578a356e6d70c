// The six fields of a command packet, as a plain value.
#pragma once

#include <cstdint>
#include <string>

#include "wire/codes.h"

namespace velcorin {

struct PacketFields {
  std::int32_t devType = 0;
  std::int32_t channel = 0;
  std::int32_t opType = codes::TypeRead;
  std::int32_t opCode = codes::CmdModel;
  std::int32_t endCode = codes::ErrOk;
  std::u16string data;
};

// One request/reply exchange with an instrument: the request is sent from the
// packet and the reply is read back into the same packet. False when either
// transfer failed. May throw RuntimeError from building the request.
class PacketPort {
 public:
  virtual ~PacketPort() = default;
  virtual bool Query(PacketFields& packet) = 0;
};

}  // namespace velcorin
