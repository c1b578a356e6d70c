#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/core/device_path.h"
#include "wire/report.h"  // the Latin-1 conversions

namespace velcorin {
namespace {

const std::u16string kPath = u"\\\\?\\usb#vid_6a5b&pid_0100#sn0001#{f27100c7-a139-4c98-9e18-70208a118c03}";

// The interface detail record as the system fills it: a 4-byte size field, the
// UTF-16LE path with its terminating zero, and the extra zero byte enumeration
// allocates; the device path string is bytes 4 to the required size.
std::u16string DevicePathFromDetailRecord(const std::u16string& path) {
  const std::size_t required = 4 + 2 * (path.size() + 1);
  std::vector<std::uint8_t> buffer(required + 1, 0);
  buffer[0] = 6;
  for (std::size_t i = 0; i < path.size(); ++i) {
    buffer[4 + 2 * i] = static_cast<std::uint8_t>(path[i]);
    buffer[5 + 2 * i] = static_cast<std::uint8_t>(path[i] >> 8);
  }
  return WidenDevicePath(std::span(buffer).subspan(4), Latin1DecodeByte);
}

TEST(DevicePath, WidenedFormIsEachByteThenThreeZeros) {
  const std::u16string devPath = DevicePathFromDetailRecord(kPath);
  ASSERT_EQ(devPath.size(), 2 * kPath.size() + 3);
  for (std::size_t i = 0; i < kPath.size(); ++i) {
    EXPECT_EQ(devPath[2 * i], kPath[i]);
    EXPECT_EQ(devPath[2 * i + 1], u'\0');
  }
  EXPECT_EQ(devPath.substr(2 * kPath.size()), std::u16string(3, u'\0'));
}

TEST(DevicePath, NarrowingGivesThePathBack) {
  const std::u16string paths[] = {kPath, u"x", u""};
  for (const std::u16string& path : paths) {
    EXPECT_EQ(NarrowDevicePath(DevicePathFromDetailRecord(path), Latin1EncodeChar), path);
  }
}

TEST(DevicePath, OrdinaryOrDamagedFormsDoNotNarrowToThePath) {
  EXPECT_EQ(NarrowDevicePath(u"", Latin1EncodeChar), u"");
  EXPECT_EQ(NarrowDevicePath(u"ab", Latin1EncodeChar), u"\u6261");
  EXPECT_EQ(NarrowDevicePath(u"abc", Latin1EncodeChar), u"\u6261");
  EXPECT_NE(NarrowDevicePath(kPath, Latin1EncodeChar), kPath);
  // A double-byte character contributes lead then trail byte.
  const AnsiEncoder doubleByte = [](char16_t unit) { return unit == u'\u4E00' ? 0x88EA : Latin1EncodeChar(unit); };
  EXPECT_EQ(NarrowDevicePath(u"\u4E00", doubleByte), u"\uEA88");
}

}  // namespace
}  // namespace velcorin
