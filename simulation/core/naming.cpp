#include "simulation/core/naming.h"

#include <algorithm>
#include <cstdio>

#include "common/defs.h"

namespace velcorin::sim {
namespace {

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
  return text;
}

// USB\VID_6A5B&PID_: every family device's id starts so.
std::string FamilyDeviceIdPrefix() { return "USB\\VID_" + Hex4(static_cast<unsigned>(kFamilyVendorId)) + "&PID_"; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLowerHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }

// What a device instance may be called, in lower case, in its key and in the interface path.
bool IsInstanceChar(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || c == '_' || c == '-' || c == '.' || c == '&';
}

// Takes `count` lower-case hex digits off the front.
bool TakeHex(std::string_view& text, std::size_t count) {
  if (text.size() < count || !std::all_of(text.begin(), text.begin() + count, IsLowerHexDigit)) return false;
  text.remove_prefix(count);
  return true;
}

}  // namespace

std::string ToLowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

std::string InterfaceClassGuid() {
  std::string guid;
  for (const char16_t* p = kInterfaceClassGuid; *p != u'\0'; ++p) guid += static_cast<char>(*p);
  return guid;
}

std::string DeviceIdKey(const InstrumentConfig& config) {
  if (!config.devicePath.empty()) {
    const std::string instance = InstanceId(config);
    return instance.substr(0, instance.rfind('\\'));
  }
  return FamilyDeviceIdPrefix() + Hex4(config.ProductId());
}

// A replayed instrument's instance id is spelled out by its path: \\?\<instance, \ as #>#{guid}.
std::string InstanceId(const InstrumentConfig& config) {
  if (config.devicePath.empty()) return DeviceIdKey(config) + "\\" + config.serial;
  std::string instance = config.devicePath.substr(4, config.devicePath.rfind('#') - 4);
  std::replace(instance.begin(), instance.end(), '#', '\\');
  return instance;
}

bool IsInterfacePath(std::string_view path) {
  return path.starts_with("\\\\?\\") && path.find('\\', 4) == std::string_view::npos;
}

bool IsFamilyPath(std::string_view path) {
  const std::string lower = ToLowerAscii(std::string(path));
  std::string head = "\\\\?\\" + ToLowerAscii(FamilyDeviceIdPrefix());
  std::replace(head.begin() + 4, head.end(), '\\', '#');
  const std::string tail = "#" + ToLowerAscii(InterfaceClassGuid());
  if (lower.size() < head.size() + tail.size() || !lower.starts_with(head) || !lower.ends_with(tail)) return false;
  std::string_view rest = std::string_view(lower).substr(head.size(), lower.size() - head.size() - tail.size());
  if (!TakeHex(rest, 4)) return false;
  // One interface of a composite device.
  if (rest.starts_with("&mi_")) {
    rest.remove_prefix(4);
    if (!TakeHex(rest, 2)) return false;
  }
  if (!rest.starts_with('#')) return false;
  rest.remove_prefix(1);
  return !rest.empty() && std::all_of(rest.begin(), rest.end(), IsInstanceChar);
}

std::string FamilyDescription() {
  return "vendor id " + Hex4(static_cast<unsigned>(kFamilyVendorId)) + ", interface class " + InterfaceClassGuid();
}

std::string InterfaceKeyName(const InstrumentConfig& config) {
  std::string name = "##?#" + InstanceId(config) + "#" + InterfaceClassGuid();
  std::replace(name.begin() + 4, name.end(), '\\', '#');
  return name;
}

std::string DevicePath(const InstrumentConfig& config) {
  return "\\\\?\\" + ToLowerAscii(InterfaceKeyName(config).substr(4));
}

bool IsInterfaceKeyOf(const std::string& keyName, const std::string& serial) {
  InstrumentConfig sample;
  sample.serial = serial;
  const std::string expected = ToLowerAscii(InterfaceKeyName(sample));
  const std::string actual = ToLowerAscii(keyName);
  const std::size_t pidDigits = expected.find("&pid_") + 5;
  return actual.size() == expected.size() && actual.compare(0, pidDigits, expected, 0, pidDigits) == 0 &&
         actual.compare(pidDigits + 4, std::string::npos, expected, pidDigits + 4, std::string::npos) == 0;
}

}  // namespace velcorin::sim
