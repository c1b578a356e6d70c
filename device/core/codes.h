// Op codes, op types and end codes that the component itself sends or reads.
// Kept in their own namespace so they never meet the type library's enums.
#pragma once

#include <cstdint>

namespace velcorin::codes {

inline constexpr std::int32_t CmdModel = 0;
inline constexpr std::int32_t CmdSerial = 1;
inline constexpr std::int32_t CmdFwVer = 2;
inline constexpr std::int32_t CmdDevType = 3;
inline constexpr std::int32_t CmdChanCt = 4;
inline constexpr std::int32_t CmdDevDesc = 6;
inline constexpr std::int32_t CmdPasswd = 14;
inline constexpr std::int32_t CmdRevert = 15;

inline constexpr std::int32_t TypeRead = 1;
inline constexpr std::int32_t TypeWrite = 2;

inline constexpr std::int32_t ErrOk = 0;

}  // namespace velcorin::codes
