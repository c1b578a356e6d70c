#include "chooser/core/class_catalogue.h"

#include <algorithm>

namespace velcorin {

std::u16string MakeClassKey(std::int16_t dc) {
  static constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
  const auto bits = static_cast<std::uint16_t>(dc);
  std::u16string key = u"CLASS_";
  for (int shift = 12; shift >= 0; shift -= 4) key += kHexDigits[(bits >> shift) & 0xF];
  return key;
}

void DevClassInfo::SetData(std::int16_t dc, std::u16string desc, std::int32_t imgSel, std::int32_t imgUnsel) {
  DeviceClass = dc;
  Description = std::move(desc);
  SelectedImageId = imgSel;
  UnselectedImageId = imgUnsel;
}

namespace {

struct CatalogueRow {
  std::int16_t dc;
  const char16_t* desc;
  std::int32_t image;  // same picture selected and unselected
};

constexpr std::int32_t kWaveform = 1, kGreenBurst = 5, kRedBurst = 6, kBlueBurst = 7;

constexpr CatalogueRow kCatalogue[] = {
    {0x0000, u"Development and Diagnostics Tools", kWaveform},
    {0x0100, u"Laser Diode Driver Components", kRedBurst},
    {0x0200, u"Temperature Controller Components", kBlueBurst},
    {0x1000, u"Laser Diode Driver Modules", kRedBurst},
    {0x1100, u"Temperature Controller Modules", kBlueBurst},
    {0x2000, u"Laser Diode Driver Eval Boards", kRedBurst},
    {0x2100, u"Temperature Controller Eval Boards", kBlueBurst},
    {0x3000, u"Laser Diode Driver Instruments", kRedBurst},
    {0x3100, u"Temperature Controller Instruments", kBlueBurst},
    {0x4000, u"Hybrid/System Solutions", kGreenBurst},
    {-0x1000, u"In-House Test Fixtures", kWaveform},
};

}  // namespace

std::vector<DevClassInfo> BuildCatalogue() {
  std::vector<DevClassInfo> catalogue;
  catalogue.reserve(std::size(kCatalogue));
  for (const auto& row : kCatalogue) {
    DevClassInfo info;
    info.SetData(row.dc, row.desc, row.image, row.image);
    catalogue.push_back(std::move(info));
  }
  return catalogue;
}

const DevClassInfo* FindDeviceClass(std::span<const DevClassInfo> catalogue, std::int16_t n) {
  auto found =
      std::find_if(catalogue.begin(), catalogue.end(), [n](const DevClassInfo& info) { return info.DeviceClass == n; });
  return found == catalogue.end() ? nullptr : &*found;
}

}  // namespace velcorin
