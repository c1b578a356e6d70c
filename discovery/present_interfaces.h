// The family's device interfaces that the system lists as present, walked in
// the system's order, each reported as the device path string clients get.
// With simulation on, the simulated instruments present, and nothing else.
#pragma once

#include <windows.h>
// windows.h first: the system headers rely on its types.
#include <objbase.h>
#include <setupapi.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/owners.h"

namespace velcorin {

class PresentInterfaces {
 public:
  // Nothing when the class GUID does not convert or the system refuses the list.
  // Throws RuntimeError when simulation was asked for and cannot be had.
  static std::optional<PresentInterfaces> List();

  // False once the walk has passed the last interface. Otherwise `path` holds
  // the interface's device path string, or nothing when the interface has no
  // readable path (it went away between the calls).
  bool Next(std::optional<std::u16string>& path);

 private:
  PresentInterfaces(GUID interfaceClass, UniqueDeviceInfoList list) : class_(interfaceClass), list_(std::move(list)) {}
  explicit PresentInterfaces(std::vector<std::string> simulated) : class_{}, simulated_(std::move(simulated)) {}
  std::optional<std::u16string> PathOf(SP_DEVICE_INTERFACE_DATA& interfaceData) const;
  bool NextSimulated(std::optional<std::u16string>& path);

  GUID class_;
  UniqueDeviceInfoList list_;
  DWORD index_ = 0;
  std::optional<std::vector<std::string>> simulated_;
};

}  // namespace velcorin
