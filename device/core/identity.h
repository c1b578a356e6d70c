// The identity query that opening a device runs: six read commands, then one
// description request per channel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/packet_fields.h"

namespace velcorin {

// Each field is set only once the query has got that far, so that after a
// RuntimeError the caller can copy exactly what was filled in.
struct Identity {
  std::optional<std::u16string> modelNumber;
  std::optional<std::u16string> serialNumber;
  std::optional<std::u16string> firmwareVersion;
  std::optional<std::int32_t> productId;
  std::optional<std::int32_t> channelCount;
  std::optional<std::u16string> description;
  // Channel i's name at index i - 1; empty where the channel did not answer.
  std::optional<std::vector<std::u16string>> channelNames;
};

// Largest channel count the query walks; a larger one is an overflow.
inline constexpr std::int32_t kMaxChannelCount = 32767;
// Consecutive unanswered channel requests after which the rest are not asked.
inline constexpr int kChannelFailuresBeforeGivingUp = 3;

// False, with `out` untouched, when any of the six identity exchanges failed
// (all six are always sent). Otherwise fills `out` in order: model, serial,
// firmware, product id, channel count, description, channel names.
// RuntimeError 13/6 for a product id or channel count that is not a 32-bit
// number, 9 for a negative count, 6 for a count above kMaxChannelCount.
bool QueryDeviceInfo(PacketPort& port, Identity& out);

}  // namespace velcorin
