// The device classes the chooser knows: texts, pictures and tree keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <span>

namespace velcorin {

// "CLASS_" and the four upper-case hex digits of the 16-bit two's complement.
std::u16string MakeClassKey(std::int16_t dc);

struct DevClassInfo {
  std::int32_t SelectedImageId = 5;
  std::int32_t UnselectedImageId = 5;
  std::int16_t DeviceClass = 0;
  std::u16string Description = u"HVXUSB Compatible Device";

  void SetData(std::int16_t dc, std::u16string desc, std::int32_t imgSel, std::int32_t imgUnsel);
  std::u16string ClassKey() const { return MakeClassKey(DeviceClass); }
};

// The eleven known classes, in catalogue order, each record set through SetData.
std::vector<DevClassInfo> BuildCatalogue();

// First record of the class, or nullptr; points into the catalogue.
const DevClassInfo* FindDeviceClass(std::span<const DevClassInfo> catalogue, std::int16_t n);

}  // namespace velcorin
