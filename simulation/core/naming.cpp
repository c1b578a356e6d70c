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
  return "USB\\VID_" + Hex4(static_cast<unsigned>(kFamilyVendorId)) + "&PID_" + Hex4(config.ProductId());
}

// A replayed instrument's instance id is spelled out by its path: \\?\<instance, \ as #>#{guid}.
std::string InstanceId(const InstrumentConfig& config) {
  if (config.devicePath.empty()) return DeviceIdKey(config) + "\\" + config.serial;
  std::string instance = config.devicePath.substr(4, config.devicePath.rfind('#') - 4);
  std::replace(instance.begin(), instance.end(), '#', '\\');
  return instance;
}

bool IsRegistrablePath(std::string_view path) {
  if (!path.starts_with("\\\\?\\") || path.find('\\', 4) != std::string_view::npos) return false;
  const std::string_view body = path.substr(4);
  const auto guid = body.rfind('#');
  return guid != std::string_view::npos && guid > 0 && body.substr(0, guid).find('#') != std::string_view::npos &&
         body.substr(0, guid).back() != '#' && body.front() != '#';
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
