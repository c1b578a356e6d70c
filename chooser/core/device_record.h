// What the chooser needs of one listed device's identity record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velcorin {

struct DeviceRecord {
  std::u16string DevicePath;
  std::u16string ModelNumber;
  std::u16string SerialNumber;
  std::u16string FirmwareVersion;
  std::u16string Description;
  std::int32_t ProductID = 0;
  std::int32_t ChannelCount = 0;
  // Channel i's name at position i - 1; nullopt when the record holds no array.
  std::optional<std::vector<std::u16string>> ChannelNames;
};

}  // namespace velcorin
