// Entering and leaving the instrument's password-guarded calibration mode.
// The instrument judges the password; these only carry it and read the verdict.
#pragma once

#include <cstddef>
#include <string_view>

#include "wire/packet_fields.h"

namespace velcorin {

inline constexpr std::size_t kMaxPasswordLength = 16;

// True when the exchange succeeded and the reply's EndCode is ErrOk. Only the
// first 16 characters of the password are sent. RuntimeError from the port
// (a character that does not fit in one byte) propagates.
bool EnterCalMode(PacketPort& port, std::u16string_view passwd);
bool ExitCalMode(PacketPort& port);

}  // namespace velcorin
