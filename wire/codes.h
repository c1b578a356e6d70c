// Op codes, op types and end codes that the component sends or reads, and the
// simulated firmware answers with.
// Kept in their own namespace so they never meet the type library's enums;
// the Windows side checks each against the library's header.
#pragma once

#include <cstdint>

// X(name, value) for each code: one list for the constants and their check.
#define VELCORIN_PACKET_CODES(X) \
  X(CmdModel, 0)                 \
  X(CmdSerial, 1)                \
  X(CmdFwVer, 2)                 \
  X(CmdDevType, 3)               \
  X(CmdChanCt, 4)                \
  X(CmdDevDesc, 6)               \
  X(CmdPasswd, 14)               \
  X(CmdRevert, 15)               \
  X(TypeRead, 1)                 \
  X(TypeWrite, 2)                \
  X(ErrOk, 0)                    \
  X(ErrChannel, 2)               \
  X(ErrOpType, 3)

namespace velcorin::codes {

#define VELCORIN_DEFINE_CODE(name, value) inline constexpr std::int32_t name = value;
VELCORIN_PACKET_CODES(VELCORIN_DEFINE_CODE)
#undef VELCORIN_DEFINE_CODE

}  // namespace velcorin::codes
