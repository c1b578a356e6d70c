// What makes a simulated instrument a device to the system: the registry entries that
// SetupAPI lists as a present interface, and the object-manager link from the device
// path to the instrument's pipe.
#pragma once

#include <set>
#include <string>

#include "common/owners.h"
#include "simulation/core/config.h"

namespace velcorin::sim {

// Lists the instrument's interface as present for as long as it lives. Every key it makes
// carries a mark, and only marked keys are ever deleted; it refuses (std::runtime_error) a
// path whose keys exist without the mark: a device the system knows.
class InterfaceRegistration {
 public:
  explicit InterfaceRegistration(const InstrumentConfig& config);
  ~InterfaceRegistration();
  InterfaceRegistration(const InterfaceRegistration&) = delete;
  InterfaceRegistration& operator=(const InterfaceRegistration&) = delete;

 private:
  const InstrumentConfig& config_;
};

// \??\<device path without \\?\> -> \Device\NamedPipe\<pipe>. The link is not permanent:
// it goes with the handle, so it also marks the path as taken while this process runs.
// Throws std::runtime_error, for instance when another simulator holds the same path.
UniqueKernelHandle CreateDeviceLink(const std::string& devicePath, const std::wstring& pipeName);

// Entries that a killed simulator left behind for an instrument of this serial number,
// whatever its type code; entries of a running simulator, and keys without the
// simulator's mark, are left alone.
void RemoveStaleEntries(const std::string& serial);

// The lower-case paths of the family's interfaces that SetupAPI lists as present.
std::set<std::string> PresentDevicePaths();

}  // namespace velcorin::sim
