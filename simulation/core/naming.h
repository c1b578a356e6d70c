// How a simulated instrument is named to the system: the USB-shaped device instance id,
// the interface's registry key and the device path that SetupAPI reports for it.
// Portable: no <windows.h>; all names are ASCII.
#pragma once

#include <string>
#include <string_view>

#include "simulation/core/config.h"

namespace velcorin::sim {

// {F27100C7-...} in upper case, as the registry keys carry it.
std::string InterfaceClassGuid();

// USB\VID_6A5B&PID_3001\SN0001; for a replayed instrument, what its path spells.
std::string InstanceId(const InstrumentConfig& config);

// Whether a path names a device interface at all, as SetupAPI reports one: \\?\ and no
// further backslash. A file's path does not.
bool IsInterfacePath(std::string_view path);

// Whether it is the interface of an instrument of the family, the only kind that a
// replayed instrument may appear as: \\?\usb#vid_6a5b&pid_HHHH[&mi_HH]#<instance>#{guid},
// the family's vendor id and interface class, any case; the instance of letters,
// digits, '_', '-', '.' and '&'.
bool IsFamilyPath(std::string_view path);

// "vendor id 6A5B, interface class {F27100C7-...}", for messages.
std::string FamilyDescription();

// USB\VID_6A5B&PID_3001: the parent of the instance key.
std::string DeviceIdKey(const InstrumentConfig& config);

// ##?#USB#VID_6A5B&PID_3001#SN0001#{GUID}: the interface's key under DeviceClasses\{GUID}.
std::string InterfaceKeyName(const InstrumentConfig& config);

// \\?\usb#vid_6a5b&pid_3001#sn0001#{guid}: lower case, as SetupAPI lists it.
std::string DevicePath(const InstrumentConfig& config);

// Whether a key under DeviceClasses\{GUID} is the interface of a family instrument with
// this serial number, of any type code. Case does not matter.
bool IsInterfaceKeyOf(const std::string& keyName, const std::string& serial);

std::string ToLowerAscii(std::string text);
inline std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace velcorin::sim
